// tinyproxy takes its port from its configuration, so the test picks a free one first and
// retries when another process takes it in between.
#include "support/net/TestProxy.h"

#include "support/net/ChildProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

}  // namespace

TTestProxy::~TTestProxy()
{
    Stop();
}

QString TTestProxy::Program()
{
    QString program = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"), {QStringLiteral("/usr/sbin")});
    return program;
}

QString TTestProxy::Start(const QString& user, const QString& password, int connectPort)
{
    QString error;
    for (int attempt = 0; attempt < 3; ++attempt) {
        error = TryStart(user, password, connectPort);
        if (error.isEmpty())
            return error;
    }
    return error;
}

QString TTestProxy::TryStart(const QString& user, const QString& password, int connectPort)
{
    Stop();
    if (Program().isEmpty())
        return QStringLiteral("tinyproxy is not installed");
    FPort = FreeLoopbackPort();
    if (FPort == 0)
        return QStringLiteral("no free port");
    const QString logFile = FDir.filePath(QStringLiteral("tinyproxy.log"));
    QFile::remove(logFile);
    const QString configFile = FDir.filePath(QStringLiteral("tinyproxy.conf"));
    QFile config(configFile);
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return config.errorString();
    config.write(QStringLiteral("Port %1\n"
                                "Listen 127.0.0.1\n"
                                "Timeout 30\n"
                                "LogFile \"%2\"\n"
                                "LogLevel Info\n"
                                "PidFile \"%3\"\n"
                                "MaxClients 10\n"
                                "Allow 127.0.0.1\n"
                                "BasicAuth %4 %5\n"
                                "ConnectPort %6\n")
                     .arg(FPort)
                     .arg(logFile, FDir.filePath(QStringLiteral("tinyproxy.pid")), user, password)
                     .arg(connectPort)
                     .toUtf8());
    config.close();

    FProcess = std::make_unique<QProcess>();
    FProcess->setProcessChannelMode(QProcess::MergedChannels);
    EndWithParent(*FProcess);
    FProcess->start(Program(), {QStringLiteral("-d"), QStringLiteral("-c"), configFile});
    if (!FProcess->waitForStarted(10000))
        return QStringLiteral("tinyproxy did not start: ") + FProcess->errorString();
    // tinyproxy says in its log when it listens; a process that ends instead lost the port.
    const QDeadlineTimer deadline(10000);
    while (!Log().contains(QStringLiteral("Accepting connections"))) {
        if (FProcess->state() != QProcess::Running || deadline.hasExpired())
            return QStringLiteral("tinyproxy does not listen: ") + Log() +
                   QString::fromLocal8Bit(FProcess->readAll());
        QThread::msleep(10);
    }
    return QString();
}

void TTestProxy::Stop()
{
    if (!FProcess)
        return;
    FProcess->terminate();
    if (!FProcess->waitForFinished(3000))
        FProcess->kill();
    FProcess->waitForFinished(3000);
    FProcess.reset();
}

QString TTestProxy::Log() const
{
    QFile file(FDir.filePath(QStringLiteral("tinyproxy.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
