// vorlandt-tracking-server --db FILE [--port N] [--probability P] [--refuse TEXT]: the reference
// tracking server for tests and demos. Prints the address it listens on; ends on SIGTERM or SIGINT.
#include "TrackingServer.h"

#include "core/platform/VorlandtError.h"
#include "core/services/CommandLineHelp.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using cli::TUsageError;

const char UsageText[] =
    "Aufruf: vorlandt-tracking-server --db DATEI [--port N] [--probability P] [--refuse TEXT]\n"
    "Referenz-Tracking-Server des Vorlandt Online-Updaters für Tests und Vorführungen: nimmt die\n"
    "Aufrufe der Tracking-Schnittstelle auf 127.0.0.1 entgegen und speichert sie in einer\n"
    "SQLite-Datei. Gibt die Adresse aus, an der er lauscht; endet mit SIGTERM oder SIGINT.\n"
    "\n"
    "  --db DATEI        SQLite-Datei für die Aufrufe (wird angelegt)\n"
    "  --port N          Port auf 127.0.0.1, 0: ein freier (Vorgabe 7211)\n"
    "  --probability P   Antwort auf GetTrackingProbability (Vorgabe 101)\n"
    "  --refuse TEXT     Aufrufe mit diesem Parameter mit einem Fehler beantworten\n"
    "  --help            diese Hilfe ausgeben\n"
    "  --version         Versionsnummer ausgeben\n"
    "\n"
    "Exit-Status: 0 Ende nach SIGTERM oder SIGINT, 1 Start fehlgeschlagen (Datenbank oder Port;\n"
    "Meldung auf stderr), 2 falscher Aufruf.\n";

const QString ProgramName = QStringLiteral("vorlandt-tracking-server");

struct TOptions {
    QString Port = QStringLiteral("7211");
    QString Db;
    QString Probability = QStringLiteral("101");
    QString Refuse;
};

// "--name VALUE" or "--name=VALUE"; anything else is a wrong call.
TOptions ParseOptions(const QStringList& arguments)
{
    TOptions options;
    const std::pair<QString, QString*> known[] = {{QStringLiteral("--port"), &options.Port},
                                                  {QStringLiteral("--db"), &options.Db},
                                                  {QStringLiteral("--probability"), &options.Probability},
                                                  {QStringLiteral("--refuse"), &options.Refuse}};
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const qsizetype equals = argument.indexOf(u'=');
        const QString name = equals < 0 ? argument : argument.first(equals);
        QString* target = nullptr;
        for (const auto& [knownName, field] : known) {
            if (name == knownName)
                target = field;
        }
        if (!target)
            throw TUsageError{QStringLiteral("unbekanntes Argument \"%1\"").arg(argument)};
        if (equals >= 0) {
            *target = argument.sliced(equals + 1);
        } else if (i + 1 < arguments.size()) {
            *target = arguments[++i];
        } else {
            throw TUsageError{QStringLiteral("%1 braucht einen Wert").arg(name)};
        }
    }
    return options;
}

// The stop signals, blocked in main, arrive here through a descriptor and end the event loop.
// A server that could not start (its database or its port refused) fails with EVorlandtError.
int Serve(const sigset_t& stopSignals, const QStringList& arguments)
{
    const TOptions options = ParseOptions(arguments);
    bool ok = false;
    const uint port = options.Port.toUInt(&ok);
    if (!ok || port > 65535)
        throw TUsageError{QStringLiteral("--port braucht eine Zahl von 0 bis 65535")};
    const qint32 probability = options.Probability.toInt(&ok);
    if (!ok)
        throw TUsageError{QStringLiteral("--probability braucht eine 32-Bit-Zahl")};
    if (options.Db.isEmpty())
        throw TUsageError{QStringLiteral("--db DATEI fehlt")};

    const int signalFd = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0)
        throw EVorlandtError(QStringLiteral("signalfd: ") + QString::fromLocal8Bit(std::strerror(errno)));
    QSocketNotifier notifier(signalFd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, QCoreApplication::instance(), [signalFd] {
        signalfd_siginfo info;
        while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        QCoreApplication::quit();
    });

    TTrackingServer server(probability, options.Refuse);
    QString error;
    if (!server.OpenDatabase(options.Db, error))
        throw EVorlandtError(QStringLiteral("Datenbank: ") + error);
    if (!server.Listen(static_cast<quint16>(port), error))
        throw EVorlandtError(QStringLiteral("Port %1: %2").arg(port).arg(error));
    std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.Port()));
    std::fflush(stdout);

    const int result = QCoreApplication::exec();
    close(signalFd);
    return result;
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
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return cli::RunTool(arguments, ProgramName, UsageText,
                        [&stopSignals](const QStringList& args) { return Serve(stopSignals, args); });
}
