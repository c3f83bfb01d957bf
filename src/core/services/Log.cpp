// The buffer is one program-wide list guarded by one lock: the download worker appends while
// the user-interface thread may append or save.
#include "core/services/Log.h"

#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/PrivateFolder.h"
#include "core/platform/text/TextCodec.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <memory>
#include <mutex>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::mutex logMutex;
std::unique_ptr<QStringList> logBuffer;

bool LogSwitchOn()
{
    // Not cached on purpose: switching the log in the settings takes effect with the next line.
    return ReadBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv,
                         SettingsKeys::LogAktivDefault);
}

QString WithSlash(const QString& dir)
{
    return dir.endsWith(u'/') ? dir : dir + u'/';
}

#ifndef _WIN32
QString ExecutableDir()
{
    // /proc/self/exe works without an application object and names the real file.
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    return exe.canonicalFilePath().isEmpty() ? QDir::currentPath()
                                             : QFileInfo(exe.canonicalFilePath()).path();
}
#endif

QByteArray LogFileContent(const QStringList& lines)
{
    // Each line followed by CR LF, then one more CR LF: the file ends with an empty line.
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    text += QStringLiteral("\r\n");
    return platform::EncodeWindows1252(text);
}

}  // namespace

#ifdef _WIN32
QString LogDirectory()
{
    // Not beside the program: under Program Files the user may not write, and a program folder
    // the user may write is shared with every other user of the machine.
    return WithSlash(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) +
           QStringLiteral("Vorlandt/");
}
#else
QString LogDirectoryFor(const QString& executableDir, uid_t user)
{
    // Beside the program only where the user keeps a copy of their own (a folder they own and
    // may write): that is where they look for it. Root may write every system folder, but a
    // file left in /usr/bin belongs to no package and outlives it, so root's log, like everyone
    // else's, goes to the user's state folder.
    struct stat st;
    if (user != 0 && !executableDir.isEmpty() &&
        ::stat(QFile::encodeName(executableDir).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == user && (st.st_mode & S_IWUSR) != 0)
        return WithSlash(executableDir);
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return WithSlash(state) + QStringLiteral("vorlandt/");
}

QString LogDirectory()
{
    return LogDirectoryFor(ExecutableDir(), ::geteuid());
}
#endif

void WriteLog(int Action, const QString& Text)
{
    if (Action < 1 || Action > 4)
        return;
    if (!LogSwitchOn())
        return;

    std::lock_guard lock(logMutex);
    switch (static_cast<TLogAction>(Action)) {
        case TLogAction::StartBuffer:
            logBuffer = std::make_unique<QStringList>();
            break;
        case TLogAction::AppendLine:
            if (logBuffer)
                logBuffer->append(Text);
            break;
        case TLogAction::DiscardBuffer:
            logBuffer.reset();
            break;
        case TLogAction::SaveFile: {
            const QString dir = LogDirectory();
            platform::MakeOwnFolders(dir);
            // Without a buffer the file is rewritten empty, as after an autostart run.
            const QByteArray content = logBuffer ? LogFileContent(*logBuffer) : QByteArray();
            // The log names addresses, folders and the proxy: for this user's eyes only, also when
            // an older file under the name was readable by others.
            platform::TAtomicFile file(dir + LogFileName, platform::FileModePrivate);
            file.RestrictToOwner();
            file.Write(content);
            file.Commit();
            break;
        }
    }
}

QString BoolText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

void AppendLogLineQuietly(const QString& line) noexcept
{
    try {
        WriteLog(TLogAction::AppendLine, line);
    } catch (...) {
    }
}

std::optional<QStringList> LogBuffer()
{
    std::lock_guard lock(logMutex);
    if (!logBuffer)
        return std::nullopt;
    return *logBuffer;
}
