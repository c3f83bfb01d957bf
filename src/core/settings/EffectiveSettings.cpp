// The table of settings shown with their effective values.
#include "core/settings/EffectiveSettings.h"

#include "core/services/FrontEnd.h"
#include "core/services/Policy.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <algorithm>

namespace K = SettingsKeys;

namespace {

enum class TShownAs { Number, Switch, Text, Secret };

struct TSettingRow {
    TRootKey Root;
    const QString& Key;
    const QString& Name;
    TShownAs ShownAs;
    QString DefaultText;  // what the program falls back to, in the kind it reads
};

// Texts in the .reg file's spelling, so that a value reads the same here and in an export; a
// control character would break the one-line-per-setting form.
QString Quoted(const QString& text)
{
    QString result = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'\\' || c == u'"')
            result += u'\\';
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        else
            result += c;
    }
    return result + u'"';
}

QString KeyWithoutSeparator(const QString& key)
{
    QString result = key;
    while (result.endsWith(u'\\'))
        result.chop(1);
    return result;
}

QString EffectiveValue(const TSettingRow& row)
{
    switch (row.ShownAs) {
        case TShownAs::Number:
            return QString::number(ReadIntegerValue(row.Root, row.Key, row.Name, row.DefaultText.toInt()));
        case TShownAs::Switch:
            return ReadBoolValue(row.Root, row.Key, row.Name, row.DefaultText == u"1") ? QStringLiteral("1")
                                                                                       : QStringLiteral("0");
        case TShownAs::Text:
            return Quoted(ReadStringValue(row.Root, row.Key, row.Name, row.DefaultText));
        case TShownAs::Secret:
            // Scrambled is not secret: whoever sees the stored text has the password.
            return ReadStringValue(row.Root, row.Key, row.Name, QString()).isEmpty()
                       ? QStringLiteral("\"\"")
                       : QStringLiteral("(gesetzt)");
    }
    return QString();
}

QList<TSettingRow> SettingRows()
{
    const TRootKey hkcu = HKEY_CURRENT_USER;
    const TRootKey hklm = HKEY_LOCAL_MACHINE;
    const QString number = QStringLiteral("%1");
    return {
        {hkcu, K::OnlineUpdate, K::Disable, TShownAs::Number, number.arg(K::DisableDefault)},
        {hkcu, K::OnlineUpdate, K::IntervalInHours, TShownAs::Number, number.arg(K::IntervalInHoursDefault)},
        {hkcu, K::OnlineUpdate, K::LocalSource, TShownAs::Text, QString()},
        {hkcu, K::OnlineUpdate, K::NewsAktiv, TShownAs::Switch, number.arg(int(K::NewsAktivDefault))},
        {hkcu, K::OnlineUpdate, K::UpdateURL, TShownAs::Text, K::UpdateURLDefault},
        {hkcu, K::OnlineUpdate, K::LastCheckDateTime, TShownAs::Text, K::LastCheckDateTimeDefault},
        {hkcu, K::OnlineUpdate, K::LastLocalSource, TShownAs::Text, QString()},
        {hkcu, K::OnlineUpdate, K::LastNewsID, TShownAs::Number, number.arg(K::LastNewsIDDefault)},
        {hkcu, K::Log, K::LogAktiv, TShownAs::Switch, number.arg(int(K::LogAktivDefault))},
        {hkcu, K::Proxy, K::ProxyAktiv, TShownAs::Switch, number.arg(int(K::ProxyAktivDefault))},
        {hkcu, K::Proxy, K::ProxyServer, TShownAs::Text, K::ProxyServerDefault},
        {hkcu, K::Proxy, K::ProxyPort, TShownAs::Number, number.arg(K::ProxyPortDefault)},
        {hkcu, K::Proxy, K::ProxyUsername, TShownAs::Text, QString()},
        {hkcu, K::Proxy, K::ProxyPassword, TShownAs::Secret, QString()},
        {hkcu, K::Proxy, K::UserAgent, TShownAs::Text, K::UserAgentDefault},
        {hkcu, K::Standardeinstellungen, K::TrackingOk, TShownAs::Switch,
         number.arg(int(K::TrackingOkDefault))},
        {hkcu, K::Standardeinstellungen, K::TrackingHost, TShownAs::Text, K::TrackingHostDefault},
        {hkcu, K::Standardeinstellungen, K::TrackingLastQuery, TShownAs::Text, K::TrackingLastQueryDefault},
        {hklm, K::OnlineUpdate, K::SignatureKeys, TShownAs::Text, QString()},
        {hklm, K::StdEinstellungen, K::Pfad, TShownAs::Text, K::PfadInstallerDefaultHere},
    };
}

// Why a policy value does not read as its setting's kind ("Text statt Zahl"), empty when it does.
QString WrongKind(const TSettingRow& row, const platform::TRawValue& value)
{
    const bool number = row.ShownAs == TShownAs::Number || row.ShownAs == TShownAs::Switch;
    if (number && !ReadsAsInteger(value))
        return value.kind == platform::TValueKind::Binary ? QStringLiteral("Binärwert statt Zahl")
                                                            : QStringLiteral("Text statt Zahl");
    if (!number && !ReadsAsText(value))
        return QStringLiteral("Zahl statt Text");
    return QString();
}

QString PolicyPath(TRootKey root, const QString& key, const QString& name)
{
    return (root == HKEY_CURRENT_USER ? QStringLiteral("HKCU\\") : QStringLiteral("HKLM\\")) + key +
           u'\\' + name;
}

}  // namespace

QList<TEffectiveSetting> ReadEffectiveSettings()
{
    QList<TEffectiveSetting> settings;
    for (const TSettingRow& row : SettingRows()) {
        TSettingSource source = TSettingSource::Default;
        QStringList notes;
        const TPolicySetting* policy = row.Root == HKEY_CURRENT_USER ? PolicyFor(row.Key, row.Name) : nullptr;
        if (const std::optional<TPolicyValue> value = policy ? ReadPolicyValue(*policy) : std::nullopt) {
            source = TSettingSource::Policy;
            if (!value->File.isEmpty())
                notes << QStringLiteral("aus ") + value->File;
        } else if (platform::StoreBackend::readValue(row.Root, row.Key, row.Name)) {
            source = row.Root == HKEY_CURRENT_USER ? TSettingSource::User : TSettingSource::Machine;
        }
        const QString shown = EffectiveValue(row);
        if (source == TSettingSource::Policy) {
            if (const QString wrong = WrongKind(row, ReadPolicyValue(*policy)->Value); !wrong.isEmpty())
                notes << QStringLiteral("ungültig, es gilt %1 (%2)").arg(shown, wrong);
        }
        if (row.ShownAs == TShownAs::Text && &row.Name == &K::UpdateURL &&
            IsUnencryptedAddress(ReadStringValue(row.Root, row.Key, row.Name, row.DefaultText)))
            notes << QStringLiteral("unverschlüsselt (http)");
        settings.append({row.Root, KeyWithoutSeparator(row.Key), row.Name, shown, source, notes});
    }
    return settings;
}

QString SettingSourceName(TSettingSource source)
{
    switch (source) {
        case TSettingSource::Policy:
            return QStringLiteral("Richtlinie");
        case TSettingSource::User:
            return QStringLiteral("Benutzer");
        case TSettingSource::Machine:
            return QStringLiteral("Rechner");
        case TSettingSource::Default:
            break;
    }
    return QStringLiteral("Vorgabe");
}

QString EffectiveSettingLine(const TEffectiveSetting& setting)
{
    QString line = QStringLiteral("%1 %2 = %3")
                       .arg(SettingSourceName(setting.Source), -10)
                       .arg(PolicyPath(setting.Root, setting.Key, setting.Name), setting.Value);
    if (!setting.Notes.isEmpty())
        line += QStringLiteral("  (") + setting.Notes.join(QStringLiteral("; ")) + u')';
    return line;
}

QList<TPolicyProblem> PolicyProblems()
{
    QList<TPolicyProblem> problems;
    for (const TRefusedPolicyFile& refused : RefusedPolicyFiles())
        problems.append({TPolicyProblem::TKind::RefusedFile, refused.Path,
                         refused.Reason + QStringLiteral(", wird nicht beachtet"),
                         QString()});
    for (const TPolicyEntry& entry : PolicyEntries()) {
        const bool known = entry.Root == HKEY_LOCAL_MACHINE && std::any_of(PolicySettings().cbegin(), PolicySettings().cend(), [&](const TPolicySetting& setting) {
            return entry.Name.compare(setting.Name, Qt::CaseInsensitive) == 0 &&
                   QStringView(entry.Key).compare(KeyWithoutSeparator(setting.PolicyKey), Qt::CaseInsensitive) == 0;
        });
        if (!known)
            problems.append({TPolicyProblem::TKind::UnknownValue, PolicyPath(entry.Root, entry.Key, entry.Name),
                             QStringLiteral("unbekannt, wird nicht beachtet"), entry.File});
    }
    return problems;
}

QString PolicyProblemLine(const TPolicyProblem& problem)
{
    const QString word =
        problem.Kind == TPolicyProblem::TKind::UnknownValue ? QStringLiteral("Unbekannt") : QStringLiteral("Abgelehnt");
    QString note = problem.Text;
    if (!problem.File.isEmpty())
        note += QStringLiteral("; aus ") + problem.File;
    // Names and paths come from files: nothing in them may reach the terminal as a control.
    return WithoutControlCharacters(QStringLiteral("%1 %2  (%3)").arg(word, -10).arg(problem.Where, note));
}

QString PolicyJournalText()
{
    QStringList parts;
    for (const TPolicyProblem& problem : PolicyProblems())
        parts << problem.Where + QStringLiteral(": ") +
                     (problem.Kind == TPolicyProblem::TKind::RefusedFile ? QStringLiteral("abgelehnt, ") : QString()) +
                     problem.Text;
    for (const TEffectiveSetting& setting : ReadEffectiveSettings()) {
        if (setting.Source != TSettingSource::Policy)
            continue;
        for (const QString& note : setting.Notes) {
            if (note.startsWith(QStringLiteral("ungültig")))
                parts << PolicyPath(setting.Root, setting.Key, setting.Name) + QStringLiteral(": ") + note;
        }
    }
    return parts.join(QStringLiteral("; "));
}

bool IsUnencryptedAddress(const QString& address)
{
    return address.trimmed().startsWith(QStringLiteral("http://"), Qt::CaseInsensitive);
}
