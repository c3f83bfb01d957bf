// nginx from Debian on 127.0.0.1 as a child process for benchmarks: TLS 1.2, a folder of files,
// an access log naming the connection of every request. Ends with the fixture.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QThread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

struct TBenchNginx {
    QProcess Process;
    int Port = 0;
    QString Error;
    QString Folder;

    // A port nobody listens on right now.
    static int FreePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(fd);
        return port;
    }

    static bool Accepts(int port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }

    // Serves root from `folder` (which holds its configuration and logs); with `http2`, HTTP/2 is
    // offered in the TLS handshake.
    void Start(const QString& folder, const QString& cert, const QString& key, const QString& root,
               bool http2 = false)
    {
        Folder = folder;
        const QString nginx = QStandardPaths::findExecutable(
            QStringLiteral("nginx"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        if (nginx.isEmpty()) {
            Error = QStringLiteral("nginx missing");
            return;
        }
        QDir().mkpath(folder + QStringLiteral("/tmp"));
        Port = FreePort();
        const QString config =
            QStringLiteral(
                "daemon off; master_process off; worker_processes 1; pid %1/nginx.pid;\n"
                "error_log %1/error.log warn;\n"
                "events { worker_connections 512; }\n"
                "http {\n"
                "  log_format conn '$connection $connection_requests $request_method $uri $status';\n"
                "  access_log %1/access.log conn;\n"
                "  client_body_temp_path %1/tmp; proxy_temp_path %1/tmp; fastcgi_temp_path %1/tmp;\n"
                "  uwsgi_temp_path %1/tmp; scgi_temp_path %1/tmp;\n"
                "  default_type application/octet-stream; keepalive_requests 10000;\n"
                "  server {\n"
                "    listen 127.0.0.1:%2 ssl%6; ssl_protocols TLSv1.2;\n"
                "    ssl_certificate %3; ssl_certificate_key %4; root %5;\n"
                "  }\n"
                "}\n")
                .arg(folder)
                .arg(Port)
                .arg(cert, key, root, http2 ? QStringLiteral(" http2") : QString());
        QFile file(folder + QStringLiteral("/nginx.conf"));
        if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
            Error = QStringLiteral("cannot write the nginx configuration");
            return;
        }
        file.close();
        Process.setProcessChannelMode(QProcess::ForwardedChannels);
        Process.start(nginx, {"-p", folder, "-e", folder + QStringLiteral("/error.log"), "-c",
                              folder + QStringLiteral("/nginx.conf")});
        for (int i = 0; i < 100 && !Accepts(Port); ++i)
            QThread::msleep(50);
        if (!Accepts(Port))
            Error = QStringLiteral("nginx did not start");
    }

    ~TBenchNginx()
    {
        if (Process.state() != QProcess::NotRunning) {
            Process.terminate();
            if (!Process.waitForFinished(3000))
                Process.kill();
        }
    }

    QString AccessLog() const { return Folder + QStringLiteral("/access.log"); }
};
