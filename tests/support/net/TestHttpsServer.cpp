// The script prints its port as its first line; the test waits for that line, nothing else.
#include "support/net/TestHttpsServer.h"

#include "support/net/ChildProcess.h"
#include "support/net/TestPki.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

TTestHttpsServer::TTestHttpsServer() : FRequestLog(FLogDir.filePath(QStringLiteral("requests.jsonl"))) {}

TTestHttpsServer::~TTestHttpsServer()
{
    Stop();
}

QString TTestHttpsServer::PythonProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

QString TTestHttpsServer::Start(const QString& cert, const QString& key, const QString& root,
                                const QString& tlsMin)
{
    Stop();
    if (PythonProgram().isEmpty())
        return QStringLiteral("python3 is not installed");
    FProcess = std::make_unique<QProcess>();
    FProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    EndWithParent(*FProcess);
    const QStringList arguments = QStringList{QStringLiteral(VORLANDT_HTTPS_SERVER_SCRIPT),
                                              "--cert",
                                              cert,
                                              "--key",
                                              key,
                                              "--root",
                                              root,
                                              "--tls-min",
                                              tlsMin,
                                              "--request-log",
                                              FRequestLog} +
                                  FExtraArguments;
    FProcess->start(PythonProgram(), arguments);
    if (!FProcess->waitForStarted(10000))
        return QStringLiteral("the test server did not start: ") + FProcess->errorString();
    while (!FProcess->canReadLine()) {
        if (!FProcess->waitForReadyRead(10000))
            return QStringLiteral("the test server printed no port");
    }
    bool ok = false;
    FPort = FProcess->readLine().trimmed().toInt(&ok);
    return ok ? QString() : QStringLiteral("the test server printed no port");
}

void TTestHttpsServer::Stop()
{
    if (!FProcess)
        return;
    // Closing stdin is the server's own signal to end; terminate only if it does not.
    FProcess->closeWriteChannel();
    if (!FProcess->waitForFinished(3000)) {
        FProcess->terminate();
        if (!FProcess->waitForFinished(3000))
            FProcess->kill();
        FProcess->waitForFinished(3000);
    }
    FProcess.reset();
    FPort = 0;
}

QString TTestHttpsServer::Url(const QString& path) const
{
    return QStringLiteral("https://127.0.0.1:%1%2").arg(FPort).arg(path);
}

QList<TRecordedRequest> TTestHttpsServer::Requests() const
{
    QList<TRecordedRequest> requests;
    QFile file(FRequestLog);
    if (!file.open(QIODevice::ReadOnly))
        return requests;
    while (!file.atEnd()) {
        const QJsonObject line = QJsonDocument::fromJson(file.readLine()).object();
        requests.append({line.value(QStringLiteral("method")).toString(),
                         line.value(QStringLiteral("path")).toString(),
                         line.value(QStringLiteral("user_agent")).toString(),
                         line.value(QStringLiteral("connection")).toInt(-1)});
    }
    return requests;
}

void TTestHttpsServer::ClearRequests()
{
    QFile::remove(FRequestLog);
}

QString TrustedLoopbackPki(TTestPki& pki, const QTemporaryDir& folder)
{
    if (TTestPki::OpensslProgram().isEmpty() || TTestHttpsServer::PythonProgram().isEmpty())
        return QStringLiteral("openssl or python3 missing: no loopback HTTPS server");
    if (!folder.isValid())
        return QStringLiteral("no temporary folder");
    return pki.CreateAndTrust(folder.path());
}
