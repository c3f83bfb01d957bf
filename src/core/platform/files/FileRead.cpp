// Reading a whole regular file with a size limit and the one read error for every failure. The
// checks are made on the open descriptor, so that what was checked is what is read.
#include "core/platform/files/FileRead.h"

#include "core/platform/VorlandtError.h"

#include <QFile>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

TFileHandle::~TFileHandle()
{
    if (FFd >= 0)
        ::close(FFd);
}

namespace {

// Opens `path` as `trust` asks and checks the open file; raises the read error otherwise.
int OpenChecked(const QString& path, TFileTrust trust, struct stat& info)
{
    // Non-blocking: opening a pipe with no writer would otherwise wait for good.
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    if (trust != TFileTrust::FollowLinks)
        flags |= O_NOFOLLOW;
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    if (fd < 0) {
        if (errno == ELOOP && trust != TFileTrust::FollowLinks)
            RaiseReadError(path, QStringLiteral("Sie ist ein symbolischer Link."));
        RaiseReadError(path, qt_error_string(errno));
    }
    TFileHandle file(fd);
    if (::fstat(fd, &info) != 0)
        RaiseReadError(path, qt_error_string(errno));
    if (S_ISDIR(info.st_mode))
        RaiseReadError(path, qt_error_string(EISDIR));
    // A pipe or device under the name could block for good or never end.
    if (!S_ISREG(info.st_mode))
        RaiseReadError(path, qt_error_string(EINVAL));
    if (trust == TFileTrust::OwnFile) {
        const QString problem = OwnFileProblem(info);
        if (!problem.isEmpty())
            RaiseReadError(path, problem);
    }
    return file.release();
}

// Reads from the descriptor's position until end of file or until `bytes` holds `limit` bytes.
void ReadUpTo(int fd, const QString& path, QByteArray& bytes, qint64 limit)
{
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() >= limit)
                break;
            bytes.resize(std::min<qint64>(bytes.size() + 64 * 1024, limit));
        }
        const ssize_t got = ::read(fd, bytes.data() + filled, static_cast<size_t>(bytes.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            RaiseReadError(path, qt_error_string(errno));
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
}

}  // namespace

QString OwnFileProblem(const struct stat& info)
{
    if (info.st_uid != ::geteuid())
        return QStringLiteral("Sie gehört einem anderen Benutzer (UID %1).").arg(info.st_uid);
    if (info.st_nlink != 1)
        return QStringLiteral("Sie hat %1 Namen (harte Links).").arg(info.st_nlink);
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("Andere Benutzer dürfen sie ändern (Rechte %1).")
            .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return QString();
}

QString OwnFileProblemAt(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return qt_error_string(errno);
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("Sie ist keine gewöhnliche Datei.");
    return OwnFileProblem(info);
}

void RaiseReadError(const QString& path, const QString& reason)
{
    throw EVorlandtError(QStringLiteral("Die Datei \"%1\" kann nicht gelesen werden: %2").arg(path, reason),
                         EVorlandtError::Kind::InOut);
}

std::optional<QByteArray> ReadRegularFileWithin(const QString& path, qint64 maxSize, TFileTrust trust)
{
    struct stat info {};
    const TFileHandle file(OpenChecked(path, trust, info));
    if (info.st_size > maxSize)
        return std::nullopt;

    // Sized by the file rather than by the limit: a buffer of the largest size allowed would
    // cost its pages for every small file. Reading on past that size catches a file that grew
    // meanwhile, up to one byte beyond the limit, which is enough to refuse it.
    QByteArray bytes(std::min<qint64>(info.st_size, maxSize) + 1, Qt::Uninitialized);
    ReadUpTo(file.get(), path, bytes, maxSize + 1);
    if (bytes.size() > maxSize)
        return std::nullopt;
    return bytes;
}

QByteArray ReadRegularFileHead(const QString& path, qint64 maxSize, TFileTrust trust, bool& whole)
{
    struct stat info {};
    const TFileHandle file(OpenChecked(path, trust, info));
    QByteArray bytes(std::min<qint64>(info.st_size, maxSize) + 1, Qt::Uninitialized);
    ReadUpTo(file.get(), path, bytes, maxSize + 1);
    whole = bytes.size() <= maxSize;
    if (!whole)
        bytes.truncate(maxSize);
    return bytes;
}

QByteArray ReadRegularFile(const QString& path, qint64 maxSize, TFileTrust trust)
{
    std::optional<QByteArray> bytes = ReadRegularFileWithin(path, maxSize, trust);
    if (!bytes)
        RaiseReadError(path, qt_error_string(EFBIG));
    return std::move(*bytes);
}

}  // namespace platform
