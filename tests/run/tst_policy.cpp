// The administrator's policy against the user's own settings: every value a policy may set reads
// as the policy value wherever the program reads it, and a search obeys it, while the user's own
// value stays stored untouched; values a policy does not cover are not disturbed.
#include "core/catalog/Updates.h"
#include "core/run/UpdateRun.h"
#include "core/services/Policy.h"
#include "core/sources/UpdateCheck.h"
#include "support/FrontEndFixture.h"
#include "support/ScriptedFrontEnd.h"

#include "support/RunWorld.h"

#include <QtTest>

namespace K = SettingsKeys;
using platform::StoreBackend;

namespace {

// A value as a test row gives it: null for "not stored", an int or a string otherwise.
void StoreValue(TRootKey root, const QString& key, const QString& name, const QVariant& value)
{
    if (value.isNull()) {
        if (StoreBackend::readValue(root, key, name))
            DeleteValue(root, key, name);
    } else if (value.typeId() == QMetaType::QString) {
        WriteStringValue(root, key, name, value.toString());
    } else {
        WriteIntegerValue(root, key, name, value.toInt());
    }
}

const TPolicySetting& Setting(const QString& userKey, const QString& name)
{
    const TPolicySetting* setting = PolicyFor(userKey, name);
    Q_ASSERT(setting);
    return *setting;
}

}  // namespace

class tst_Policy : public QObject {
    Q_OBJECT

    std::unique_ptr<TRunWorld> FWorld;
    std::unique_ptr<TFrontEndFixture> FFrontEnd;
    TUpdates FUpdates;

    void RunAutostart()
    {
        TUpdateCheck check(&FUpdates);
        TUpdateRun run(FUpdates, check, true);
        run.RunUpdateCheck(false);
    }

    QString Folder(const QString& tag) const
    {
        return FWorld->Path(QStringLiteral("source-%1").arg(tag)) + u'/';
    }

    // The log line naming where the descriptor came from, reduced to the row's tag.
    QString SourceUsed() const
    {
        const QStringList log = LogBuffer().value_or(QStringList());
        for (const QString& line : log) {
            if (line.contains(QStringLiteral(" - LocalSource wird verwendet: ")))
                return line.section(QStringLiteral("source-"), 1).section(u'/', 0, 0);
            if (line.contains(QStringLiteral(" - HTTPS-Quelle wird verwendet: "))) {
                const QString url = line.section(QStringLiteral("verwendet: "), 1);
                if (url.startsWith(K::UpdateURLDefault))
                    return QStringLiteral("default");
                return url.section(u'/', 3, 3);
            }
        }
        return QStringLiteral("none");
    }

private Q_SLOTS:
    void init()
    {
        FWorld = std::make_unique<TRunWorld>();
        QVERIFY(FWorld->IsValid());
        FFrontEnd = std::make_unique<TFrontEndFixture>(TScriptCheck::Unanswered);
        WriteLog(TLogAction::StartBuffer, QString());
        FUpdates.Clear();
    }

    void cleanup()
    {
        FFrontEnd.reset();
        FWorld.reset();
    }

    // Each setting in the four states an administrator meets; `expected` is what the search did:
    // which source it used, whether it searched, showed news, logged or went through the proxy.
    void searchObeysThePolicy_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("user");
        QTest::addColumn<QVariant>("policy");
        QTest::addColumn<QString>("expected");
        const QVariant none;
        // clang-format off
        // Folders A (the user's) and B (the administrator's) each offer their own update; without
        // a folder the search goes to the server.
        QTest::newRow("LocalSource: unset")        << "LocalSource" << none       << none       << "default";
        QTest::newRow("LocalSource: user only")    << "LocalSource" << QVariant("A") << none       << "A";
        QTest::newRow("LocalSource: policy only")  << "LocalSource" << none       << QVariant("B") << "B";
        QTest::newRow("LocalSource: both")         << "LocalSource" << QVariant("A") << QVariant("B") << "B";
        // An empty policy folder imposes the server over the user's folder.
        QTest::newRow("LocalSource: empty policy") << "LocalSource" << QVariant("A") << QVariant("")  << "default";
        QTest::newRow("UpdateURL: unset")          << "UpdateURL"   << none       << none       << "default";
        QTest::newRow("UpdateURL: user only")      << "UpdateURL"   << QVariant("A") << none       << "A";
        QTest::newRow("UpdateURL: policy only")    << "UpdateURL"   << none       << QVariant("B") << "B";
        QTest::newRow("UpdateURL: both")           << "UpdateURL"   << QVariant("A") << QVariant("B") << "B";
        // The last search was 30 hours ago: 48 (the default) and 72 wait, 24 searches.
        QTest::newRow("IntervalInHours: unset")    << "IntervalInHours" << none    << none    << "waited";
        QTest::newRow("IntervalInHours: user only") << "IntervalInHours" << QVariant(24) << none << "searched";
        QTest::newRow("IntervalInHours: policy only") << "IntervalInHours" << none << QVariant(24) << "searched";
        QTest::newRow("IntervalInHours: both")     << "IntervalInHours" << QVariant(24) << QVariant(72) << "waited";
        QTest::newRow("Disable: unset")            << "Disable"     << none       << none       << "searched";
        QTest::newRow("Disable: user only")        << "Disable"     << QVariant(1) << none      << "off";
        QTest::newRow("Disable: policy only")      << "Disable"     << none       << QVariant(1) << "off";
        QTest::newRow("Disable: both, policy off") << "Disable"     << QVariant(0) << QVariant(1) << "off";
        QTest::newRow("Disable: both, policy on")  << "Disable"     << QVariant(1) << QVariant(0) << "searched";
        QTest::newRow("NewsAktiv: unset")          << "NewsAktiv"   << none       << none       << "news";
        QTest::newRow("NewsAktiv: user only")      << "NewsAktiv"   << QVariant(0) << none      << "no news";
        QTest::newRow("NewsAktiv: policy only")    << "NewsAktiv"   << none       << QVariant(0) << "no news";
        QTest::newRow("NewsAktiv: both")           << "NewsAktiv"   << QVariant(0) << QVariant(1) << "news";
        QTest::newRow("Log: unset")                << "Log"         << none       << none       << "silent";
        QTest::newRow("Log: user only")            << "Log"         << QVariant(1) << none      << "logged";
        QTest::newRow("Log: policy only")          << "Log"         << none       << QVariant(1) << "logged";
        QTest::newRow("Log: both")                 << "Log"         << QVariant(1) << QVariant(0) << "silent";
        QTest::newRow("Proxy: unset")              << "Proxy"       << none       << none       << "direct";
        QTest::newRow("Proxy: user only")          << "Proxy"       << QVariant(1) << none      << "proxy";
        QTest::newRow("Proxy: policy only")        << "Proxy"       << none       << QVariant(1) << "proxy";
        QTest::newRow("Proxy: both")               << "Proxy"       << QVariant(1) << QVariant(0) << "direct";
        // clang-format on
    }

    void searchObeysThePolicy()
    {
        QFETCH(QString, name);
        QFETCH(QVariant, user);
        QFETCH(QVariant, policy);
        QFETCH(QString, expected);

        // Folder B's update first, moved aside; then folder A's, which is the world's source.
        QVERIFY(
            FWorld->AddModule(QStringLiteral("Kasse"), 12, 3, QStringLiteral("Vorlandt Kasse"), {{0, 2}}));
        QVERIFY(QDir().rename(FWorld->SourceDir(), Folder(QStringLiteral("B"))));
        QVERIFY(
            FWorld->AddModule(QStringLiteral("Kasse"), 12, 3, QStringLiteral("Vorlandt Kasse"), {{0, 1}}));
        QVERIFY(QDir().rename(FWorld->SourceDir(), Folder(QStringLiteral("A"))));
        QVERIFY(QDir().mkpath(FWorld->SourceDir()));
        // Nothing listens on port 1 of the loopback: a server or proxy there refuses at once, and
        // the default server's name is never looked up because the request goes to the proxy.
        const QString deadServer = QStringLiteral("https://127.0.0.1:1/");
        WriteStringValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::LocalSource, Folder(QStringLiteral("A")));
        WriteStringValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyServer, QStringLiteral("127.0.0.1"));
        WriteIntegerValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyPort, 1);
        WriteBoolValue(HKEY_CURRENT_USER, K::Proxy, K::ProxyAktiv, true);

        const auto apply = [&](const QString& key, const QString& valueName, const QVariant& mapped,
                               const QVariant& mappedPolicy) {
            StoreValue(HKEY_CURRENT_USER, key, valueName, mapped);
            StoreValue(HKEY_LOCAL_MACHINE, Setting(key, valueName).PolicyKey, valueName, mappedPolicy);
        };
        const auto asFolder = [&](const QVariant& tag) {
            return tag.isNull() || tag.toString().isEmpty() ? tag : QVariant(Folder(tag.toString()));
        };
        const auto asURL = [&](const QVariant& tag) {
            return tag.isNull() ? tag : QVariant(deadServer + tag.toString() + u'/');
        };
        if (name == u"LocalSource") {
            apply(K::OnlineUpdate, K::LocalSource, asFolder(user), asFolder(policy));
        } else if (name == u"UpdateURL") {
            StoreValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::LocalSource, {});
            apply(K::OnlineUpdate, K::UpdateURL, asURL(user), asURL(policy));
        } else if (name == u"IntervalInHours") {
            WriteStringValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::LastCheckDateTime,
                             QStringLiteral("14.03.2024 04:00:00"));
            apply(K::OnlineUpdate, K::IntervalInHours, user, policy);
        } else if (name == u"Disable") {
            apply(K::OnlineUpdate, K::Disable, user, policy);
        } else if (name == u"NewsAktiv") {
            QVERIFY(FWorld->AddNews());
            QVERIFY(QFile::rename(FWorld->SourceDir() + QStringLiteral("news"),
                                  Folder(QStringLiteral("A")) + QStringLiteral("news")));
            apply(K::OnlineUpdate, K::NewsAktiv, user, policy);
        } else if (name == u"Log") {
            apply(K::Log, K::LogAktiv, user, policy);
        } else if (name == u"Proxy") {
            // Without the proxy the request goes straight to the dead server.
            StoreValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::LocalSource, {});
            WriteStringValue(HKEY_CURRENT_USER, K::OnlineUpdate, K::UpdateURL, deadServer);
            apply(K::Proxy, K::ProxyAktiv, user, policy);
        }
        // The search starts with the buffer as a search started by hand has it.
        WriteLog(TLogAction::StartBuffer, QString());
        WriteLog(TLogAction::AppendLine, QStringLiteral("Updatesuche gestartet"));

        RunAutostart();

        const QStringList log = LogBuffer().value_or(QStringList());
        QString outcome;
        if (name == u"LocalSource" || name == u"UpdateURL") {
            outcome = SourceUsed();
            // The folder's own update is what the person is offered; no server answers.
            if (name == u"LocalSource" && outcome != u"default") {
                QCOMPARE(FFrontEnd->ShownUpdates().size(), 1);
                QCOMPARE(FFrontEnd->ShownUpdates().first().first().Unterversion, outcome == u"A" ? 1 : 2);
            } else {
                QCOMPARE(FFrontEnd->ShownUpdates().size(), 0);
            }
        } else if (name == u"IntervalInHours" || name == u"Disable") {
            if (!FFrontEnd->ProgressTexts().isEmpty())
                outcome = QStringLiteral("searched");
            else
                outcome = log.contains(QStringLiteral("LetztesUpdateLangGenugHer - Ende - Result: False"))
                              ? QStringLiteral("waited")
                              : QStringLiteral("off");
        } else if (name == u"NewsAktiv") {
            outcome = FFrontEnd->ShownNews().isEmpty() ? QStringLiteral("no news") : QStringLiteral("news");
        } else if (name == u"Log") {
            outcome = log.size() > 1 ? QStringLiteral("logged") : QStringLiteral("silent");
        } else if (name == u"Proxy") {
            outcome = log.contains(QStringLiteral("StartDownload - Proxy aktiv")) ? QStringLiteral("proxy")
                                                                                  : QStringLiteral("direct");
        }
        QCOMPARE(outcome, expected);
    }

    // Every value a policy may set, read the ways the program reads it, in the four states; the
    // user's own value is still stored as it was, whatever the policy says.
    void everyPolicyValueOverridesTheUsersValue_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("user");
        QTest::addColumn<QVariant>("policy");
        for (const TPolicySetting& setting : PolicySettings()) {
            const bool text = setting.Name == K::LocalSource || setting.Name == K::UpdateURL ||
                              setting.Name == K::ProxyServer || setting.Name == K::ProxyUsername ||
                              setting.Name == K::ProxyPassword || setting.Name == K::UserAgent;
            const QVariant user = text ? QVariant(QStringLiteral("vom Benutzer")) : QVariant(7);
            const QVariant policy = text ? QVariant(QStringLiteral("vom Administrator")) : QVariant(0);
            const QString row = setting.UserKey.section(u'\\', -2, -1) + u'\\' + setting.Name;
            QTest::addRow("%s: unset", qPrintable(row))
                << setting.UserKey << setting.Name << QVariant() << QVariant();
            QTest::addRow("%s: user only", qPrintable(row))
                << setting.UserKey << setting.Name << user << QVariant();
            QTest::addRow("%s: policy only", qPrintable(row))
                << setting.UserKey << setting.Name << QVariant() << policy;
            QTest::addRow("%s: both", qPrintable(row)) << setting.UserKey << setting.Name << user << policy;
        }
    }

    void everyPolicyValueOverridesTheUsersValue()
    {
        QFETCH(QString, key);
        QFETCH(QString, name);
        QFETCH(QVariant, user);
        QFETCH(QVariant, policy);
        const QString policyKey = Setting(key, name).PolicyKey;
        StoreValue(HKEY_CURRENT_USER, key, name, user);
        StoreValue(HKEY_LOCAL_MACHINE, policyKey, name, policy);
        const QVariant effective = !policy.isNull() ? policy : user;

        QCOMPARE(ValueExists(HKEY_CURRENT_USER, key, name), !effective.isNull());
        QCOMPARE(IsSetByPolicy(key, name), !policy.isNull());
        if (effective.typeId() == QMetaType::QString)
            QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, key, name, QStringLiteral("<default>")),
                     effective.toString());
        else
            QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, key, name, -5),
                     effective.isNull() ? -5 : effective.toInt());
        // The store compares keys and names without letter case and a trailing "\"; so does the policy.
        const QString otherSpelling = key.endsWith(u'\\') ? key.chopped(1).toUpper() : key.toLower() + u'\\';
        QCOMPARE(ValueExists(HKEY_CURRENT_USER, otherSpelling, name.toUpper()), !effective.isNull());
        QCOMPARE(IsSetByPolicy(otherSpelling, name.toLower()), !policy.isNull());

        // The user's own value is left alone, and writing it goes to the user's store only.
        const std::optional<platform::TRawValue> stored =
            StoreBackend::readValue(HKEY_CURRENT_USER, key, name);
        QCOMPARE(stored.has_value(), !user.isNull());
        WriteIntegerValue(HKEY_CURRENT_USER, key, name, 99);
        const auto asInteger = [](const QVariant& value, int otherwise) {
            return value.typeId() == QMetaType::Int ? value.toInt() : otherwise;
        };
        QCOMPARE(ReadIntegerValue(HKEY_LOCAL_MACHINE, policyKey, name, -5), asInteger(policy, -5));
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, key, name, -5),
                 policy.isNull() ? 99 : asInteger(policy, -5));
    }

    // State the program keeps for itself, and values under other names, are never policy: an
    // administrator's value there changes nothing.
    void stateIsNotPolicy_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::newRow("last check") << K::OnlineUpdate << K::LastCheckDateTime;
        QTest::newRow("last news") << K::OnlineUpdate << K::LastNewsID;
        QTest::newRow("last local folder") << K::OnlineUpdate << K::LastLocalSource;
        QTest::newRow("last consent question") << K::Standardeinstellungen << K::TrackingLastQuery;
        QTest::newRow("tracking host") << K::Standardeinstellungen << K::TrackingHost;
        QTest::newRow("log switch under another key") << K::Proxy << K::LogAktiv.toUpper() + u'X';
    }

    void stateIsNotPolicy()
    {
        QFETCH(QString, key);
        QFETCH(QString, name);
        QVERIFY(!PolicyFor(key, name));
        for (const QString& policyKey :
             {K::PolicyOnlineUpdate, K::PolicyLog, K::PolicyProxy, K::PolicyTracking})
            WriteStringValue(HKEY_LOCAL_MACHINE, policyKey, name, QStringLiteral("vom Administrator"));
        WriteStringValue(HKEY_CURRENT_USER, key, name, QStringLiteral("vom Benutzer"));
        QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, key, name, {}), QStringLiteral("vom Benutzer"));
        QVERIFY(!IsSetByPolicy(key, name));
    }
};

QTEST_GUILESS_MAIN(tst_Policy)
#include "tst_policy.moc"
