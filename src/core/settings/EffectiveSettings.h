// Every setting as the program sees it, with where its value came from: for administrators who
// want to know what is in effect on a machine for a user (`vorlandt-reg effective`).
#pragma once

#include "core/platform/store/StoreBackend.h"

#include <QList>
#include <QString>

enum class TSettingSource {
    Policy,   // the administrator's policy value under HKEY_LOCAL_MACHINE
    User,     // the user's own value
    Machine,  // a machine-wide value that has no per-user counterpart
    Default,  // nothing stored: the program's default
};

struct TEffectiveSetting {
    TRootKey Root;
    QString Key;  // as SettingsKeys spells it, without a trailing "\"
    QString Name;
    QString Value;  // numbers in decimal, texts in double quotes, a password only as "(gesetzt)"
    TSettingSource Source;
    friend bool operator==(const TEffectiveSetting&, const TEffectiveSetting&) = default;
};

// Every setting the program reads, the per-user ones first, always in the same order.
QList<TEffectiveSetting> ReadEffectiveSettings();

// "Richtlinie", "Benutzer", "Rechner" or "Vorgabe".
QString SettingSourceName(TSettingSource source);

// One line without its line end: the source padded to one width, the root and path of the
// value, " = " and the value.
QString EffectiveSettingLine(const TEffectiveSetting& setting);
