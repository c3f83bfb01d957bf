// The buffer is one program-wide list guarded by one lock: the download worker appends while
// the user-interface thread may append or save.
#include "core/services/Log.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/TextCodec.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QDir>
#include <QFileInfo>

#include <memory>
#include <mutex>

#include <unistd.h>

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

QString ExecutableDir()
{
    // /proc/self/exe works without an application object and names the real file.
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    return exe.canonicalFilePath().isEmpty() ? QDir::currentPath()
                                             : QFileInfo(exe.canonicalFilePath()).path();
}

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

QString LogDirectoryFor(const QString& executableDir)
{
    // Programs installed under /usr/bin may not write beside themselves; the log then goes to
    // the user's state folder instead of failing at every program end.
    if (!executableDir.isEmpty() && ::access(QFile::encodeName(executableDir).constData(), W_OK) == 0)
        return WithSlash(executableDir);
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return WithSlash(state) + QStringLiteral("vorlandt/");
}

QString LogDirectory()
{
    return LogDirectoryFor(ExecutableDir());
}

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
            QDir().mkpath(dir);
            // Without a buffer the file is rewritten empty, as after an autostart run.
            const QByteArray content = logBuffer ? LogFileContent(*logBuffer) : QByteArray();
            platform::WriteFileAtomically(dir + LogFileName, content);
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

std::optional<QStringList> LogBufferForTesting()
{
    std::lock_guard lock(logMutex);
    if (!logBuffer)
        return std::nullopt;
    return *logBuffer;
}
