// The reference tracking server: answers the four remote methods of the tracking client in
// DataSnap's REST form on the loopback address and keeps every call in an SQLite table, so that
// tests and demos can see exactly what a client sent.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

struct sqlite3;
class QTcpServer;
class QTcpSocket;

class TTrackingServer : public QObject {
    Q_OBJECT
public:
    // Answers GetTrackingProbability with `probability`; calls with a parameter equal to
    // `refuse` (when not empty) are answered with an error and not stored.
    TTrackingServer(qint32 probability, QString refuse, QObject* parent = nullptr);
    ~TTrackingServer() override;

    // Opens (creating when missing) the database with its table; false with `error` set.
    bool OpenDatabase(const QString& fileName, QString& error);
    // Listens on 127.0.0.1; port 0 picks a free one. False with `error` set.
    bool Listen(quint16 port, QString& error);
    quint16 Port() const;

private:
    struct TAnswer {
        int Status = 200;
        QByteArray Body;
    };

    void Accept();
    void Read(QTcpSocket* socket);
    TAnswer Handle(const QByteArray& requestHead);
    TAnswer Call(const QString& method, const QStringList& parameters);
    bool Store(const QString& method, const QByteArray& params, QString& error);

    qint32 FProbability;
    QString FRefuse;
    QTcpServer* FServer;
    sqlite3* FDatabase = nullptr;
    QHash<QTcpSocket*, QByteArray> FRequests;
};
