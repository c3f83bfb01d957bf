// Runs tests/support/https_server.py on 127.0.0.1 for one test suite and reads back the
// requests it saw (method, path, user agent, connection; a connection refused for being one too
// many shows as method "REFUSED").
#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class TTestPki;

struct TRecordedRequest {
    QString Method;
    QString Path;
    QString UserAgent;
    int Connection = -1;  // the same number for requests over the same connection
};

class TTestHttpsServer {
public:
    TTestHttpsServer();
    ~TTestHttpsServer();
    TTestHttpsServer(const TTestHttpsServer&) = delete;
    TTestHttpsServer& operator=(const TTestHttpsServer&) = delete;

    // Serves the files below root. tlsMin "1.3" refuses TLS 1.2 clients. Returns an empty
    // string once the server listens, else what failed.
    QString Start(const QString& cert, const QString& key, const QString& root,
                  const QString& tlsMin = QStringLiteral("1.2"));
    void Stop();
    // More of the server's options (--max-connections N, --idle-timeout S) for the next Start.
    void SetExtraArguments(const QStringList& arguments) { FExtraArguments = arguments; }

    int Port() const { return FPort; }
    // "https://127.0.0.1:<port>" followed by path (which starts with "/").
    QString Url(const QString& path) const;

    QList<TRecordedRequest> Requests() const;
    void ClearRequests();

    // python3, or an empty string when it is not installed.
    static QString PythonProgram();

private:
    std::unique_ptr<QProcess> FProcess;
    QTemporaryDir FLogDir;
    QString FRequestLog;
    QStringList FExtraArguments;
    int FPort = 0;
};

// Certificates for the loopback server made in `folder` and trusted by this process, with no
// proxy taken from the environment; the reason to skip when openssl, python3 or the folder is
// missing or the certificates cannot be made, else empty.
QString TrustedLoopbackPki(TTestPki& pki, const QTemporaryDir& folder);
