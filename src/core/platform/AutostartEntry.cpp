// The XDG autostart entry of the updater.
#include "core/platform/AutostartEntry.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/VorlandtError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform {

namespace {

const QString EntryFileName = QStringLiteral("VorlandtUpdate.desktop");

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
    const QString content = QStringLiteral(
                                "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Name=Vorlandt Online-Updater\n"
                                "Exec=%1 -a\n"
                                "X-GNOME-Autostart-enabled=true\n")
                                .arg(DesktopExecArgument(executable));
    return content.toUtf8();
}

bool AutostartEntryExists()
{
    // A dangling link still counts: it is ours to replace or remove.
    const QFileInfo entry(AutostartEntryPath());
    return entry.exists() || entry.isSymLink();
}

void WriteAutostartEntry(const QString& executable)
{
    const QString path = AutostartEntryPath();
    const QByteArray content = AutostartEntryContent(executable);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        throw EVorlandtError(
            QStringLiteral("Der Ordner \"%1\" für den Autostart-Eintrag kann nicht angelegt werden.")
                .arg(folder),
            EVorlandtError::Kind::InOut);
    }
    WriteFileAtomically(path, content);
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
