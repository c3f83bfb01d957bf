// The tracking server client against the reference server (the four methods and their
// parameters as stored) and against canned answers (server errors, broken answers, silence).
#include "support/TrackingServerProcess.h"

#include "core/platform/VorlandtError.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/tracking/ServerCommunicationClient.h"
#include "core/tracking/TrackingConnection.h"
#include "support/PrivateStores.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <functional>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback server that answers every request with the same bytes, or, when `answer` is null,
// accepts connections (the kernel does) and never answers.
class TCannedHttpServer {
public:
    explicit TCannedHttpServer(std::optional<QByteArray> answer) : FAnswer(std::move(answer))
    {
        FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(FSocket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(FSocket, 16) != 0 ||
            ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        FPort = ntohs(address.sin_port);
        if (FAnswer)
            FThread = std::thread([this] { Serve(); });
    }
    ~TCannedHttpServer()
    {
        FQuit = true;
        if (FThread.joinable())
            FThread.join();
        ::close(FSocket);
    }
    quint16 Port() const { return FPort; }

private:
    void Serve()
    {
        while (!FQuit) {
            pollfd waiting{FSocket, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0)
                continue;
            const int client = ::accept4(FSocket, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            QByteArray request;
            char buffer[4096];
            while (!request.contains("\r\n\r\n")) {
                pollfd readable{client, POLLIN, 0};
                if (::poll(&readable, 1, 2000) <= 0)
                    break;
                const ssize_t got = ::read(client, buffer, sizeof buffer);
                if (got <= 0)
                    break;
                request.append(buffer, got);
            }
            if (request.contains("\r\n\r\n"))
                (void)!::write(client, FAnswer->constData(), static_cast<size_t>(FAnswer->size()));
            ::close(client);
        }
    }

    std::optional<QByteArray> FAnswer;
    int FSocket = -1;
    quint16 FPort = 0;
    std::atomic<bool> FQuit{false};
    std::thread FThread;
};

QByteArray HttpAnswer(const QByteArray& status, const QByteArray& body)
{
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// The error text a call raises, or "" when it raised none.
QString ErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const EVorlandtError& error) {
        return error.message().isEmpty() ? QStringLiteral("(leer)") : error.message();
    }
    return QString();
}

}  // namespace

class TestTrackingClient : public QObject {
    Q_OBJECT

private:
    TPrivateStores FStores;

private slots:
    void init() { QVERIFY(FStores.IsValid()); }
    void cleanup()
    {
        qunsetenv("VORLANDT_TRACKING_PORT");
        QFile::remove(FStores.FilePath(QStringLiteral("user.db")));
    }

    void connectionGoesToTheConfiguredHostOnPort7211_data()
    {
        QTest::addColumn<QString>("storedHost");
        QTest::addColumn<QString>("expectedHost");
        QTest::newRow("no value: the built-in address") << QString() << "127.0.0.1";
        QTest::newRow("configured") << "tracking.vorlandt.example"
                                    << "tracking.vorlandt.example";
    }
    void connectionGoesToTheConfiguredHostOnPort7211()
    {
        QFETCH(QString, storedHost);
        QFETCH(QString, expectedHost);
        if (!storedHost.isNull())
            WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::Standardeinstellungen,
                             SettingsKeys::TrackingHost, storedHost);
        const TTrackingConnection connection;
        QCOMPARE(connection.Params.value(QStringLiteral("HostName")), expectedHost);
        QCOMPARE(connection.Params.value(QStringLiteral("Port")), QStringLiteral("7211"));
        QCOMPARE(connection.Params.value(QStringLiteral("DatasnapContext")), QStringLiteral("datasnap/"));
        QCOMPARE(connection.Params.value(QStringLiteral("Filters")), QStringLiteral("{}"));
        QCOMPARE(connection.Params.value(QStringLiteral("DriverName")), QStringLiteral("DataSnap"));
        QCOMPARE(connection.Params.value(QStringLiteral("CommunicationProtocol")), QStringLiteral("tcp/ip"));
        QCOMPARE(connection.MethodAddress(QStringLiteral("TServerCommunication.SendUserEvent"),
                                          {QStringLiteral("90"), QString(), QStringLiteral("a/b c")}),
                 "http://" + expectedHost.toUtf8() +
                     ":7211/datasnap/rest/TServerCommunication/SendUserEvent/90//a%2Fb%20c");
    }

    // Tests and demos run a server of their own on another port; a value that is no port leaves
    // the fixed one.
    void portComesFromTheEnvironmentWhenItIsOne_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("port");
        QTest::newRow("a port") << QByteArray("17211") << "17211";
        QTest::newRow("the highest port") << QByteArray("65535") << "65535";
        QTest::newRow("empty") << QByteArray("") << "7211";
        QTest::newRow("0") << QByteArray("0") << "7211";
        QTest::newRow("beyond the ports") << QByteArray("65536") << "7211";
        QTest::newRow("negative") << QByteArray("-1") << "7211";
        QTest::newRow("no number") << QByteArray("tracking") << "7211";
        QTest::newRow("a number and more") << QByteArray("8080/x") << "7211";
    }
    void portComesFromTheEnvironmentWhenItIsOne()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, port);
        qputenv("VORLANDT_TRACKING_PORT", value);
        const TTrackingConnection connection;
        QCOMPARE(connection.Params.value(QStringLiteral("Port")), port);
        QVERIFY(connection.MethodAddress(QStringLiteral("TServerCommunication.GetTrackingProbability"), {})
                    .startsWith("http://127.0.0.1:" + port.toUtf8() + "/datasnap/rest/"));
    }

    void fourMethodsArriveWithTheirParametersInWireOrder()
    {
        QTemporaryDir dir;
        TTrackingServerProcess server(dir.filePath(QStringLiteral("calls.db")));
        QVERIFY(server.Start(37));
        qputenv("VORLANDT_TRACKING_PORT", QByteArray::number(server.Port()));
        TTrackingConnection connection;
        connection.Open();
        QVERIFY(connection.Connected());
        TServerCommunicationClient client(connection);

        QCOMPARE(client.SendMouseEvent("90", 1, 1, "c8d8", "VorlandtOnlineUpdater", "btnStart", "Start",
                                       "frmMain", 10, -20),
                 true);
        QCOMPARE(client.SendKeyboardEvent("91", 5, 2, "c8d8", "VorlandtOnlineUpdater", "edtSuche",
                                          "no caption", "frmMain", 1),
                 true);
        QCOMPARE(
            client.SendUserEvent("92", 0, 0, "c8d8", "VorlandtOnlineUpdater", "", "", "", "Auto-Modus", 3),
            true);
        QCOMPARE(client.GetTrackingProbability(), 37);
        QCOMPARE(client.GetTrackingProbability(), 37);
        // Each method's command is prepared once and then reused.
        QCOMPARE(client.PreparedCommands(), 4);

        const QList<TStoredCall> calls = server.Calls();
        QCOMPARE(calls.size(), 5);
        QCOMPARE(calls[0].Method, QStringLiteral("SendMouseEvent"));
        QCOMPARE(calls[0].Params, (QJsonArray{"90", 1, 1, "c8d8", "VorlandtOnlineUpdater", "btnStart",
                                              "Start", "frmMain", 10, -20}));
        QCOMPARE(calls[1].Method, QStringLiteral("SendKeyboardEvent"));
        QCOMPARE(calls[1].Params, (QJsonArray{"91", 5, 2, "c8d8", "VorlandtOnlineUpdater", "edtSuche",
                                              "no caption", "frmMain", 1}));
        QCOMPARE(calls[2].Method, QStringLiteral("SendUserEvent"));
        QCOMPARE(calls[2].Params,
                 (QJsonArray{"92", 0, 0, "c8d8", "VorlandtOnlineUpdater", "", "", "", "Auto-Modus", 3}));
        QCOMPARE(calls[3].Method, QStringLiteral("GetTrackingProbability"));
        QCOMPARE(calls[3].Params, QJsonArray());
        QVERIFY(server.Stop());
    }

    void textsArriveUnchanged_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("slash and blanks") << "Datei / Öffnen  ";
        QTest::newRow("dot segments") << "..";
        QTest::newRow("one dot") << ".";
        QTest::newRow("URL characters") << "?a=1&b=%41#frag+plus;";
        QTest::newRow("umlauts and emoji") << QStringLiteral("Größe \u00e4 \U0001F600");
        QTest::newRow("quotes and backslash") << "\"C:\\Programme\\\"";
    }
    void textsArriveUnchanged()
    {
        QFETCH(QString, text);
        QTemporaryDir dir;
        TTrackingServerProcess server(dir.filePath(QStringLiteral("calls.db")));
        QVERIFY(server.Start(1));
        qputenv("VORLANDT_TRACKING_PORT", QByteArray::number(server.Port()));
        TTrackingConnection connection;
        TServerCommunicationClient client(connection);
        QVERIFY(client.SendUserEvent("1", 0, 0, text, "p", text, text, "", text, 4));
        const QList<TStoredCall> calls = server.Calls();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].Params, (QJsonArray{"1", 0, 0, text, "p", text, text, "", text, 4}));
    }

    void serverErrorRaisesItsMessage()
    {
        QTemporaryDir dir;
        TTrackingServerProcess server(dir.filePath(QStringLiteral("calls.db")));
        QVERIFY(server.Start(1, 0, {QStringLiteral("--refuse"), QStringLiteral("Verboten")}));
        qputenv("VORLANDT_TRACKING_PORT", QByteArray::number(server.Port()));
        TTrackingConnection connection;
        TServerCommunicationClient client(connection);
        QCOMPARE(ErrorOf([&] { client.SendUserEvent("1", 0, 0, "", "p", "", "", "", "Verboten", 4); }),
                 QStringLiteral("Abgelehnt: Verboten"));
        QVERIFY(server.Calls().isEmpty());
    }

    void unreachableServerRaisesSocketError()
    {
        QTemporaryDir dir;
        TTrackingServerProcess server(dir.filePath(QStringLiteral("calls.db")));
        QVERIFY(server.Start(1));
        const quint16 port = server.Port();
        QVERIFY(server.Stop());
        qputenv("VORLANDT_TRACKING_PORT", QByteArray::number(port));
        TTrackingConnection connection;
        const QString openError = ErrorOf([&] { connection.Open(); });
        QVERIFY2(openError.contains(QLatin1String("Socket")), qPrintable(openError));
        QVERIFY(!connection.Connected());
        TServerCommunicationClient client(connection);
        const QString callError = ErrorOf([&] { client.GetTrackingProbability(); });
        QVERIFY2(callError.contains(QLatin1String("Socket")), qPrintable(callError));
    }

    void invalidHostIsRefusedBeforeAnythingIsSent()
    {
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::Standardeinstellungen, SettingsKeys::TrackingHost,
                         QStringLiteral("evil.example/path?"));
        TTrackingConnection connection;
        const QString error = ErrorOf([&] { connection.Open(); });
        QVERIFY2(error.contains(QLatin1String("Socket")), qPrintable(error));
    }

    void answersOtherThanAResultAreErrors_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expectedPart");
        QTest::addColumn<bool>("transport");
        QTest::newRow("server error")
            << HttpAnswer("500 Internal Server Error", R"({"error":"Kaputt"})") << "Kaputt" << false;
        QTest::newRow("HTML page") << HttpAnswer("404 Not Found", "<html>nope</html>")
                                   << "Ungültige Antwort des Tracking-Servers" << false;
        QTest::newRow("empty result")
            << HttpAnswer("200 OK", R"({"result":[]})") << "Ungültige Antwort des Tracking-Servers" << false;
        QTest::newRow("huge number") << HttpAnswer("200 OK", R"({"result":[1e12]})") << "keine 32-Bit-Zahl"
                                     << false;
        QTest::newRow("fraction") << HttpAnswer("200 OK", R"({"result":[50.5]})") << "keine 32-Bit-Zahl"
                                  << false;
        QTest::newRow("text instead of number")
            << HttpAnswer("200 OK", R"({"result":["50"]})") << "keine 32-Bit-Zahl" << false;
        QTest::newRow("endless answer")
            << HttpAnswer("200 OK", QByteArray(200 * 1024, ' ')) << "zu lang" << false;
        QTest::newRow("connection closed without answer") << QByteArray() << "Socket" << true;
    }
    void answersOtherThanAResultAreErrors()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, expectedPart);
        QFETCH(bool, transport);
        TCannedHttpServer server(answer);
        QVERIFY(server.Port() != 0);
        qputenv("VORLANDT_TRACKING_PORT", QByteArray::number(server.Port()));
        TTrackingConnection connection;
        TServerCommunicationClient client(connection);
        const QString error = ErrorOf([&] { client.GetTrackingProbability(); });
        QVERIFY2(error.contains(expectedPart), qPrintable(error));
        QCOMPARE(error.contains(QLatin1String("Socket")), transport);
    }

    void silentServerEndsTheCallAfterTheLimitWithSocketError()
    {
        TCannedHttpServer server(std::nullopt);
        qputenv("VORLANDT_TRACKING_PORT", QByteArray::number(server.Port()));
        TTrackingConnection connection;
        connection.Open();  // the kernel accepts the connection
        TServerCommunicationClient client(connection);
        const QString error = ErrorOf([&] { client.GetTrackingProbability(); });
        QVERIFY2(error.contains(QLatin1String("Socket")), qPrintable(error));
    }

    void abortEndsARunningCall()
    {
        TCannedHttpServer server(std::nullopt);
        qputenv("VORLANDT_TRACKING_PORT", QByteArray::number(server.Port()));
        TTrackingConnection connection;
        TServerCommunicationClient client(connection);
        std::thread aborter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            connection.Abort();
        });
        const QString error = ErrorOf([&] { client.GetTrackingProbability(); });
        aborter.join();
        QVERIFY2(error.contains(QLatin1String("Socket")), qPrintable(error));
        // Ended by the abort, not by the time limit.
        QVERIFY2(error.contains(QLatin1String("abort"), Qt::CaseInsensitive), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestTrackingClient)
#include "tst_trackingClient.moc"
