// HTTP on libcurl, deliberately narrow: plain GET to the one configured host, no proxy, no
// redirects, short time limits, a bounded answer.
#include "core/tracking/TrackingConnection.h"

#include "core/platform/VorlandtError.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QUrl>

#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace {

std::atomic<quint16> TestPort{0};

void EnsureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TCurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using TCurlHandle = std::unique_ptr<CURL, TCurlDeleter>;

struct TAnswer {
    QByteArray Body;
    bool TooLarge = false;
    const std::atomic<bool>* Aborted = nullptr;
};

size_t CollectAnswer(char* data, size_t size, size_t count, void* userData)
{
    auto* answer = static_cast<TAnswer*>(userData);
    const size_t length = size * count;
    if (answer->Body.size() + static_cast<qint64>(length) > TTrackingConnection::MaxAnswerBytes) {
        answer->TooLarge = true;
        return 0;
    }
    answer->Body.append(data, static_cast<qsizetype>(length));
    return length;
}

int CheckAbort(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const TAnswer*>(userData)->Aborted->load() ? 1 : 0;
}

QString SocketError(CURLcode code, const char* errorBuffer, const QByteArray& address)
{
    const QString detail = errorBuffer[0] != '\0' ? QString::fromUtf8(errorBuffer).trimmed()
                                                  : QString::fromUtf8(curl_easy_strerror(code));
    return QStringLiteral("Socket-Fehler bei %1: %2").arg(QString::fromUtf8(address), detail);
}

// Everything both the connection check and a call share.
TCurlHandle NewHandle(const QByteArray& address, TAnswer& answer, char* errorBuffer)
{
    EnsureCurlInitialised();
    TCurlHandle curl(curl_easy_init());
    if (!curl)
        throw EVorlandtError(QStringLiteral("Socket-Fehler: libcurl lässt sich nicht initialisieren"));
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, address.constData());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    // Signals cannot carry the time limits on a worker thread.
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
    // Usage data goes to the configured host and nowhere else: no proxy from the environment,
    // no redirect to another address.
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    // A parameter "." or ".." must reach the server as a parameter, not as a step up the path.
    curl_easy_setopt(c, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(TTrackingConnection::ConnectTimeoutMs));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(TTrackingConnection::CallTimeoutMs));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CollectAnswer);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &CheckAbort);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &answer);
    return curl;
}

}  // namespace

TTrackingConnection::TTrackingConnection()
{
    Params.insert(QStringLiteral("DriverName"), QStringLiteral("DataSnap"));
    Params.insert(QStringLiteral("LoginPrompt"), QStringLiteral("False"));
    Params.insert(QStringLiteral("DriverUnit"), QStringLiteral("Data.DBXDataSnap"));
    Params.insert(QStringLiteral("HostName"),
                  ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::Standardeinstellungen,
                                  SettingsKeys::TrackingHost, SettingsKeys::TrackingHostDefault));
    const quint16 port = TestPort.load();
    Params.insert(QStringLiteral("Port"), QString::number(port != 0 ? port : DefaultPort));
    Params.insert(QStringLiteral("CommunicationProtocol"), QStringLiteral("tcp/ip"));
    Params.insert(QStringLiteral("DatasnapContext"), QStringLiteral("datasnap/"));
    Params.insert(QStringLiteral("DriverAssemblyLoader"),
                  QStringLiteral("Vorlandt.Tracking.TRestCallLoader,libcurl"));
    Params.insert(QStringLiteral("Filters"), QStringLiteral("{}"));
}

void TTrackingConnection::SetPortForTesting(quint16 port)
{
    TestPort.store(port);
}

QByteArray TTrackingConnection::BaseAddress() const
{
    const QString host = Params.value(QStringLiteral("HostName")).trimmed();
    bool portOk = false;
    const uint port = Params.value(QStringLiteral("Port")).toUInt(&portOk);
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host, QUrl::StrictMode);
    if (host.isEmpty() || !url.isValid() || url.host().isEmpty() || !portOk || port == 0 || port > 65535)
        throw EVorlandtError(QStringLiteral("Socket-Fehler: ungültige Adresse des Tracking-Servers \"%1:%2\"")
                                 .arg(host, Params.value(QStringLiteral("Port"))));
    url.setPort(static_cast<int>(port));
    QByteArray context = Params.value(QStringLiteral("DatasnapContext")).toUtf8();
    if (!context.endsWith('/'))
        context.append('/');
    return url.toEncoded() + '/' + context + "rest/";
}

QByteArray TTrackingConnection::MethodAddress(const QString& method, const QStringList& parameters) const
{
    // "TServerCommunication.SendUserEvent" is the class and the method of the server.
    QByteArray address = BaseAddress() + QUrl::toPercentEncoding(method.section(u'.', 0, 0)) + '/' +
                         QUrl::toPercentEncoding(method.section(u'.', 1));
    for (const QString& parameter : parameters)
        address += '/' + QUrl::toPercentEncoding(parameter, QByteArray(), QByteArrayLiteral("."));
    return address;
}

void TTrackingConnection::Open()
{
    FConnected = false;
    const QByteArray address = BaseAddress();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    TAnswer answer;
    answer.Aborted = &FAborted;
    TCurlHandle curl = NewHandle(address, answer, errorBuffer);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(ConnectTimeoutMs));
    const CURLcode code = curl_easy_perform(curl.get());
    if (code != CURLE_OK)
        throw EVorlandtError(SocketError(code, errorBuffer, address));
    FConnected = true;
}

QJsonValue TTrackingConnection::Call(const QString& method, const QStringList& parameters)
{
    const QByteArray address = MethodAddress(method, parameters);
    char errorBuffer[CURL_ERROR_SIZE] = {};
    TAnswer answer;
    answer.Aborted = &FAborted;
    TCurlHandle curl = NewHandle(address, answer, errorBuffer);
    curl_easy_setopt(curl.get(), CURLOPT_HTTPGET, 1L);
    const CURLcode code = curl_easy_perform(curl.get());
    if (answer.TooLarge)
        throw EVorlandtError(
            QStringLiteral("Die Antwort des Tracking-Servers auf %1 ist zu lang").arg(method));
    if (code != CURLE_OK)
        throw EVorlandtError(SocketError(code, errorBuffer, address));

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(answer.Body, &parseError);
    const QJsonObject object = document.object();
    if (object.contains(QStringLiteral("error"))) {
        const QString message = object.value(QStringLiteral("error")).toString();
        throw EVorlandtError(
            message.isEmpty() ? QStringLiteral("Der Tracking-Server meldet einen Fehler bei %1").arg(method)
                              : message);
    }
    const QJsonArray result = object.value(QStringLiteral("result")).toArray();
    if (parseError.error != QJsonParseError::NoError || result.isEmpty()) {
        long status = 0;
        curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
        throw EVorlandtError(QStringLiteral("Ungültige Antwort des Tracking-Servers auf %1 (Status %2)")
                                 .arg(method)
                                 .arg(status));
    }
    return result.first();
}
