// vorlandt-userlog: how the installer adds an installed update to the installed-updates log,
// from the temporary entry the update search left for it; and the log shown (Show.h).
#include "Show.h"

#include "core/catalog/UserLog.h"
#include "core/services/CommandLineHelp.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace {

using cli::ExitOk;
using cli::TUsageError;

const QString ProgramName = QStringLiteral("vorlandt-userlog");

const char UsageText[] =
    "Aufruf: vorlandt-userlog add MODULBEZ MODULNR HAUPT NEBEN UNTER\n"
    "        vorlandt-userlog show [--json]\n"
    "add trägt das installierte Update als neuesten Eintrag in VL_Userlog.txt im\n"
    "Datenverzeichnis ein, mit dem Text des temporären Eintrags\n"
    "VL_UpdateTXT_MODULNR_HAUPT_NEBEN_UNTER.tmp aus dem temporären Verzeichnis.\n"
    "show gibt das Protokoll aus, neueste Einträge zuerst; mit --json als JSON-Dokument.\n"
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

int RunShow(const QStringList& args)
{
    if (args.size() > 2 || (args.size() == 2 && args[1] != u"--json"))
        throw TUsageError{QStringLiteral("show erwartet höchstens --json")};
    const QByteArray text = ShowUserLog(args.size() == 2);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return ExitOk;
}

int Run(const QStringList& args)
{
    if (!args.isEmpty() && args.first() == u"show")
        return RunShow(args);
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
