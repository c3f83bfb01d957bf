// Machine-wide policy: values an administrator sets that take the place of a user's own setting
// of the same name for every user of the machine. They come from the policy files in
// /etc/vorlandt/policy.d (what configuration management deploys) and from HKEY_LOCAL_MACHINE
// "Software\Policies\KRSoftware\OnlineUpdate"; a file's value wins. The settings store's reads
// apply them (Registry.h).
#pragma once

#include "core/platform/store/StoreBackend.h"

#include <QList>
#include <QString>

#include <optional>

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

// A value of the policy and where it lies.
struct TPolicyValue {
    platform::TRawValue Value;
    QString File;  // the policy file it is set in; empty: the machine store
};

// The policy value of `setting`: the last policy file (in name order) that sets it, else the
// machine store's policy key; nullopt when neither does.
std::optional<TPolicyValue> ReadPolicyValue(const TPolicySetting& setting);

// Whether an administrator's policy value takes the place of the per-user value: the settings
// dialog shows the control locked and does not save it.
bool IsSetByPolicy(const QString& userKey, const QString& name);

// Every value the policy files and the machine store's policy key hold, in file order, then the
// store's: what `vorlandt-reg effective` checks against the settings the program knows. Values of
// a policy file outside the policy key (or under HKEY_CURRENT_USER) are there too: they are
// never heeded.
struct TPolicyEntry {
    TRootKey Root = HKEY_LOCAL_MACHINE;
    QString Key;  // without a trailing "\"
    QString Name;
    platform::TRawValue Value;
    QString File;  // empty: the machine store
};
QList<TPolicyEntry> PolicyEntries();

// The policy folder itself or a file in it that is not read, and why ("gehört nicht root (UID
// 1000)", a syntax error with its line): a policy file must be root's and writable by nobody
// else, in a folder that is root's and writable by nobody else.
struct TRefusedPolicyFile {
    QString Path;
    QString Reason;
};
QList<TRefusedPolicyFile> RefusedPolicyFiles();

// The policy folder read (/etc/vorlandt/policy.d unless the environment may move it).
QString PolicyFolderPath();
