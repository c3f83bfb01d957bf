// The demo's stand-in for the suite's installer "VorlandtUpdate.exe": with "-DoUpdateJobs" it
// takes every job of the update job file as installed, raises the module's installed-version
// file and adds the update to the installed-updates log. It installs no program files.
#include "JobFile.h"
#include "SiteInfo.h"

#include "core/catalog/JobHandOff.h"
#include "core/catalog/UserLog.h"
#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/text/IntText.h"
#include "core/platform/VorlandtError.h"
#include "core/services/CommandLineHelp.h"
#include "core/sources/DescriptorReader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMap>
#include <QStringList>

#include <pugixml.hpp>

#include <cstdio>

namespace {

using cli::ExitOk;

const QString ProgramName = QStringLiteral("VorlandtUpdate.exe");
// The name its lines on stderr go out under, failures included: the real installer's.
const QString Speaker = QStringLiteral("VorlandtUpdate");

// Descriptors are a few kilobytes; the limit only keeps a damaged file from exhausting memory.
constexpr qint64 MaxDescriptorSize = 64 * 1024 * 1024;

const char UsageText[] =
    "Aufruf: VorlandtUpdate.exe -DoUpdateJobs\n"
    "Demo-Installer: nimmt jedes Update der Auftragsdatei VL_Update_Jobfile.vuj im\n"
    "temporären Verzeichnis des Benutzers als installiert, hebt siteinfo_MODULNR.ini im\n"
    "Installationsverzeichnis des Moduls (aus der Update-Beschreibung und dem\n"
    "Einstellungsspeicher) auf seine Version und trägt es in VL_Userlog.txt ein. Eine\n"
    "fehlerhafte oder fremde Auftragsdatei ändert nichts.\n"
    "\n"
    "  -DoUpdateJobs  die Aufträge ausführen\n"
    "  --help         diese Hilfe ausgeben\n"
    "  --version      Versionsnummer ausgeben\n"
    "\n"
    "Exit-Status: 0 Erfolg, 1 Fehler (Meldung auf stderr), 2 falscher Aufruf.\n";

void Print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

[[noreturn]] void JobError(const TJob& job, const QString& problem)
{
    throw EVorlandtError(QStringLiteral("Auftrag in Zeile %1 (%2 %3.%4.%5): %6")
                             .arg(job.LineNumber)
                             .arg(job.Modulbezeichnung)
                             .arg(job.Hauptversion)
                             .arg(job.Nebenversion)
                             .arg(job.Unterversion)
                             .arg(problem));
}

bool HasNr(const pugi::xml_node& node, qint32 nr)
{
    const std::optional<qint32> value =
        TryStrToInt(QString::fromUtf8(node.attribute("nr").value()).trimmed());
    return value && *value == nr;
}

// True when the descriptor lists the job's update: a job whose descriptor was replaced since
// the search, or that names a version nobody published, is refused instead of recorded.
bool OffersUpdate(const pugi::xml_node& root, const TJob& job)
{
    for (const pugi::xml_node minor : root.children()) {
        if (!HasNr(minor, job.Nebenversion))
            continue;
        for (const pugi::xml_node update : minor.children()) {
            if (HasNr(update, job.Unterversion))
                return true;
        }
    }
    return false;
}

// The module's installation directory, resolved from the descriptor the search fetched exactly
// as the search resolved it, so that the version file written is the one the next search reads.
QString Zielverzeichnis(const TJob& job)
{
    QByteArray bytes;
    try {
        bytes = platform::ReadRegularFile(job.DescriptorPath, MaxDescriptorSize);
    } catch (const EVorlandtError& e) {
        JobError(job, e.message());
    }
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(bytes.constData(), size_t(bytes.size()));
    if (!parsed)
        JobError(job, QStringLiteral("Update-Beschreibung \"%1\" ist kein gültiges XML: %2")
                          .arg(job.DescriptorPath, QString::fromUtf8(parsed.description())));
    const pugi::xml_node root = document.document_element();
    if (!OffersUpdate(root, job))
        JobError(job, QStringLiteral("Update-Beschreibung \"%1\" enthält dieses Update nicht.")
                          .arg(job.DescriptorPath));
    QString folder;
    try {
        folder = GetZielVerzeichnis(root);
    } catch (const EVorlandtError& e) {
        JobError(job, QStringLiteral("Update-Beschreibung \"%1\": %2").arg(job.DescriptorPath, e.message()));
    }
    // Found now rather than when the version file is written, after other modules' files.
    if (!QFileInfo(folder).isDir())
        JobError(job, QStringLiteral("Das Installationsverzeichnis \"%1\" fehlt.").arg(folder));
    return folder;
}

int DoUpdateJobs()
{
    const QList<TJob> jobs = ReadJobFile(JobFilePath());

    // Everything is read and checked first: a job that cannot be carried out stops the whole
    // file before a single version file or log entry has changed.
    QMap<QString, TSiteInfo> siteInfos;
    for (const TJob& job : jobs) {
        const QString path = TSiteInfo::PathFor(Zielverzeichnis(job), job.ModulNr);
        if (!siteInfos.contains(path)) {
            try {
                siteInfos.insert(path, TSiteInfo::Read(path));
            } catch (const EVorlandtError& e) {
                JobError(job, e.message());
            }
        }
        siteInfos[path].Raise({job.Hauptversion, job.Nebenversion, job.Unterversion});
    }

    for (auto it = siteInfos.cbegin(); it != siteInfos.cend(); ++it) {
        if (it.value().Changed())
            platform::WriteFileAtomically(it.key(), it.value().Bytes());
    }
    for (const TJob& job : jobs) {
        TUserLog::AddLastTempEntry(job.Modulbezeichnung, job.ModulNr, job.Hauptversion, job.Nebenversion,
                                   job.Unterversion);
        Print(stderr, QStringLiteral("VorlandtUpdate: %1 Version %2.%3.%4 installiert.")
                          .arg(job.Modulbezeichnung)
                          .arg(job.Hauptversion)
                          .arg(job.Nebenversion)
                          .arg(job.Unterversion));
    }
    if (jobs.isEmpty())
        Print(stderr, QStringLiteral("VorlandtUpdate: keine Aufträge."));
    return ExitOk;
}

int Run(const QStringList& args)
{
    if (args != QStringList{QStringLiteral("-DoUpdateJobs")})
        throw cli::TUsageError{
            args.isEmpty() ? QStringLiteral("-DoUpdateJobs fehlt")
                           : QStringLiteral("erwartet nur -DoUpdateJobs, nicht \"%1\"").arg(args.join(u' '))};
    return DoUpdateJobs();
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    return cli::RunTool(args, ProgramName, UsageText, Run, false, Speaker);
}
