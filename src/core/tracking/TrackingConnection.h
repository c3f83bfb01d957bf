// The connection to the tracking server: its configuration as name/value parameters, the check
// that the server can be reached, and one remote call in DataSnap's REST form over HTTP
// (docs/tracking-protocol.md). Used by one thread at a time; Abort may come from any thread.
#pragma once

#include <QJsonValue>
#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>

class TTrackingConnection {
public:
    // The fixed port of the tracking server; $VORLANDT_TRACKING_PORT (1 to 65535) names another,
    // so that tests and demos can run a server of their own beside a real one.
    static constexpr quint16 DefaultPort = 7211;
    // A host that does not answer the connection attempt in this time counts as unreachable.
    static constexpr int ConnectTimeoutMs = 3000;
    // The longest a single call may take, connecting included.
    static constexpr int CallTimeoutMs = 5000;
    // An answer is a few bytes of JSON; more is not a tracking server.
    static constexpr qint64 MaxAnswerBytes = 64 * 1024;

    // The parameters of the connection, "HostName" from the settings store, "Port" as above,
    // looked up anew for every connection.
    TTrackingConnection();

    // Name/value configuration ("HostName", "Port", "DatasnapContext", ...).
    QMap<QString, QString> Params;

    // Connects once to the host to see that it is there; raises an error containing "Socket"
    // when it is not.
    void Open();
    void Close() { FConnected = false; }
    bool Connected() const { return FConnected; }

    // Calls `method` ("TServerCommunication.SendUserEvent") with the parameters as wire texts and
    // returns the first element of the answer's result. Raises the server's message when it
    // answers with an error, an error containing "Socket" when the transport fails.
    QJsonValue Call(const QString& method, const QStringList& parameters);

    // The address a call goes to, for the logs and the tests.
    QByteArray MethodAddress(const QString& method, const QStringList& parameters) const;

    // Cancels a running call or connection attempt (within about a second) and every later one;
    // for giving up at the end of the program. Any thread.
    void Abort() { FAborted.store(true); }
    bool Aborted() const { return FAborted.load(); }

private:
    QByteArray BaseAddress() const;

    bool FConnected = false;
    std::atomic<bool> FAborted{false};
};
