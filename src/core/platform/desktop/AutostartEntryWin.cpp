// STUB, to be replaced by the autostart entry in the Run key: until then no entry exists, and
// switching the start on says that it is not there yet.
#include "core/platform/desktop/AutostartEntry.h"

#include "core/platform/VorlandtError.h"

namespace platform {

QString AutostartEntryPath()
{
    return QString();
}

QString DesktopExecArgument(const QString& argument)
{
    return u'"' + argument + u'"';
}

QByteArray AutostartEntryContent(const QString& executable)
{
    return (DesktopExecArgument(executable) + QStringLiteral(" -a")).toUtf8();
}

bool AutostartEntryExists()
{
    return false;
}

QString SystemAutostartEntryPath()
{
    return QString();
}

TAutostartState AutostartState()
{
    return TAutostartState::None;
}

QByteArray HiddenAutostartEntryContent(const QString&)
{
    return QByteArray();
}

void SetAutostart(bool on, const QString& executable)
{
    if (on)
        WriteAutostartEntry(executable);
}

void WriteAutostartEntry(const QString&)
{
    throw EVorlandtError(QStringLiteral("Der Autostart lässt sich unter Windows noch nicht einrichten."),
                         EVorlandtError::Kind::InOut);
}

void RemoveAutostartEntry() {}

}  // namespace platform
