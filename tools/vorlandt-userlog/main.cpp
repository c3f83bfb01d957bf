// vorlandt-userlog: how the installer adds an installed update to the installed-updates log,
// from the temporary entry the update search left for it.
#include "core/catalog/UserLog.h"
#include "core/services/CommandLineHelp.h"

#include <QCoreApplication>
#include <QStringList>

#include <optional>

namespace {

using cli::ExitOk;
using cli::TUsageError;

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

int Run(const QStringList& args)
{
    if (args.isEmpty() || args.first() != u"add")
        throw TUsageError{args.isEmpty() ? QStringLiteral("Befehl fehlt")
                                         : QStringLiteral("unbekannter Befehl \"%1\"").arg(args.first())};
    if (args.size() != 6)
        throw TUsageError{QStringLiteral("add erwartet 5 Argumente, nicht %1").arg(args.size() - 1)};

    qint32 numbers[4] = {};
    for (int i = 0; i < 4; ++i) {
        const std::optional<qint32> number = Number(args.at(2 + i));
        if (!number)
            throw TUsageError{QStringLiteral("\"%1\" ist keine ganze Zahl").arg(args.at(2 + i))};
        numbers[i] = *number;
    }

    TUserLog::AddLastTempEntry(args.at(1), numbers[0], numbers[1], numbers[2], numbers[3]);
    return ExitOk;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    return cli::RunTool(args, ProgramName, UsageText, Run, true);
}
