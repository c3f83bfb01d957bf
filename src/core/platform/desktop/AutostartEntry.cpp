// The XDG autostart entry of the updater.
#include "core/platform/desktop/AutostartEntry.h"

#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/VorlandtError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform {

namespace {

const QString EntryFileName = QStringLiteral("VorlandtUpdate.desktop");
// A desktop entry is a few hundred bytes; more is not one of ours to understand.
constexpr qint64 MaxEntrySize = 64 * 1024;

QString ConfigHome()
{
    // A relative XDG_CONFIG_HOME is invalid by the XDG rules and would depend on the working
    // folder; it is ignored like an unset one, as the settings store does.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.isEmpty() && QDir::isAbsolutePath(config))
        return config;
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        home = QDir::homePath();
    return home + QStringLiteral("/.config");
}

QStringList ConfigDirs()
{
    // Relative folders are invalid by the XDG rules and skipped; no valid folder at all means
    // the default, as an unset variable does.
    QStringList dirs;
    for (const QString& dir : qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            dirs.append(dir);
    }
    if (dirs.isEmpty())
        dirs.append(QStringLiteral("/etc/xdg"));
    return dirs;
}

bool Exists(const QString& path)
{
    const QFileInfo entry(path);
    return entry.exists() || entry.isSymLink();
}

// Hidden=true is the XDG way to switch an entry off; GNOME's start-up applications tool writes
// X-GNOME-Autostart-enabled=false instead, and its session obeys either.
bool SwitchedOff(const QString& path)
{
    QByteArray content;
    try {
        content = ReadRegularFile(path, MaxEntrySize);
    } catch (const EVorlandtError&) {
        return false;
    }
    bool inMainGroup = false;
    bool off = false;
    for (const QByteArray& rawLine : content.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inMainGroup || line.startsWith('#') || equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Hidden")
            off = off || value == "true";
        else if (key == "X-GNOME-Autostart-enabled")
            off = off || value == "false";
    }
    return off;
}

QString EntryContent(const QString& executable, bool hidden)
{
    QString content = QStringLiteral(
                          "[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Vorlandt Online-Updater\n"
                          "Exec=%1 -a\n")
                          .arg(DesktopExecArgument(executable));
    content += hidden ? QStringLiteral("Hidden=true\nX-GNOME-Autostart-enabled=false\n")
                      : QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return content;
}

void WriteEntry(const QByteArray& content)
{
    const QString path = AutostartEntryPath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        throw EVorlandtError(
            QStringLiteral("Der Ordner \"%1\" für den Autostart-Eintrag kann nicht angelegt werden.")
                .arg(folder),
            EVorlandtError::Kind::InOut);
    }
    WriteFileAtomically(path, content);
}

}  // namespace

QString AutostartEntryPath()
{
    return ConfigHome() + QStringLiteral("/autostart/") + EntryFileName;
}

QString DesktopExecArgument(const QString& argument)
{
    QString result;
    result.reserve(argument.size() + 8);
    result += u'"';
    for (const QChar c : argument) {
        const char16_t code = c.unicode();
        if (code < 0x20 || code == 0x7f) {
            throw EVorlandtError(
                QStringLiteral("Der Pfad \"%1\" enthält Steuerzeichen und kann nicht in einen "
                               "Autostart-Eintrag geschrieben werden.")
                    .arg(argument),
                EVorlandtError::Kind::Argument);
        }
        switch (code) {
            // Inside a quoted argument these four take a backslash; the file's string rules then
            // double every backslash, so each ends up behind two (a backslash itself behind four).
            case u'\\':
                result += QStringLiteral("\\\\\\\\");
                break;
            case u'"':
            case u'`':
            case u'$':
                result += QStringLiteral("\\\\");
                result += c;
                break;
            // A lone "%" would start a field code that the desktop replaces with a file name.
            case u'%':
                result += QStringLiteral("%%");
                break;
            default:
                result += c;
        }
    }
    result += u'"';
    return result;
}

QByteArray AutostartEntryContent(const QString& executable)
{
    return EntryContent(executable, false).toUtf8();
}

QByteArray HiddenAutostartEntryContent(const QString& executable)
{
    return EntryContent(executable, true).toUtf8();
}

bool AutostartEntryExists()
{
    // A dangling link still counts: it is ours to replace or remove.
    return Exists(AutostartEntryPath());
}

QString SystemAutostartEntryPath()
{
    for (const QString& dir : ConfigDirs()) {
        const QString path = dir + QStringLiteral("/autostart/") + EntryFileName;
        if (Exists(path))
            return path;
    }
    return QString();
}

TAutostartState AutostartState()
{
    const QString own = AutostartEntryPath();
    if (Exists(own))
        return SwitchedOff(own) ? TAutostartState::OwnHidden : TAutostartState::Own;
    const QString system = SystemAutostartEntryPath();
    if (system.isEmpty())
        return TAutostartState::None;
    return SwitchedOff(system) ? TAutostartState::SystemHidden : TAutostartState::System;
}

void WriteAutostartEntry(const QString& executable)
{
    WriteEntry(AutostartEntryContent(executable));
}

void SetAutostart(bool on, const QString& executable)
{
    const QString system = SystemAutostartEntryPath();
    const bool systemStarts = !system.isEmpty() && !SwitchedOff(system);
    if (systemStarts) {
        // The user's own entry only ever differs from the system's by switching it off, so that
        // a changed system entry reaches every user who did not.
        if (on)
            RemoveAutostartEntry();
        else
            WriteEntry(HiddenAutostartEntryContent(executable));
    } else if (on) {
        WriteAutostartEntry(executable);
    } else {
        RemoveAutostartEntry();
    }
}

void RemoveAutostartEntry()
{
    if (!AutostartEntryExists())
        return;
    const QString path = AutostartEntryPath();
    QFile entry(path);
    if (!entry.remove()) {
        throw EVorlandtError(QStringLiteral("Der Autostart-Eintrag \"%1\" kann nicht gelöscht werden: %2")
                                 .arg(path, entry.errorString()),
                             EVorlandtError::Kind::InOut);
    }
}

}  // namespace platform
