// Short-lived EC certificates: quick to make, and enough for any TLS 1.2 handshake.
#include "support/net/TestPki.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace {

QString RunOpenssl(const QString& folder, const QStringList& arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(TTestPki::OpensslProgram(), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0)
        return QStringLiteral("openssl %1 failed: %2")
            .arg(arguments.join(u' '), QString::fromLocal8Bit(openssl.readAll()));
    return QString();
}

// An authority (self-signed) and a server certificate for 127.0.0.1 and localhost signed by it.
QString MakeChain(const QString& folder, const QString& prefix)
{
    const QString ec = QStringLiteral("ec_paramgen_curve:prime256v1");
    QString error = RunOpenssl(
        folder, {"req", "-x509", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-days", "2", "-subj",
                 "/CN=" + prefix + " Test CA", "-keyout", prefix + "-ca.key", "-out", prefix + "-ca.pem"});
    if (!error.isEmpty())
        return error;
    error = RunOpenssl(folder, {"req", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-subj", "/CN=localhost",
                                "-keyout", prefix + "-server.key", "-out", prefix + "-server.csr"});
    if (!error.isEmpty())
        return error;
    QFile extensions(QDir(folder).filePath(prefix + "-server.ext"));
    if (!extensions.open(QIODevice::WriteOnly))
        return extensions.errorString();
    extensions.write(
        "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
        "basicConstraints=CA:FALSE\n"
        "extendedKeyUsage=serverAuth\n");
    extensions.close();
    return RunOpenssl(folder, {"x509", "-req", "-in", prefix + "-server.csr", "-CA", prefix + "-ca.pem",
                               "-CAkey", prefix + "-ca.key", "-CAcreateserial", "-days", "2", "-extfile",
                               prefix + "-server.ext", "-out", prefix + "-server.pem"});
}

}  // namespace

QString TTestPki::OpensslProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("openssl"));
}

QString TTestPki::Create(const QString& folder)
{
    if (OpensslProgram().isEmpty())
        return QStringLiteral("openssl is not installed");
    for (const QString& prefix : {QStringLiteral("trusted"), QStringLiteral("stranger")}) {
        const QString error = MakeChain(folder, prefix);
        if (!error.isEmpty())
            return error;
    }
    const QDir dir(folder);
    CaFile = dir.filePath(QStringLiteral("trusted-ca.pem"));
    ServerCert = dir.filePath(QStringLiteral("trusted-server.pem"));
    ServerKey = dir.filePath(QStringLiteral("trusted-server.key"));
    StrangerCert = dir.filePath(QStringLiteral("stranger-server.pem"));
    StrangerKey = dir.filePath(QStringLiteral("stranger-server.key"));
    return QString();
}

QString TTestPki::CreateAndTrust(const QString& folder)
{
    const QString error = Create(folder);
    if (!error.isEmpty())
        return error;
    qputenv("SSL_CERT_FILE", CaFile.toUtf8());
    qunsetenv("SSL_CERT_DIR");
    for (const char* variable : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
        qunsetenv(variable);
    return QString();
}
