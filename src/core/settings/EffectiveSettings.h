// Every setting as the program sees it, with where its value came from, and what is wrong with
// the policy: for administrators who want to know what is in effect on a machine for a user
// (`vorlandt-reg effective`), and for the journal of every search.
#pragma once

#include "core/platform/store/StoreBackend.h"

#include <QList>
#include <QString>
#include <QStringList>

enum class TSettingSource {
    Policy,   // the administrator's policy value: a policy file or HKEY_LOCAL_MACHINE
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
    // What an administrator should know about the value: the policy file it came from ("aus
    // /etc/vorlandt/policy.d/10-firma.reg"), a policy value of the wrong kind ("ungültig, es gilt
    // 48 (Text statt Zahl)"), an address without encryption ("unverschlüsselt (http)").
    QStringList Notes;
    friend bool operator==(const TEffectiveSetting&, const TEffectiveSetting&) = default;
};

// Every setting the program reads, the per-user ones first, always in the same order.
QList<TEffectiveSetting> ReadEffectiveSettings();

// "Richtlinie", "Benutzer", "Rechner" or "Vorgabe".
QString SettingSourceName(TSettingSource source);

// One line without its line end: the source padded to one width, the root and path of the
// value, " = " and the value, then the notes, if any, after two blanks in parentheses.
QString EffectiveSettingLine(const TEffectiveSetting& setting);

// What the program does not heed of the policy: a value it does not know ("Unbekannt"), a policy
// file or folder it does not read ("Abgelehnt").
struct TPolicyProblem {
    enum class TKind { UnknownValue, RefusedFile } Kind;
    QString Where;  // "HKLM\Software\Policies\...\Name", or the file's path
    QString Text;   // "unbekannt, wird nicht beachtet", "gehört nicht root (UID 1000), wird nicht beachtet"
    QString File;   // the policy file an unknown value is in; empty: the machine store
};
QList<TPolicyProblem> PolicyProblems();

// A problem as `vorlandt-reg effective` prints it after the settings: "Unbekannt  <where>  (<text>;
// aus <file>)", "Abgelehnt  <file>  (<reason>)".
QString PolicyProblemLine(const TPolicyProblem& problem);

// Everything the journal line of a search says about the policy: each problem and each policy
// value of the wrong kind, "; "-separated; empty when there is nothing to say.
QString PolicyJournalText();

// True when `address` is an http:// address: accepted (a closed network may mean it), but said.
bool IsUnencryptedAddress(const QString& address);
