// Choosing and checking the private temporary folder with lstat(2) and open(2) on the folder
// itself, never on what a link would lead to.
#include "core/platform/files/PrivateFolder.h"

#include "core/platform/VorlandtError.h"

#include <QDir>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

[[noreturn]] void RaiseFolderError(const QString& folder, const QString& reason)
{
    throw EVorlandtError(QStringLiteral("Das temporäre Verzeichnis \"%1\" kann nicht verwendet werden: %2")
                             .arg(folder, reason),
                         EVorlandtError::Kind::InOut);
}

QString WithSlash(const QString& folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

QString UserSubfolder()
{
    return QStringLiteral("vorlandt-%1/").arg(::geteuid());
}

// A folder everyone may create names in, but only remove their own: /tmp and its kind.
bool IsSharedStickyFolder(const QString& folder)
{
    struct stat info {};
    return ::stat(QFile::encodeName(folder).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
}

}  // namespace

void EnsurePrivateFolder(const QString& folder, bool create)
{
    // With a trailing slash lstat(2) and O_NOFOLLOW would look through a link.
    const QByteArray native = QFile::encodeName(QDir::cleanPath(folder));
    if (native.isEmpty())
        RaiseFolderError(folder, qt_error_string(ENOENT));
    if (create && ::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        RaiseFolderError(folder, qt_error_string(errno));

    struct stat named {};
    if (::lstat(native.constData(), &named) != 0)
        RaiseFolderError(folder, qt_error_string(errno));
    if (S_ISLNK(named.st_mode))
        RaiseFolderError(folder, QStringLiteral("Es ist ein symbolischer Link."));
    if (!S_ISDIR(named.st_mode))
        RaiseFolderError(folder, QStringLiteral("Es ist kein Verzeichnis."));

    // The checks are repeated on the open folder: the name could have been swapped meanwhile.
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        RaiseFolderError(folder, qt_error_string(errno));
    struct stat info {};
    const bool statted = ::fstat(fd, &info) == 0;
    const int statError = errno;
    ::close(fd);
    if (!statted)
        RaiseFolderError(folder, qt_error_string(statError));
    if (info.st_uid != ::geteuid())
        RaiseFolderError(folder,
                         QStringLiteral("Es gehört einem anderen Benutzer (UID %1).").arg(info.st_uid));
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        RaiseFolderError(folder, QStringLiteral("Andere Benutzer dürfen darin schreiben (Rechte %1).")
                                     .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0')));
}

QString PrivateTempFolderPath()
{
    const QString tmpdir = qEnvironmentVariable("TMPDIR");
    if (!tmpdir.isEmpty()) {
        const QString folder = WithSlash(QDir::cleanPath(tmpdir));
        // TMPDIR=/tmp names the shared folder, not a private one: a folder of this user's own
        // inside it keeps the fixed names out of everyone else's reach.
        if (IsSharedStickyFolder(folder))
            return folder + UserSubfolder();
        return folder;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // The runtime folder is the session's own (mode 0700); a relative value is invalid by the
    // XDG rules.
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        return WithSlash(QDir::cleanPath(runtime)) + QStringLiteral("vorlandt/");
    return QStringLiteral("/tmp/") + UserSubfolder();
}

QString PrivateTempFolder()
{
    const QString folder = PrivateTempFolderPath();
    const QString tmpdir = qEnvironmentVariable("TMPDIR");
    EnsurePrivateFolder(folder, tmpdir.isEmpty() || folder != WithSlash(QDir::cleanPath(tmpdir)));
    return folder;
}

void MakeOwnFolders(const QString& dir)
{
    const QByteArray path = QFile::encodeName(QDir::cleanPath(dir));
    for (qsizetype next = 1;;) {
        const qsizetype slash = path.indexOf('/', next);
        // A folder that exists keeps its mode; one that cannot be made shows in the save's error.
        ::mkdir((slash < 0 ? path : path.left(slash)).constData(), 0700);
        if (slash < 0)
            return;
        next = slash + 1;
    }
}

}  // namespace platform
