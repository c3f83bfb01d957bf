// Writing files without ever following a link: open(2) with O_CREAT|O_EXCL|O_NOFOLLOW under a
// random name, rename(2) over the target, and errno's text for every failure.
#include "core/platform/files/AtomicFile.h"

#include "core/platform/VorlandtError.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QByteArray NameOf(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// Writes all of data at the descriptor's position; errno on failure.
int WriteAll(int fd, QByteArrayView data)
{
    const char* next = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        next += written;
        left -= written;
    }
    return 0;
}

// Makes a rename in the folder durable; a failure here loses nothing that is not also lost when
// the machine stops a moment earlier, so it is not reported.
void SyncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Copies a killed writer left beside a name (".<name>.<random>"). A folder is listed at most
// once a minute per process, and what the listing found is removed when its name is written
// next, so that writing ten thousand files into one folder does not list it ten thousand times.
// Only regular files of this user that nobody changed for a minute go: never another user's
// (the shared data folder), never one this process is still writing, never through a link.
class TStaleCopies {
public:
    static TStaleCopies& Instance()
    {
        static TStaleCopies instance;
        return instance;
    }

    void Writing(const QByteArray& tempPath)
    {
        const QMutexLocker locker(&FMutex);
        FLive.insert(tempPath);
    }
    void Done(const QByteArray& tempPath)
    {
        const QMutexLocker locker(&FMutex);
        FLive.remove(tempPath);
    }

    void RemoveOldCopiesOf(const QByteArray& folder, const QByteArray& name)
    {
        QList<QByteArray> candidates;
        {
            const QMutexLocker locker(&FMutex);
            TListing& listing = FListings[folder];
            const auto now = std::chrono::steady_clock::now();
            if (!listing.listed || now - listing.at >= StaleAge) {
                listing = List(folder);
                listing.at = now;
            }
            candidates = listing.copies.take(name);
            candidates.removeIf([this](const QByteArray& path) { return FLive.contains(path); });
        }
        const time_t oldest =
            ::time(nullptr) - std::chrono::duration_cast<std::chrono::seconds>(StaleAge).count();
        for (const QByteArray& path : candidates) {
            struct stat info {};
            if (::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
                info.st_uid == ::geteuid() && info.st_mtime <= oldest)
                ::unlink(path.constData());
        }
    }

private:
    static constexpr std::chrono::minutes StaleAge{1};

    struct TListing {
        bool listed = false;
        std::chrono::steady_clock::time_point at;
        // By the name each copy was meant for: the copies' paths.
        QHash<QByteArray, QList<QByteArray>> copies;
    };

    // The name a copy was meant for, empty when `entry` is no copy: "." + name + "." + 1 to 13
    // characters of base 36, as the constructor below makes them.
    static QByteArray TargetOf(const char* entry)
    {
        const QByteArray name(entry);
        const qsizetype dot = name.lastIndexOf('.');
        if (!name.startsWith('.') || dot <= 1 || name.size() - dot - 1 < 1 || name.size() - dot - 1 > 13)
            return QByteArray();
        for (qsizetype i = dot + 1; i < name.size(); ++i) {
            const char c = name.at(i);
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
                return QByteArray();
        }
        return name.mid(1, dot - 1);
    }

    static TListing List(const QByteArray& folder)
    {
        TListing listing;
        listing.listed = true;
        DIR* dir = ::opendir(folder.constData());
        if (dir == nullptr)
            return listing;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.')
                continue;
            const QByteArray target = TargetOf(entry->d_name);
            if (!target.isEmpty())
                listing.copies[target].append(folder + '/' + entry->d_name);
        }
        ::closedir(dir);
        return listing;
    }

    QMutex FMutex;
    QHash<QByteArray, TListing> FListings;
    QSet<QByteArray> FLive;
};

}  // namespace

QByteArray FolderOfNativePath(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

void RaiseWriteError(const QString& path, const QString& reason)
{
    throw EVorlandtError(
        QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: %2").arg(path, reason),
        EVorlandtError::Kind::InOut);
}

void RaiseWriteErrno(const QString& path, int error)
{
    RaiseWriteError(path, qt_error_string(error));
}

TAtomicFile::TAtomicFile(const QString& path, mode_t mode, TDurability durability)
    : FPath(path), FNativePath(QFile::encodeName(path)), FDurability(durability)
{
    const QByteArray name = NameOf(FNativePath);
    if (name.isEmpty())
        RaiseWriteErrno(FPath, FNativePath.isEmpty() ? ENOENT : EISDIR);
    const QByteArray folder = FolderOfNativePath(FNativePath);
    // A name nobody can guess, created only if nothing has it: a link or file planted under a
    // predictable name would otherwise decide where the bytes go.
    for (int attempt = 0; attempt < 100 && FFd < 0; ++attempt) {
        const quint64 random = QRandomGenerator::system()->generate64();
        FTempPath = folder + "/." + name + '.' + QByteArray::number(random, 36);
        FFd = ::open(FTempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (FFd < 0 && errno != EEXIST)
            RaiseWriteErrno(FPath, errno);
    }
    if (FFd < 0)
        RaiseWriteErrno(FPath, EEXIST);
    TStaleCopies::Instance().Writing(FTempPath);
    TStaleCopies::Instance().RemoveOldCopiesOf(folder, name);

    struct stat old {};
    if (::lstat(FNativePath.constData(), &old) == 0 && S_ISREG(old.st_mode) && old.st_uid == ::geteuid()) {
        if (::fchown(FFd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            // Best effort: a group this user is no member of cannot be kept.
        }
        ::fchmod(FFd, old.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO));
    }
}

void TAtomicFile::RestrictToOwner()
{
    if (FFd >= 0)
        ::fchmod(FFd, FileModePrivate);
}

TAtomicFile::~TAtomicFile()
{
    Discard();
    if (!FTempPath.isEmpty())
        TStaleCopies::Instance().Done(FTempPath);
}

void TAtomicFile::Discard()
{
    if (FFd < 0)
        return;
    ::close(FFd);
    FFd = -1;
    ::unlink(FTempPath.constData());
}

void TAtomicFile::Write(QByteArrayView data)
{
    if (FFd < 0)
        RaiseWriteErrno(FPath, EBADF);
    if (const int error = WriteAll(FFd, data); error != 0) {
        Discard();
        RaiseWriteErrno(FPath, error);
    }
}

void TAtomicFile::Sync()
{
    if (FFd < 0)
        RaiseWriteErrno(FPath, EBADF);
    // A full disk often shows only now; the short file must never take the name. Closing still
    // reports what a network file system held back.
    int error = FDurability == TDurability::Scratch || ::fsync(FFd) == 0 ? 0 : errno;
    const int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlink(FTempPath.constData());
        RaiseWriteErrno(FPath, error);
    }
}

void TAtomicFile::Commit()
{
    Sync();
    if (FDurability == TDurability::Scratch)
        ::unlink(FNativePath.constData());  // a link under the name goes, its target stays
    if (::rename(FTempPath.constData(), FNativePath.constData()) != 0) {
        const int error = errno;
        ::unlink(FTempPath.constData());
        RaiseWriteErrno(FPath, error);
    }
    if (FDurability == TDurability::Durable)
        SyncFolder(FolderOfNativePath(FNativePath));
}

bool TAtomicFile::CommitNew()
{
    Sync();
    // A second name that fails when the name is taken, then the random one goes: the file
    // appears whole or not at all, and nothing already there is touched.
    const int linked = ::link(FTempPath.constData(), FNativePath.constData()) == 0 ? 0 : errno;
    ::unlink(FTempPath.constData());
    if (linked == EEXIST)
        return false;
    if (linked != 0)
        RaiseWriteErrno(FPath, linked);
    if (FDurability == TDurability::Durable)
        SyncFolder(FolderOfNativePath(FNativePath));
    return true;
}

void WriteFileAtomically(const QString& path, const QByteArray& content, mode_t mode, TDurability durability)
{
    TAtomicFile file(path, mode, durability);
    file.Write(content);
    file.Commit();
}

void RewriteFileInPlace(const QString& path, const QByteArray& content)
{
    const QByteArray native = QFile::encodeName(path);
    // No O_CREAT: only a file that is there is rewritten. O_NONBLOCK: a pipe under the name must
    // not stop the program.
    const int fd = ::open(native.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        RaiseWriteError(
            path, errno == ELOOP ? QStringLiteral("Sie ist ein symbolischer Link.") : qt_error_string(errno));
    struct stat info {};
    int error = ::fstat(fd, &info) == 0 ? 0 : errno;
    if (error == 0 && !S_ISREG(info.st_mode)) {
        ::close(fd);
        RaiseWriteError(path, QStringLiteral("Sie ist keine gewöhnliche Datei."));
    }
    // A second name could be a hard link to a file elsewhere that the owner never meant to share.
    if (error == 0 && info.st_nlink != 1) {
        ::close(fd);
        RaiseWriteError(path, QStringLiteral("Sie hat %1 Namen (harte Links).").arg(info.st_nlink));
    }
    if (error == 0 && ::lseek(fd, 0, SEEK_SET) != 0)
        error = errno;
    if (error == 0)
        error = WriteAll(fd, content);
    if (error == 0 && ::ftruncate(fd, content.size()) != 0)
        error = errno;
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        RaiseWriteErrno(path, error);
}

}  // namespace platform
