// The loopback HTTPS test server for benchmarks: a self-signed certificate, the server of
// tests/support on a folder of served files, and a private settings store.
#pragma once

#include "support/PrivateStores.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

// Files below Root() are served; fill it before the first request.
struct TBenchHttpsServer {
    TPrivateStores Stores;
    QProcess Server;
    int Port = 0;
    QString Error;

    TBenchHttpsServer()
    {
        QDir().mkpath(Root());

        QProcess openssl;
        openssl.setWorkingDirectory(Stores.Path());
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStandardPaths::findExecutable(QStringLiteral("openssl")),
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                       "-days", "1", "-subj", "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1",
                       "-keyout", "server.key", "-out", "server.pem"});
        if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
            Error = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(openssl.readAll());
            return;
        }
        qputenv("SSL_CERT_FILE", CertFile().toUtf8());

        const QString script = QStringLiteral(VORLANDT_SOURCE_DIR "/tests/support/https_server.py");
        Server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Server.start(QStandardPaths::findExecutable(QStringLiteral("python3")),
                     {script, "--cert", CertFile(), "--key", Stores.FilePath(QStringLiteral("server.key")),
                      "--root", Root(), "--lifetime", "600"});
        while (Server.waitForReadyRead(10000) && !Server.canReadLine()) {
        }
        Port = Server.readLine().trimmed().toInt();
        if (Port == 0)
            Error = QStringLiteral("the test server did not start");
    }

    ~TBenchHttpsServer()
    {
        Server.closeWriteChannel();
        if (!Server.waitForFinished(3000))
            Server.kill();
    }

    QString Root() const { return Stores.FilePath(QStringLiteral("www")); }
    QString CertFile() const { return Stores.FilePath(QStringLiteral("server.pem")); }

    QString Url(const QString& path) const
    {
        return QStringLiteral("https://127.0.0.1:%1%2").arg(Port).arg(path);
    }

    static bool WriteFile(const QString& path, const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
    }
};
