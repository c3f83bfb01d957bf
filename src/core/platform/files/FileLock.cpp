// flock(2) on descriptors opened close-on-exec, so that a program started while the lock is held
// (the installer) does not keep it after its starter ended.
#include "core/platform/files/FileLock.h"

#include "core/platform/VorlandtError.h"

#include <QFile>

#include <cerrno>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

[[noreturn]] void RaiseLockError(const QString& path, const QString& reason)
{
    throw EVorlandtError(QStringLiteral("\"%1\" kann nicht gesperrt werden: %2").arg(path, reason),
                         EVorlandtError::Kind::InOut);
}

// True when locked, false when another holds it; errno otherwise.
bool TryFlock(int fd, int& error)
{
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        error = errno == EWOULDBLOCK ? 0 : errno;
        return false;
    }
}

}  // namespace

TFileLock::~TFileLock()
{
    if (FFd >= 0)
        ::close(FFd);
}

TFileLock::TFileLock(TFileLock&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}

TFileLock& TFileLock::operator=(TFileLock&& other) noexcept
{
    if (this != &other) {
        if (FFd >= 0)
            ::close(FFd);
        FFd = std::exchange(other.FFd, -1);
    }
    return *this;
}

TFileLock TFileLock::TryLockFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        RaiseLockError(
            path, errno == ELOOP ? QStringLiteral("Es ist ein symbolischer Link.") : qt_error_string(errno));
    TFileLock lock(fd);
    int error = 0;
    if (TryFlock(fd, error))
        return lock;
    if (error != 0)
        RaiseLockError(path, qt_error_string(error));
    return TFileLock();
}

TFileLock TFileLock::LockFolder(const QString& folder, std::chrono::milliseconds timeout)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        RaiseLockError(folder, qt_error_string(errno));
    TFileLock lock(fd);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int error = 0;
        if (TryFlock(fd, error))
            return lock;
        if (error != 0)
            RaiseLockError(folder, qt_error_string(error));
        // Polled rather than blocking in flock(2): a holder that never lets go must end in an
        // error the user can read, not in a program that hangs.
        if (std::chrono::steady_clock::now() >= deadline)
            RaiseLockError(folder,
                           QStringLiteral("Ein anderes Programm hält die Sperre seit %1 Sekunden.")
                               .arg(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace platform
