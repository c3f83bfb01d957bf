// Machine-wide policy: values an administrator sets below HKEY_LOCAL_MACHINE
// "Software\Policies\KRSoftware\OnlineUpdate" that take the place of a user's own setting of the
// same name for every user of the machine. The settings store's reads apply it (Registry.h).
#pragma once

#include <QList>
#include <QString>

// A per-user value that a policy may set, and where that policy value lies.
struct TPolicySetting {
    QString UserKey;    // as SettingsKeys spells it, under HKEY_CURRENT_USER
    QString Name;       // the value name, the same in both places
    QString PolicyKey;  // under HKEY_LOCAL_MACHINE
};

// Every per-user value a policy may set, in the order the settings dialog shows them. State the
// program keeps for itself (the last check, the last news item, the last local folder, the last
// consent question) is never policy.
const QList<TPolicySetting>& PolicySettings();

// The policy covering the per-user value `name` under `userKey`, or nullptr. Keys and names
// compare as the store compares them (letter case and a trailing "\" do not count).
const TPolicySetting* PolicyFor(const QString& userKey, const QString& name);

// Whether an administrator's policy value takes the place of the per-user value: the settings
// dialog shows the control locked and does not save it.
bool IsSetByPolicy(const QString& userKey, const QString& name);
