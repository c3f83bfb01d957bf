// The mapping from per-user settings to their machine-wide policy values, from the policy files
// and the machine store.
#include "core/services/Policy.h"

#include "core/platform/store/StoreBackend.h"
#include "core/services/PolicyFolder.h"
#include "core/services/SettingsKeys.h"

#include <QStringList>

namespace K = SettingsKeys;

namespace {

QStringView WithoutTrailingSeparators(const QString& key)
{
    QStringView view(key);
    while (view.endsWith(u'\\'))
        view.chop(1);
    return view;
}

}  // namespace

const QList<TPolicySetting>& PolicySettings()
{
    static const QList<TPolicySetting> settings{
        {K::OnlineUpdate, K::Disable, K::PolicyOnlineUpdate},
        {K::OnlineUpdate, K::IntervalInHours, K::PolicyOnlineUpdate},
        {K::OnlineUpdate, K::LocalSource, K::PolicyOnlineUpdate},
        {K::OnlineUpdate, K::NewsAktiv, K::PolicyOnlineUpdate},
        {K::OnlineUpdate, K::UpdateURL, K::PolicyOnlineUpdate},
        {K::Log, K::LogAktiv, K::PolicyLog},
        {K::Proxy, K::ProxyAktiv, K::PolicyProxy},
        {K::Proxy, K::ProxyServer, K::PolicyProxy},
        {K::Proxy, K::ProxyPort, K::PolicyProxy},
        {K::Proxy, K::ProxyUsername, K::PolicyProxy},
        {K::Proxy, K::ProxyPassword, K::PolicyProxy},
        {K::Proxy, K::UserAgent, K::PolicyProxy},
        {K::Standardeinstellungen, K::TrackingOk, K::PolicyTracking},
    };
    return settings;
}

const TPolicySetting* PolicyFor(const QString& userKey, const QString& name)
{
    // Every per-user read passes here, the log switch at every log line: the names rule out most
    // reads before a key is compared.
    const TPolicySetting* found = nullptr;
    for (const TPolicySetting& setting : PolicySettings()) {
        if (setting.Name.size() != name.size() || name.compare(setting.Name, Qt::CaseInsensitive) != 0)
            continue;
        if (WithoutTrailingSeparators(userKey).compare(WithoutTrailingSeparators(setting.UserKey),
                                                       Qt::CaseInsensitive) == 0) {
            found = &setting;
            break;
        }
    }
    return found;
}

std::optional<TPolicyValue> ReadPolicyValue(const TPolicySetting& setting)
{
    if (std::optional<TPolicyValue> fromFile = PolicyFileValue(setting.PolicyKey, setting.Name))
        return fromFile;
    if (std::optional<platform::TRawValue> stored =
            platform::StoreBackend::readValue(HKEY_LOCAL_MACHINE, setting.PolicyKey, setting.Name))
        return TPolicyValue{std::move(*stored), QString()};
    return std::nullopt;
}

bool IsSetByPolicy(const QString& userKey, const QString& name)
{
    const TPolicySetting* policy = PolicyFor(userKey, name);
    return policy && ReadPolicyValue(*policy).has_value();
}

QList<TPolicyEntry> PolicyEntries()
{
    QList<TPolicyEntry> entries = PolicyFileEntries();
    // The store's policy tree, key by key from the top.
    QStringList keys{WithoutTrailingSeparators(K::PolicyOnlineUpdate).toString()};
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString key = keys[i];
        if (const std::optional<QList<platform::TNamedValue>> values =
                platform::StoreBackend::values(HKEY_LOCAL_MACHINE, key)) {
            for (const platform::TNamedValue& value : *values)
                entries.append({HKEY_LOCAL_MACHINE, key, value.name, value.value, QString()});
        }
        if (const std::optional<QStringList> subKeys = platform::StoreBackend::subKeyNames(HKEY_LOCAL_MACHINE, key)) {
            for (const QString& subKey : *subKeys)
                keys.append(key + u'\\' + subKey);
        }
    }
    return entries;
}
