// HTTP on libcurl, deliberately narrow: plain GET to the one configured host, no proxy, no
// redirects, short time limits, a bounded answer.
#include "core/tracking/TrackingConnection.h"

#include "core/platform/net/CurlEasy.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/net/CurlLibrary.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QUrl>

#include <atomic>

namespace {

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

// $VORLANDT_TRACKING_PORT when it holds a port number, else the fixed port.
quint16 ServerPort()
{
    bool ok = false;
    const uint port = qgetenv("VORLANDT_TRACKING_PORT").toUInt(&ok);
    return ok && port > 0 && port <= 65535 ? static_cast<quint16>(port) : TTrackingConnection::DefaultPort;
}

int CheckAbort(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const TAnswer*>(userData)->Aborted->load() ? 1 : 0;
}

QString SocketError(const platform::TCurlEasy& curl, CURLcode code, const QByteArray& address)
{
    return QStringLiteral("Socket-Fehler bei %1: %2").arg(QString::fromUtf8(address), curl.ErrorText(code));
}

// Everything both the connection check and a call share. Usage data goes to the configured host
// and nowhere else: plain HTTP, no proxy from the environment, no redirect (refused by the
// common set-up) to another address.
void Configure(platform::TCurlEasy& curl, const QByteArray& address, TAnswer& answer)
{
    if (!curl.valid())
        throw EVorlandtError(QStringLiteral("Socket-Fehler: libcurl lässt sich nicht initialisieren"));
    CURL* c = curl.get();
    platform::Curl().easy_setopt(c, CURLOPT_URL, address.constData());
    curl.SetDirect();
    // A parameter "." or ".." must reach the server as a parameter, not as a step up the path.
    platform::Curl().easy_setopt(c, CURLOPT_PATH_AS_IS, 1L);
    platform::Curl().easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS,
                                 static_cast<long>(TTrackingConnection::ConnectTimeoutMs));
    platform::Curl().easy_setopt(c, CURLOPT_TIMEOUT_MS,
                                 static_cast<long>(TTrackingConnection::CallTimeoutMs));
    platform::Curl().easy_setopt(c, CURLOPT_WRITEFUNCTION, &CollectAnswer);
    platform::Curl().easy_setopt(c, CURLOPT_WRITEDATA, &answer);
    platform::Curl().easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    platform::Curl().easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &CheckAbort);
    platform::Curl().easy_setopt(c, CURLOPT_XFERINFODATA, &answer);
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
    Params.insert(QStringLiteral("Port"), QString::number(ServerPort()));
    Params.insert(QStringLiteral("CommunicationProtocol"), QStringLiteral("tcp/ip"));
    Params.insert(QStringLiteral("DatasnapContext"), QStringLiteral("datasnap/"));
    Params.insert(QStringLiteral("DriverAssemblyLoader"),
                  QStringLiteral("Vorlandt.Tracking.TRestCallLoader,libcurl"));
    Params.insert(QStringLiteral("Filters"), QStringLiteral("{}"));
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
    TAnswer answer;
    answer.Aborted = &FAborted;
    platform::TCurlEasy curl("http");
    Configure(curl, address, answer);
    platform::Curl().easy_setopt(curl.get(), CURLOPT_CONNECT_ONLY, 1L);
    platform::Curl().easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(ConnectTimeoutMs));
    const CURLcode code = curl.Perform();
    if (code != CURLE_OK)
        throw EVorlandtError(SocketError(curl, code, address));
    FConnected = true;
}

QJsonValue TTrackingConnection::Call(const QString& method, const QStringList& parameters)
{
    const QByteArray address = MethodAddress(method, parameters);
    TAnswer answer;
    answer.Aborted = &FAborted;
    platform::TCurlEasy curl("http");
    Configure(curl, address, answer);
    platform::Curl().easy_setopt(curl.get(), CURLOPT_HTTPGET, 1L);
    const CURLcode code = curl.Perform();
    if (answer.TooLarge)
        throw EVorlandtError(
            QStringLiteral("Die Antwort des Tracking-Servers auf %1 ist zu lang").arg(method));
    if (code != CURLE_OK)
        throw EVorlandtError(SocketError(curl, code, address));

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
        const long status = curl.ResponseCode();
        throw EVorlandtError(QStringLiteral("Ungültige Antwort des Tracking-Servers auf %1 (Status %2)")
                                 .arg(method)
                                 .arg(status));
    }
    return result.first();
}
