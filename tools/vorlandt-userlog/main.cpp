// vorlandt-userlog: how the installer adds an installed update to the installed-updates log,
// from the temporary entry the update search left for it.
#include "core/catalog/UserLog.h"
#include "core/platform/VorlandtError.h"
#include "core/services/CommandLineHelp.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <exception>
#include <optional>

namespace {

using cli::ExitFailed;
using cli::ExitOk;

const QString ProgramName = QStringLiteral("vorlandt-userlog");

const char UsageText[] =
    "Aufruf: vorlandt-userlog add MODULBEZ MODULNR HAUPT NEBEN UNTER\n"
    "Trägt das installierte Update als neuesten Eintrag in VL_Userlog.txt im Datenverzeichnis\n"
    "ein, mit dem Text des temporären Eintrags VL_UpdateTXT_MODULNR_HAUPT_NEBEN_UNTER.tmp aus\n"
    "dem temporären Verzeichnis.\n"
    "\n"
    "  MODULBEZ                   Name des Moduls, wie er im Protokoll erscheinen soll\n"
    "  MODULNR HAUPT NEBEN UNTER  Modulnummer und Version: ganze Zahlen (32 Bit, dezimal)\n"
    "  --help                     diese Hilfe ausgeben\n"
    "  --version                  Versionsnummer ausgeben\n"
    "\n"
    "Exit-Status: 0 Erfolg, 1 Fehler (Meldung auf stderr), 2 falscher Aufruf.\n";

void WriteBytes(std::FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int UsageError(const QString& message)
{
    return cli::UsageError(ProgramName, message, UsageText);
}

// Decimal only: a version number is never written in hexadecimal, and a typo should not
// silently become another version.
std::optional<qint32> Number(const QString& text)
{
    bool ok = false;
    const qint32 value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    if (const std::optional<int> answered = cli::AnswerInfoCall(args, ProgramName, UsageText))
        return *answered;
    if (args.isEmpty() || args.first() != u"add")
        return UsageError(args.isEmpty() ? QStringLiteral("Befehl fehlt")
                                         : QStringLiteral("unbekannter Befehl \"%1\"").arg(args.first()));
    if (args.size() != 6)
        return UsageError(QStringLiteral("add erwartet 5 Argumente, nicht %1").arg(args.size() - 1));

    qint32 numbers[4] = {};
    for (int i = 0; i < 4; ++i) {
        const std::optional<qint32> number = Number(args.at(2 + i));
        if (!number)
            return UsageError(QStringLiteral("\"%1\" ist keine ganze Zahl").arg(args.at(2 + i)));
        numbers[i] = *number;
    }

    try {
        TUserLog::AddLastTempEntry(args.at(1), numbers[0], numbers[1], numbers[2], numbers[3]);
    } catch (const EVorlandtError& error) {
        WriteBytes(stderr, error.message().toUtf8() + '\n');
        return ExitFailed;
    } catch (const std::exception& error) {
        WriteBytes(stderr, QByteArray("vorlandt-userlog: ") + error.what() + '\n');
        return ExitFailed;
    }
    return ExitOk;
}
