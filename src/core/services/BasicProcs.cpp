// The basic procedures: small helpers without state of their own.
#include "core/services/BasicProcs.h"

#include "core/platform/desktop/ProgramStart.h"
#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/files/FolderEntries.h"
#include "core/platform/files/PrivateFolder.h"
#include "core/platform/text/TextCodec.h"
#include "core/platform/VorlandtError.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QProcess>
#include <QRegularExpression>
#include <QStringView>
#include <QUrl>

namespace {

// Ini files are a few lines; anything far larger is damaged and not worth the memory.
constexpr qint64 kMaxIniSize = 16 * 1024 * 1024;

QString lookUpIniValue(const QString& FileName, const QString& Key)
{
    QString path = FileName;
    if (!path.endsWith(QLatin1String(".ini")))
        path += QLatin1String(".ini");

    const QFileInfo info(path);
    if (!info.exists())
        return QString();
    // A folder or an unreadable file under the name is not "no value": the caller must learn
    // that the installed version could not be determined. Pipes and devices are refused too,
    // since reading one could block or never end.
    const QByteArray bytes = platform::ReadRegularFile(path, kMaxIniSize);

    const QStringList lines = platform::SplitLines(platform::DecodeText(bytes));
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        if (QStringView(line).left(equals).compare(Key, Qt::CaseInsensitive) == 0)
            return line.mid(equals + 1);
    }
    return QString();
}

QString WithSlash(const QString& dir)
{
    return dir.endsWith(u'/') ? dir : dir + u'/';
}

// The machine-wide data folder, or empty when there is none this user can work in. /var/lib is
// root's on Debian: unless the package prepared the folder for its users, every later write of
// the installed-updates log or the job file would fail, so such a folder counts as not there.
QString MachineDataDir()
{
    const QString base = qEnvironmentVariableIsSet("VORLANDT_PROGRAMDATA")
                             ? qEnvironmentVariable("VORLANDT_PROGRAMDATA")
                             : platform::MachineDataBase();
    // A relative base would move the data with the current folder of whoever started us.
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        return QString();
    const QString dir = WithSlash(base) + QStringLiteral("Vorlandt/OnlineUpdater/1.0/");
    QDir().mkpath(dir);
    if (!QFileInfo(dir).isDir() || !platform::MayWriteInFolder(dir))
        return QString();
    return dir;
}

// "https:", "mailto:", "file:" and the like; a single letter before the colon would be a
// drive, not a scheme.
bool IsAddress(const QString& file)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(file).hasMatch();
}

void PrepareProcess(QProcess& process, const QString& program, const QString& parameters, const QString& file)
{
    process.setProgram(program);
    process.setArguments(QProcess::splitCommand(parameters));
    process.setWorkingDirectory(StartEXEWorkingDir(file));
    // A started program never gets our terminal's input; one that waits for input would
    // otherwise hang a waiting caller for good.
    process.setStandardInputFile(QProcess::nullDevice());
}

bool StartAndWait(const QString& file, const QString& parameters, TProgramExit* exit)
{
    const platform::TProgramEnd end =
        platform::StartProgramAndWait(file, QProcess::splitCommand(parameters), StartEXEWorkingDir(file));
    if (!end.Started) {
        if (exit)
            exit->Error = end.Reason;
        return false;
    }
    if (exit) {
        exit->Signalled = end.Signalled;
        exit->Code = end.Code;
        WriteLog(TLogAction::AppendLine,
                 exit->Signalled ? QStringLiteral("StartEXE - Beendet durch Signal %1").arg(exit->Code)
                                 : QStringLiteral("StartEXE - Exit-Status: %1").arg(exit->Code));
    }
    return true;
}

bool StartWithoutWaiting(const QString& file, const QString& parameters)
{
    if (IsAddress(file))
        return FrontEnd().OpenDocument(file);
    const QFileInfo info(file);
    if (!info.exists())
        return false;
    if (!info.isFile() || !info.isExecutable())
        return FrontEnd().OpenDocument(file);
    // The absolute path goes to QProcess so that the file checked is the file started, never a
    // namesake found along PATH.
    QProcess process;
    PrepareProcess(process, info.absoluteFilePath(), parameters, file);
    return process.startDetached();
}

}  // namespace

QString GetStrInfoFromIni(const QString& FileName, const QString& Key)
{
    return LoggedCall<QString>(
        QStringLiteral("GetStrInfoFromIni - Start - Parameters: %1, %2").arg(FileName, Key),
        QStringLiteral("GetStrInfoFromIni - Ende - Result:\u00B4"),
        [&] { return lookUpIniValue(FileName, Key); });
}

QString GetTempDir()
{
    WriteLog(TLogAction::AppendLine, QStringLiteral("GetTempDir - Start"));
    QString result;
    try {
        result = platform::PrivateTempFolder();
    } catch (...) {
        WriteLog(TLogAction::AppendLine, QStringLiteral("GetTempDir - Ende - Result: "));
        throw;
    }
    WriteLog(TLogAction::AppendLine, QStringLiteral("GetTempDir - Ende - Result: ") + result);
    return result;
}

QString GetDataDir()
{
    const QString machineDir = MachineDataDir();
    if (!machineDir.isEmpty())
        return machineDir;

    const QString tempDir = GetTempDir();
    QString dir =
        ReadStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::StdEinstellungen, SettingsKeys::Pfad, tempDir);
    // An empty value would make the data directory "/", a Windows path like "c:\Programme\"
    // a folder below whatever the current folder happens to be.
    if (dir.isEmpty() || !QDir::isAbsolutePath(dir))
        dir = tempDir;
    dir = WithSlash(dir);
    // Not checked here: the first file written there reports a folder that cannot be made.
    QDir().mkpath(dir);
    return dir;
}

void CheckTestMarker()
{
    const QString path = GetDataDir() + QStringLiteral("vltest.ini");
    // The data folder is shared by every user of the machine: the probe is written the one way
    // that never follows a link. Another user's file under the name cannot be replaced (sticky
    // folder), so what is removed afterwards is always this run's own probe.
    // A probe that is removed at once needs no disk syncs.
    try {
        platform::TAtomicFile probe(path, platform::FileModeShared, platform::TDurability::Scratch);
        probe.Commit();
    } catch (const EVorlandtError&) {
        return;
    }
    QFile::remove(path);
}

QString StartEXEWorkingDir(const QString& file)
{
    for (qsizetype i = file.size() - 1; i >= 0; --i) {
        const QChar c = file.at(i);
        if (c == u'/' || c == u'\\' || c == u':')
            return file.left(i + 1);
    }
    return QString();
}

bool StartEXE(QObject* owner, const QString& file, const QString& parameters, bool wait, TProgramExit* exit)
{
    Q_UNUSED(owner);
    if (exit) {
        *exit = TProgramExit();
        exit->Program = file;
    }
    const bool started = LoggedCall<bool>(
        QStringLiteral("StartEXE - Start - Parameters: (Handle), %1, %2, %3")
            .arg(file, parameters, BoolText(wait)),
        QStringLiteral("StartEXE - Ende - Result: "),
        [&] { return wait ? StartAndWait(file, parameters, exit) : StartWithoutWaiting(file, parameters); });
    if (exit)
        exit->Started = started;
    return started;
}

QString HelpIndexFile()
{
    const QString chosen = qEnvironmentVariable("VORLANDT_HELP");
    if (!chosen.isEmpty())
        return QFileInfo(chosen).absoluteFilePath();
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/vorlandt-online-updater/hilfe/index.html"));
}

QString HelpTopicAddress(const QString& indexFile, int helpContext)
{
    QUrl address = QUrl::fromLocalFile(QFileInfo(indexFile).absoluteFilePath());
    if (helpContext > 0)
        address.setFragment(QStringLiteral("kontext-%1").arg(helpContext));
    return address.toString(QUrl::FullyEncoded);
}

QString GetModulPfad(const QString& name)
{
    return ReadStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::ModulePrefix + name, SettingsKeys::Pfad,
                           QString());
}

void StartFeedbackTool()
{
    const QString folder = GetModulPfad(SettingsKeys::StdEinstellungenName);
    // QLibrary adds ".so" itself.
    QLibrary library(WithSlash(folder) + QStringLiteral("FeedbackTool"));
    if (!library.load()) {
        MessageDialog(QStringLiteral("Feedbacktool.DLL konnte nicht geladen werden."), TMsgDlgType::mtError,
                      TMsgDlgButtons::mbOK, 0);
        return;
    }
    using TInitFeedback = void (*)(const char16_t*, int);
    const auto initFeedback = reinterpret_cast<TInitFeedback>(library.resolve("initFeedbackInclProduct"));
    if (!initFeedback) {
        MessageDialog(QStringLiteral("Startfunktion konnte in DLL nicht gefunden werden."),
                      TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
        return;
    }
    // The library is never unloaded: the tool may still have windows or threads running when
    // its start function returns.
    initFeedback(u"Online-Updater", 0);
}
