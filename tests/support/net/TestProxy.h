// A real tinyproxy on 127.0.0.1 with Basic authentication for the proxy tests.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class TTestProxy {
public:
    TTestProxy() = default;
    ~TTestProxy();
    TTestProxy(const TTestProxy&) = delete;
    TTestProxy& operator=(const TTestProxy&) = delete;

    // Listens on a free port, asks for user and password, and tunnels CONNECT only to
    // connectPort. Returns an empty string once it accepts connections, else what failed.
    QString Start(const QString& user, const QString& password, int connectPort);
    void Stop();

    int Port() const { return FPort; }
    // Everything tinyproxy logged so far (requests included).
    QString Log() const;

    // tinyproxy, or an empty string when it is not installed.
    static QString Program();

private:
    QString TryStart(const QString& user, const QString& password, int connectPort);

    std::unique_ptr<QProcess> FProcess;
    QTemporaryDir FDir;
    int FPort = 0;
};
