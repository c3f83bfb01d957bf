// vorlandt-tracking-server --port N --db FILE --probability P [--refuse TEXT]: the reference
// tracking server for tests and demos. Prints the address it listens on; ends on SIGTERM or SIGINT.
#include "TrackingServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/signalfd.h>
#include <unistd.h>

namespace {

int Fail(const QString& message)
{
    std::fprintf(stderr, "vorlandt-tracking-server: %s\n", message.toLocal8Bit().constData());
    return 2;
}

}  // namespace

int main(int argc, char* argv[])
{
    // Blocked before any thread exists, so that every thread inherits the mask and the stopSignals
    // arrive only through the descriptor, inside the event loop.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reference tracking server of the Vorlandt Online Updater"));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port on 127.0.0.1 (0: any free one)"),
                                        QStringLiteral("N"), QStringLiteral("7211"));
    const QCommandLineOption dbOption(QStringLiteral("db"), QStringLiteral("SQLite file for the calls"),
                                      QStringLiteral("FILE"));
    const QCommandLineOption probabilityOption(QStringLiteral("probability"),
                                               QStringLiteral("Answer of GetTrackingProbability"),
                                               QStringLiteral("P"), QStringLiteral("101"));
    const QCommandLineOption refuseOption(QStringLiteral("refuse"),
                                          QStringLiteral("Answer calls with this parameter with an error"),
                                          QStringLiteral("TEXT"));
    parser.addOptions({portOption, dbOption, probabilityOption, refuseOption});
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535)
        return Fail(QStringLiteral("--port braucht eine Zahl von 0 bis 65535"));
    const qint32 probability = parser.value(probabilityOption).toInt(&ok);
    if (!ok)
        return Fail(QStringLiteral("--probability braucht eine 32-Bit-Zahl"));
    if (parser.value(dbOption).isEmpty())
        return Fail(QStringLiteral("--db FILE fehlt"));

    const int signalFd = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0)
        return Fail(QStringLiteral("signalfd: ") + QString::fromLocal8Bit(std::strerror(errno)));
    QSocketNotifier notifier(signalFd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [signalFd] {
        signalfd_siginfo info;
        while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        QCoreApplication::quit();
    });

    TTrackingServer server(probability, parser.value(refuseOption));
    QString error;
    if (!server.OpenDatabase(parser.value(dbOption), error))
        return Fail(QStringLiteral("Datenbank: ") + error);
    if (!server.Listen(static_cast<quint16>(port), error))
        return Fail(QStringLiteral("Port %1: %2").arg(port).arg(error));
    std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.Port()));
    std::fflush(stdout);

    const int result = app.exec();
    close(signalFd);
    return result;
}
