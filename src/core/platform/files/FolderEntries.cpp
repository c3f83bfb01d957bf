// Names in folders with lstat(2), unlink(2) and a folder opened without following a link.
#include "core/platform/files/FolderEntries.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool NameMissing(const QString& path)
{
    struct stat info {};
    // A path that runs through a regular file reports "missing" here as well; the write that
    // follows names that fault.
    return ::lstat(QFile::encodeName(path).constData(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

QString RemoveName(const QString& path)
{
    if (::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT)
        return QString();
    return QString::fromLocal8Bit(std::strerror(errno));
}

void RemoveNamesMatching(const QString& folder, const QRegularExpression& pattern)
{
    const QByteArray native = QFile::encodeName(folder);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    // Names first, removal after: unlinking while reading the folder may skip names.
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (pattern.match(QLatin1StringView(entry->d_name)).hasMatch())
            names.append(entry->d_name);
    }
    for (const QByteArray& name : names)
        ::unlinkat(::dirfd(dir), name.constData(), 0);
    ::closedir(dir);
}

bool OwnedByAnotherUser(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && info.st_uid != ::geteuid();
}

TPathProbe ProbePath(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0)
        return {TPathProbe::Kind::Found, QString()};
    switch (errno) {
        case ENOENT:
            return {TPathProbe::Kind::Missing, QString()};
        case EACCES:
            return {TPathProbe::Kind::Denied, QString()};
        case ENOTDIR:
            return {TPathProbe::Kind::ParentNotFolder, QString()};
        default:
            return {TPathProbe::Kind::Other, QString::fromLocal8Bit(std::strerror(errno))};
    }
}

QString MachineDataBase()
{
    return QStringLiteral("/var/lib");
}

bool MayWriteInFolder(const QString& dir)
{
    return ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0;
}

}  // namespace platform
