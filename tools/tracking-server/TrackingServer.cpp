// A deliberately small HTTP/1.1 server: one GET per connection, answered and closed. It only
// ever listens on the loopback address.
#include "TrackingServer.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <sqlite3.h>

namespace {

// A request head longer than this is not one of ours.
constexpr qsizetype MaxRequestHead = 16 * 1024;
// A client that connects and sends nothing is dropped after this.
constexpr int IdleTimeoutMs = 10000;

const QByteArray MethodPrefix = QByteArrayLiteral("/datasnap/rest/TServerCommunication/");

// The parameter types of each method in wire order: 's' text, 'i' 32-bit integer.
const QHash<QString, QByteArray>& Methods()
{
    static const QHash<QString, QByteArray> methods{
        {QStringLiteral("SendMouseEvent"), QByteArrayLiteral("siisssssii")},
        {QStringLiteral("SendKeyboardEvent"), QByteArrayLiteral("siisssssi")},
        {QStringLiteral("SendUserEvent"), QByteArrayLiteral("siissssssi")},
        {QStringLiteral("GetTrackingProbability"), QByteArray()},
    };
    return methods;
}

QByteArray ErrorBody(const QString& message)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), message}}).toJson(QJsonDocument::Compact);
}

QByteArray ResultBody(const QJsonValue& value)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("result"), QJsonArray{value}}})
        .toJson(QJsonDocument::Compact);
}

QByteArray StatusText(int status)
{
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 431:
            return "Request Header Fields Too Large";
        default:
            return "Internal Server Error";
    }
}

}  // namespace

TTrackingServer::TTrackingServer(qint32 probability, QString refuse, QObject* parent)
    : QObject(parent), FProbability(probability), FRefuse(std::move(refuse)), FServer(new QTcpServer(this))
{
    connect(FServer, &QTcpServer::newConnection, this, &TTrackingServer::Accept);
}

TTrackingServer::~TTrackingServer()
{
    if (FDatabase != nullptr)
        sqlite3_close(FDatabase);
}

bool TTrackingServer::OpenDatabase(const QString& fileName, QString& error)
{
    if (sqlite3_open_v2(fileName.toUtf8().constData(), &FDatabase, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        error = QString::fromUtf8(FDatabase != nullptr ? sqlite3_errmsg(FDatabase) : "out of memory");
        return false;
    }
    // Tests read the file while the server writes it.
    sqlite3_busy_timeout(FDatabase, 5000);
    char* message = nullptr;
    if (sqlite3_exec(FDatabase,
                     "CREATE TABLE IF NOT EXISTS calls(id INTEGER PRIMARY KEY, method TEXT, params TEXT)",
                     nullptr, nullptr, &message) != SQLITE_OK) {
        error = QString::fromUtf8(message != nullptr ? message : sqlite3_errmsg(FDatabase));
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool TTrackingServer::Listen(quint16 port, QString& error)
{
    if (!FServer->listen(QHostAddress::LocalHost, port)) {
        error = FServer->errorString();
        return false;
    }
    return true;
}

quint16 TTrackingServer::Port() const
{
    return FServer->serverPort();
}

void TTrackingServer::Accept()
{
    while (QTcpSocket* socket = FServer->nextPendingConnection()) {
        socket->setParent(this);
        FRequests.insert(socket, QByteArray());
        auto* idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
        idle->start(IdleTimeoutMs);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            FRequests.remove(socket);
            socket->deleteLater();
        });
    }
}

void TTrackingServer::Read(QTcpSocket* socket)
{
    auto request = FRequests.find(socket);
    if (request == FRequests.end())
        return;
    request->append(socket->readAll());
    const qsizetype end = request->indexOf("\r\n\r\n");
    if (end < 0 && request->size() <= MaxRequestHead)
        return;
    TAnswer answer = end < 0 || end > MaxRequestHead
                         ? TAnswer{431, ErrorBody(QStringLiteral("Anfrage zu lang"))}
                         : Handle(request->left(end));
    FRequests.erase(request);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->write("HTTP/1.1 " + QByteArray::number(answer.Status) + ' ' + StatusText(answer.Status) +
                  "\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(answer.Body.size()) + "\r\nConnection: close\r\n\r\n" + answer.Body);
    socket->disconnectFromHost();
}

TTrackingServer::TAnswer TTrackingServer::Handle(const QByteArray& requestHead)
{
    const QByteArray requestLine = requestHead.left(requestHead.indexOf("\r\n"));
    const QList<QByteArray> parts = requestLine.split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/1."))
        return {400, ErrorBody(QStringLiteral("Ungültige Anfrage"))};
    if (parts[0] != "GET")
        return {405, ErrorBody(QStringLiteral("Nur GET wird unterstützt"))};
    QByteArray target = parts[1];
    if (const qsizetype query = target.indexOf('?'); query >= 0)
        target.truncate(query);
    if (!target.startsWith(MethodPrefix))
        return {404, ErrorBody(QStringLiteral("Unbekannte Adresse"))};

    // Empty segments are empty parameters, so the split keeps them.
    const QList<QByteArray> segments = target.mid(MethodPrefix.size()).split('/');
    const QString method = QString::fromUtf8(QByteArray::fromPercentEncoding(segments.first()));
    QStringList parameters;
    for (qsizetype i = 1; i < segments.size(); ++i)
        parameters << QString::fromUtf8(QByteArray::fromPercentEncoding(segments[i]));
    return Call(method, parameters);
}

TTrackingServer::TAnswer TTrackingServer::Call(const QString& method, const QStringList& parameters)
{
    const auto found = Methods().constFind(method);
    if (found == Methods().constEnd())
        return {404, ErrorBody(QStringLiteral("Unbekannte Methode \"%1\"").arg(method))};
    const QByteArray& types = found.value();
    if (parameters.size() != types.size())
        return {400, ErrorBody(QStringLiteral("%1 erwartet %2 Parameter, erhalten: %3")
                                   .arg(method)
                                   .arg(types.size())
                                   .arg(parameters.size()))};
    if (!FRefuse.isEmpty() && parameters.contains(FRefuse))
        return {500, ErrorBody(QStringLiteral("Abgelehnt: ") + FRefuse)};

    QJsonArray params;
    for (qsizetype i = 0; i < parameters.size(); ++i) {
        if (types[i] == 'i') {
            bool ok = false;
            const qint32 value = parameters[i].toInt(&ok);
            if (!ok)
                return {400, ErrorBody(QStringLiteral("Parameter %1 von %2 ist keine 32-Bit-Zahl: \"%3\"")
                                           .arg(i)
                                           .arg(method, parameters[i]))};
            params.append(value);
        } else {
            params.append(parameters[i]);
        }
    }
    QString error;
    if (!Store(method, QJsonDocument(params).toJson(QJsonDocument::Compact), error))
        return {500, ErrorBody(QStringLiteral("Speichern fehlgeschlagen: ") + error)};
    if (method == QLatin1String("GetTrackingProbability"))
        return {200, ResultBody(FProbability)};
    return {200, ResultBody(true)};
}

bool TTrackingServer::Store(const QString& method, const QByteArray& params, QString& error)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(FDatabase, "INSERT INTO calls(method, params) VALUES(?, ?)", -1, &statement,
                           nullptr) != SQLITE_OK) {
        error = QString::fromUtf8(sqlite3_errmsg(FDatabase));
        return false;
    }
    const QByteArray methodUtf8 = method.toUtf8();
    sqlite3_bind_text(statement, 1, methodUtf8.constData(), static_cast<int>(methodUtf8.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 2, params.constData(), static_cast<int>(params.size()), SQLITE_TRANSIENT);
    const bool done = sqlite3_step(statement) == SQLITE_DONE;
    if (!done)
        error = QString::fromUtf8(sqlite3_errmsg(FDatabase));
    sqlite3_finalize(statement);
    return done;
}
