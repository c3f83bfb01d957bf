// The table of settings shown with their effective values.
#include "core/settings/EffectiveSettings.h"

#include "core/services/Policy.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

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

}  // namespace

QList<TEffectiveSetting> ReadEffectiveSettings()
{
    const TRootKey hkcu = HKEY_CURRENT_USER;
    const TRootKey hklm = HKEY_LOCAL_MACHINE;
    const QString number = QStringLiteral("%1");
    const QList<TSettingRow> rows{
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

    QList<TEffectiveSetting> settings;
    for (const TSettingRow& row : rows) {
        TSettingSource source = TSettingSource::Default;
        if (row.Root == hkcu && IsSetByPolicy(row.Key, row.Name))
            source = TSettingSource::Policy;
        else if (platform::StoreBackend::readValue(row.Root, row.Key, row.Name))
            source = row.Root == hkcu ? TSettingSource::User : TSettingSource::Machine;
        settings.append({row.Root, KeyWithoutSeparator(row.Key), row.Name, EffectiveValue(row), source});
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
    const QString root = setting.Root == HKEY_CURRENT_USER ? QStringLiteral("HKCU") : QStringLiteral("HKLM");
    return QStringLiteral("%1 %2\\%3\\%4 = %5")
        .arg(SettingSourceName(setting.Source), -10)
        .arg(root, setting.Key, setting.Name, setting.Value);
}
