// The reference tracking server as a child process of a test, with the calls it stored.
#pragma once

#include <QJsonArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

struct TStoredCall {
    QString Method;
    QJsonArray Params;
};

class TTrackingServerProcess {
public:
    // `databaseFile` is created by the server when missing.
    explicit TTrackingServerProcess(QString databaseFile);
    ~TTrackingServerProcess();

    // Starts the server answering `probability`; port 0 picks a free port, which Port() then
    // tells. Further arguments (e.g. "--refuse", "X") are passed on. False when it did not start.
    bool Start(qint32 probability, quint16 port = 0, const QStringList& moreArguments = {});
    // SIGTERM and wait; true when it ended cleanly with exit code 0.
    bool Stop();
    // SIGSTOP / SIGCONT: a server that accepts connections and never answers.
    void Freeze();
    void Thaw();
    quint16 Port() const { return FPort; }

    // Every call stored so far, in order.
    QList<TStoredCall> Calls() const;
    // The method names of Calls() with the description of user events, e.g.
    // "SendUserEvent:Tracker-Start", "SendMouseEvent", "SendKeyboardEvent".
    QStringList Summary() const;

private:
    QString FDatabaseFile;
    QProcess FProcess;
    quint16 FPort = 0;
};
