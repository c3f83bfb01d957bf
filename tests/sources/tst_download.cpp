// TDownload against a real loopback HTTPS server (and a real tinyproxy): which answers lead to a
// file, what stays untouched when a transfer breaks, what is logged, the user agent, the proxy,
// and progress delivered on the calling thread while that thread keeps handling events.
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/Download.h"
#include "core/sources/TransferCancel.h"

#include "support/PrivateStores.h"
#include "support/net/TestHttpsServer.h"
#include "support/net/TestPki.h"
#include "support/net/TestProxy.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

enum class TServerKind { Trusted, Stranger, Tls13Only };

const QStringList ProxyVariables = {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY",
                                    "all_proxy",  "no_proxy",    "NO_PROXY"};

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

QStringList LogLines()
{
    return LogBuffer().value_or(QStringList());
}

bool HasExceptionLine(const QString& url)
{
    const QString prefix = QStringLiteral("StartDownload - Exception beim Download von \"%1\": ").arg(url);
    for (const QString& line : LogLines()) {
        if (line.startsWith(prefix) && line.size() > prefix.size())
            return true;
    }
    return false;
}

bool HasAnyExceptionLine()
{
    for (const QString& line : LogLines()) {
        if (line.contains(QStringLiteral("StartDownload - Exception")))
            return true;
    }
    return false;
}

bool SawRequest(const TTestHttpsServer& server, const QString& method)
{
    for (const TRecordedRequest& request : server.Requests()) {
        if (request.Method == method)
            return true;
    }
    return false;
}

}  // namespace

// Stands in for a progress bar and a status label; notes the thread of every call.
class TProgressRecorder : public QObject {
    Q_OBJECT

public:
    QStringList Texts;
    QList<int> Values;
    int Maximum = -1;
    bool AllOnCallingThread = true;

public Q_SLOTS:
    void setText(const QString& text)
    {
        Note();
        Texts.append(text);
    }
    void setMaximum(int maximum)
    {
        Note();
        Maximum = maximum;
    }
    void setValue(int value)
    {
        Note();
        Values.append(value);
    }

private:
    void Note()
    {
        if (QThread::currentThread() != thread())
            AllOnCallingThread = false;
    }
};

class TestDownload : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FCertDir;
    QTemporaryDir FWwwDir;
    TTestPki FPki;
    TTestHttpsServer FServer;
    TTestHttpsServer FStrangerServer;
    TTestHttpsServer FTls13Server;
    QByteArray FPayload;
    std::unique_ptr<TPrivateStores> FStores;

    TTestHttpsServer& Server(TServerKind kind)
    {
        switch (kind) {
            case TServerKind::Stranger:
                return FStrangerServer;
            case TServerKind::Tls13Only:
                return FTls13Server;
            case TServerKind::Trusted:
                break;
        }
        return FServer;
    }

    // The destinations live in a folder of their own, so a forgotten temporary file shows.
    QString DownloadDir() const { return FStores->FilePath(QStringLiteral("downloads")); }

    void StoreProxy(bool on, int port, const QString& password)
    {
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::ProxyAktiv, on);
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::ProxyServer,
                         QStringLiteral("127.0.0.1"));
        WriteIntegerValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::ProxyPort, port);
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::ProxyUsername,
                         QStringLiteral("user"));
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::ProxyPassword,
                         ScramblePassword(password, SettingsKeys::PasswordScrambleKey));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FCertDir.isValid());
        QVERIFY(FWwwDir.isValid());
        const QString pkiError = FPki.Create(FCertDir.path());
        QVERIFY2(pkiError.isEmpty(), qPrintable(pkiError));
        qputenv("SSL_CERT_FILE", FPki.CaFile.toUtf8());
        qunsetenv("SSL_CERT_DIR");
        for (const QString& variable : ProxyVariables)
            qunsetenv(variable.toUtf8().constData());

        // Binary with zero bytes, large enough to arrive in many pieces.
        FPayload.resize(300 * 1024);
        QRandomGenerator generator(7);
        for (char& byte : FPayload)
            byte = static_cast<char>(generator.bounded(256));
        WriteFile(FWwwDir.filePath(QStringLiteral("data.bin")), FPayload);

        QString error = FServer.Start(FPki.ServerCert, FPki.ServerKey, FWwwDir.path());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        error = FStrangerServer.Start(FPki.StrangerCert, FPki.StrangerKey, FWwwDir.path());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        error = FTls13Server.Start(FPki.ServerCert, FPki.ServerKey, FWwwDir.path(), QStringLiteral("1.3"));
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanupTestCase()
    {
        FServer.Stop();
        FStrangerServer.Stop();
        FTls13Server.Stop();
    }

    void init()
    {
        FStores = std::make_unique<TPrivateStores>();
        QVERIFY(FStores->IsValid());
        QVERIFY(QDir().mkpath(DownloadDir()));
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
        WriteLog(TLogAction::StartBuffer, QString());
        FServer.ClearRequests();
        FStrangerServer.ClearRequests();
        FTls13Server.ClearRequests();
    }

    void cleanup()
    {
        WriteLog(TLogAction::DiscardBuffer, QString());
        for (const QString& variable : ProxyVariables)
            qunsetenv(variable.toUtf8().constData());
        FStores.reset();
    }

    void outcomeFollowsTheAnswers_data()
    {
        QTest::addColumn<TServerKind>("server");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("destination");    // below the download folder
        QTest::addColumn<QByteArray>("oldContent");  // null: no earlier file
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("keepsOldContent");  // else the payload when result is true
        QTest::addColumn<bool>("getSent");
        QTest::addColumn<bool>("exceptionLogged");

        const QString file = QStringLiteral("file.bin");
        const QByteArray none;
        const QByteArray old("earlier file");
        QTest::newRow("200: the body arrives exactly")
            << TServerKind::Trusted << "/data.bin" << file << none << true << 200 << false << true << false;
        QTest::newRow("200: an earlier file is replaced")
            << TServerKind::Trusted << "/data.bin" << file << old << true << 200 << false << true << false;
        QTest::newRow("404: no GET, no log line, earlier file kept")
            << TServerKind::Trusted << "/missing.bin" << file << old << false << 404 << true << false
            << false;
        QTest::newRow("301: redirect not followed, no GET")
            << TServerKind::Trusted << "/redirect/data.bin" << file << none << false << 301 << true << false
            << false;
        QTest::newRow("body cut off: earlier file kept")
            << TServerKind::Trusted << "/drop?bytes=200000" << file << old << false << 200 << true << true
            << true;
        QTest::newRow("GET answered 500 after HEAD 200: error page not written")
            << TServerKind::Trusted << "/headonly" << file << old << false << 500 << true << true << true;
        QTest::newRow("destination folder missing")
            << TServerKind::Trusted << "/data.bin"
            << "missing/file.bin" << none << false << 200 << true << false << true;
        QTest::newRow("certificate from an unknown authority")
            << TServerKind::Stranger << "/data.bin" << file << old << false << 0 << true << false << true;
        QTest::newRow("server speaking only TLS 1.3")
            << TServerKind::Tls13Only << "/data.bin" << file << old << false << 0 << true << false << true;
    }

    void outcomeFollowsTheAnswers()
    {
        QFETCH(TServerKind, server);
        QFETCH(QString, path);
        QFETCH(QString, destination);
        QFETCH(QByteArray, oldContent);
        QFETCH(bool, result);
        QFETCH(int, status);
        QFETCH(bool, keepsOldContent);
        QFETCH(bool, getSent);
        QFETCH(bool, exceptionLogged);

        const QString target = QDir(DownloadDir()).filePath(destination);
        if (!oldContent.isNull())
            WriteFile(target, oldContent);
        const QString url = Server(server).Url(path);

        TDownload download;
        QCOMPARE(download.StartDownload(url, target, nullptr, nullptr), result);
        QCOMPARE(download.LastResponseCode(), status);

        if (result)
            QCOMPARE(ReadFile(target), FPayload);
        else if (keepsOldContent && !oldContent.isNull())
            QCOMPARE(ReadFile(target), oldContent);
        const QStringList expectedFiles =
            (result || !oldContent.isNull()) ? QStringList{QFileInfo(target).fileName()} : QStringList();
        QCOMPARE(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 expectedFiles);

        QCOMPARE(SawRequest(Server(server), QStringLiteral("GET")), getSent);
        if (exceptionLogged)
            QVERIFY2(HasExceptionLine(url), qPrintable(LogLines().join(u'\n')));
        else
            QVERIFY2(!HasAnyExceptionLine(), qPrintable(LogLines().join(u'\n')));
        QVERIFY(LogLines().contains(QStringLiteral("StartDownload - Proxy nicht aktiv")));
    }

    // A server may send too much or too slowly, and the person may leave meanwhile: each ends the
    // transfer with false, one log line naming why, and nothing new in the download folder.
    void boundsEndTheTransfer_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("totalSeconds");   // 0: the product's limit
        QTest::addColumn<int>("cancelAfterMs");  // -1: nobody cancels
        QTest::addColumn<QString>("why");

        const QString tooLarge = QStringLiteral("Die Datei ist größer als 64 MB");
        const int defaultTime = 0;
        const int noCancel = -1;
        QTest::newRow("200 MB announced") << "/big?bytes=209715200" << defaultTime << noCancel << tooLarge;
        QTest::newRow("200 MB without an announced size")
            << "/big?bytes=209715200&chunked=1" << defaultTime << noCancel << tooLarge;
        QTest::newRow("2 bytes a second outlast the total time")
            << "/slow?seconds=600&bytes=1200" << 2 << noCancel
            << QStringLiteral("Die Übertragung dauert länger als 2 Sekunden und wurde abgebrochen");
        QTest::newRow("cancelled while the body trickles")
            << "/slow?seconds=600&bytes=1200" << defaultTime << 500
            << QStringLiteral("Die Übertragung wurde abgebrochen");
    }

    void boundsEndTheTransfer()
    {
        QFETCH(QString, path);
        QFETCH(int, totalSeconds);
        QFETCH(int, cancelAfterMs);
        QFETCH(QString, why);
        // The transfers below are one run's: cancelling them leaves later tests' runs alone.
        const sources::TTransferCancel run;

        const QString target = QDir(DownloadDir()).filePath(QStringLiteral("file.bin"));
        const QByteArray old("earlier file");
        WriteFile(target, old);
        TDownloadLimits limits;
        if (totalSeconds > 0)
            limits.TotalTime = std::chrono::seconds(totalSeconds);
        if (cancelAfterMs >= 0)
            QTimer::singleShot(cancelAfterMs, [] { sources::CancelTransfers(); });

        const QString url = FServer.Url(path);
        QElapsedTimer clock;
        clock.start();
        TDownload download(limits);
        QVERIFY(!download.StartDownload(url, target, nullptr, nullptr));
        // The caller can tell the size bound from the other ends.
        QCOMPARE(download.LastTooLarge(), why.startsWith(QStringLiteral("Die Datei ist größer")));
        // Far below the server's ten minutes: the transfer was stopped, not waited out.
        QVERIFY2(clock.elapsed() < 60000, qPrintable(QString::number(clock.elapsed())));

        QCOMPARE(ReadFile(target), old);
        QCOMPARE(QDir(DownloadDir()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList({QStringLiteral("file.bin")}));
        QVERIFY2(LogLines().contains(
                     QStringLiteral("StartDownload - Exception beim Download von \"%1\": %2").arg(url, why)),
                 qPrintable(LogLines().join(u'\n')));

        // Once cancelled, nothing new starts: the server hears no further request.
        if (cancelAfterMs >= 0) {
            FServer.ClearRequests();
            QVERIFY(!TDownload().StartDownload(FServer.Url(QStringLiteral("/data.bin")), target, nullptr,
                                               nullptr));
            QCOMPARE(FServer.Requests().size(), 0);
        }
    }

    // The switch is the run's: a cancelled run refuses its later transfers, the run after it
    // fetches again, and with no run under way there is nothing to cancel.
    void cancellingARunLeavesTheNextOneAlone()
    {
        const QString target = QDir(DownloadDir()).filePath(QStringLiteral("data.bin"));
        const QString url = FServer.Url(QStringLiteral("/data.bin"));
        {
            const sources::TTransferCancel run;
            sources::CancelTransfers();
            QVERIFY(!TDownload().StartDownload(url, target, nullptr, nullptr));
            QCOMPARE(FServer.Requests().size(), 0);
        }
        QVERIFY(!sources::TransfersCancelled());
        {
            const sources::TTransferCancel run;
            QVERIFY(TDownload().StartDownload(url, target, nullptr, nullptr));
            QCOMPARE(ReadFile(target), FPayload);
        }
        sources::CancelTransfers();
        const sources::TTransferCancel run;
        QVERIFY(!sources::TransfersCancelled());
    }

    void userAgentComesFromTheStore_data()
    {
        QTest::addColumn<QString>("stored");  // null: nothing stored
        QTest::addColumn<QString>("expected");
        QTest::newRow("stored agent") << "VorlandtTest/2.0 (X11; Linux x86_64)"
                                      << "VorlandtTest/2.0 (X11; Linux x86_64)";
        // Stored text must not be able to add headers of its own.
        QTest::newRow("line breaks are dropped") << "VorlandtTest/2.0\r\nX-Injected: 1"
                                                 << "VorlandtTest/2.0X-Injected: 1";
        QTest::newRow("default when none is stored") << QString() << SettingsKeys::UserAgentDefault;
    }

    void userAgentComesFromTheStore()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        if (!stored.isNull())
            WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::UserAgent, stored);

        TDownload download;
        QVERIFY(download.StartDownload(FServer.Url(QStringLiteral("/data.bin")),
                                       QDir(DownloadDir()).filePath(QStringLiteral("file.bin")), nullptr,
                                       nullptr));
        const QList<TRecordedRequest> requests = FServer.Requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].Method, QStringLiteral("HEAD"));
        QCOMPARE(requests[1].Method, QStringLiteral("GET"));
        for (const TRecordedRequest& request : requests)
            QCOMPARE(request.UserAgent, expected);
    }

    void proxySettingsDecideTheRoute_data()
    {
        QTest::addColumn<bool>("proxyOn");
        QTest::addColumn<QString>("password");           // stored scrambled; the proxy expects "pass"
        QTest::addColumn<bool>("proxyInEnvironment");    // http_proxy, https_proxy, ALL_PROXY
        QTest::addColumn<bool>("noProxyInEnvironment");  // no_proxy naming the server
        QTest::addColumn<bool>("result");
        QTest::addColumn<bool>("throughProxy");

        QTest::newRow("on, right password: tunnelled, no_proxy of the environment ignored")
            << true << "pass" << false << true << true << true;
        QTest::newRow("on, wrong password: refused") << true << "wrong" << false << false << false << true;
        QTest::newRow("off, proxies in the environment: direct")
            << false << "pass" << true << false << true << false;
    }

    void proxySettingsDecideTheRoute()
    {
        QFETCH(bool, proxyOn);
        QFETCH(QString, password);
        QFETCH(bool, proxyInEnvironment);
        QFETCH(bool, noProxyInEnvironment);
        QFETCH(bool, result);
        QFETCH(bool, throughProxy);
        if (TTestProxy::Program().isEmpty())
            QSKIP("tinyproxy is not installed (scripts/setup installs it)");

        TTestProxy proxy;
        const QString error = proxy.Start(QStringLiteral("user"), QStringLiteral("pass"), FServer.Port());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        StoreProxy(proxyOn, proxy.Port(), password);
        if (proxyInEnvironment) {
            const QByteArray address =
                QByteArrayLiteral("http://127.0.0.1:") + QByteArray::number(proxy.Port());
            for (const char* variable : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY"})
                qputenv(variable, address);
        }
        if (noProxyInEnvironment) {
            qputenv("no_proxy", "127.0.0.1,localhost");
            qputenv("NO_PROXY", "127.0.0.1,localhost");
        }

        const QString target = QDir(DownloadDir()).filePath(QStringLiteral("file.bin"));
        TDownload download;
        QCOMPARE(download.StartDownload(FServer.Url(QStringLiteral("/data.bin")), target, nullptr, nullptr),
                 result);
        if (result)
            QCOMPARE(ReadFile(target), FPayload);
        else
            QVERIFY(!QFile::exists(target));

        const QString connect = QStringLiteral("CONNECT 127.0.0.1:%1").arg(FServer.Port());
        QVERIFY2(proxy.Log().contains(connect) == throughProxy, qPrintable(proxy.Log()));
        QVERIFY(LogLines().contains(proxyOn ? QStringLiteral("StartDownload - Proxy aktiv")
                                            : QStringLiteral("StartDownload - Proxy nicht aktiv")));
    }

    void progressReachesTheCallingThreadWhileItStaysResponsive()
    {
        TProgressRecorder bar;
        TProgressRecorder label;
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
        timer.start(20);

        const int size = 30000;
        TDownload download;
        QVERIFY(download.StartDownload(FServer.Url(QStringLiteral("/slow?seconds=1.5&bytes=%1").arg(size)),
                                       QDir(DownloadDir()).filePath(QStringLiteral("slow.bin")), &bar,
                                       &label));

        // 1.5 s of transfer leave room for dozens of ticks; a blocked thread would see none.
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        QStringList states = label.Texts;
        states.erase(std::unique(states.begin(), states.end()), states.end());
        QCOMPARE(states,
                 QStringList({QStringLiteral("Download startet..."), QStringLiteral("Download läuft..."),
                              QStringLiteral("Download beendet...")}));
        QCOMPARE(bar.Maximum, size);
        QVERIFY(!bar.Values.isEmpty());
        QCOMPARE(bar.Values.last(), size);
        QVERIFY(std::is_sorted(bar.Values.begin(), bar.Values.end()));
        QVERIFY(bar.AllOnCallingThread);
        QVERIFY(label.AllOnCallingThread);
        QVERIFY(bar.Texts.isEmpty());  // a bar has no text to set, a label no value
        QVERIFY(label.Values.isEmpty());
    }

    void progressTargetDeletedDuringTheTransferIsLeftAlone()
    {
        QPointer<TProgressRecorder> label = new TProgressRecorder;
        QTimer::singleShot(300, label.data(), &QObject::deleteLater);

        TDownload download;
        QVERIFY(download.StartDownload(FServer.Url(QStringLiteral("/slow?seconds=0.8&bytes=8000")),
                                       QDir(DownloadDir()).filePath(QStringLiteral("slow.bin")), nullptr,
                                       label));
        QVERIFY(label.isNull());
    }

    void worksWithoutAnApplicationObject()
    {
        const QString target = QDir(DownloadDir()).filePath(QStringLiteral("file.bin"));
        QProcess helper;
        helper.start(QStringLiteral(VORLANDT_NO_APP_DOWNLOAD),
                     {FServer.Url(QStringLiteral("/data.bin")), target});
        QVERIFY(helper.waitForFinished(60000));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 0);
        QCOMPARE(helper.readAllStandardOutput().trimmed(), QByteArray("true 200"));
        QCOMPARE(ReadFile(target), FPayload);
    }
};

QTEST_MAIN(TestDownload)
#include "tst_download.moc"
