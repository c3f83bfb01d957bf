// The update job file and the installer start that hand accepted updates over.
#include "core/catalog/JobHandOff.h"

#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/FolderEntries.h"
#include "core/platform/files/PrivateFolder.h"
#include "core/platform/text/TextCodec.h"
#include "core/services/BasicProcs.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QDir>
#include <QFile>

namespace {

// The installer splits the file at line ends: a designation or a temporary folder holding one
// would otherwise make the rest of the field a job line of its own.
QString OneLine(QString text)
{
    for (QChar& c : text) {
        if (c == u'\r' || c == u'\n' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

}  // namespace

QString FormatJobLine(const QString& tempDir, const TUpdateIdentifier& key, const TUpdateNode& node,
                      const TModulInformation& modul)
{
    return QStringLiteral("%1;%2;%3;%4;%5;%6;%7;-;%8")
        .arg(QString::number(UpdaterVersionNumber), OneLine(tempDir + modul.XMLFilename),
             QString::number(key.ModulNr), QString::number(modul.Hauptversion),
             QString::number(key.Nebenversion), QString::number(key.Unterversion),
             node.StillesUpdate() ? QStringLiteral("s") : QStringLiteral("-"),
             OneLine(modul.Modulbezeichnung));
}

QString JobFilePath()
{
    // The user's private folder, not the shared data folder: nobody else can put a job file
    // there, or swap this one, for the installer to carry out. Found without a log line, so the
    // installer and the run's first step look it up the same quiet way.
    return platform::PrivateTempFolder() + JobFileName;
}

void WriteJobFile(const TUpdates& updates)
{
    QString text;
    for (const TUpdateIdentifier& key : updates.SortedUpdateKeys()) {
        text += updates.UpdateDictionary().at(key)->CommandLineParam();
        text += QStringLiteral("\r\n");
    }
    // Replaced as a whole: the installer never finds half a job list. Readable by this user alone.
    platform::WriteFileAtomically(JobFilePath(), platform::EncodeWindows1252(text),
                                  platform::FileModePrivate);
}

QString InstallerFolder()
{
    QString folder = ReadStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::StdEinstellungen, SettingsKeys::Pfad,
                                     SettingsKeys::PfadInstallerDefaultHere);
    // An empty or relative value (a Windows path such as "c:\Programme\KRSoftware\" among them)
    // would start whatever "VorlandtUpdate.exe" lies in the current folder, or in "/".
    if (!QDir::isAbsolutePath(folder))
        folder = SettingsKeys::PfadInstallerDefaultHere;
    if (!folder.endsWith(u'/') && !folder.endsWith(u'\\'))
        folder += u'/';
    return folder;
}

bool StartInstaller(QString* FDLLPfad, TProgramExit* exit)
{
    const QString folder = InstallerFolder();
    if (FDLLPfad != nullptr)
        *FDLLPfad = folder;
    const bool started =
        StartEXE(nullptr, folder + InstallerFileName, QStringLiteral("-DoUpdateJobs"), true, exit);
    if (!started)
        WriteLog(TLogAction::AppendLine,
                 QStringLiteral("StarteUpdateSuche - Aufruf des Updates fehlgeschlagen: VorlandtUpdate.exe "
                                "-DoUpdateJobs"));
    return started;
}
