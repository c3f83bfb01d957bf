// LockFileEx on handles that no started program inherits, so that the installer does not keep a
// lock after its starter ended. Windows cannot lock a folder itself: a folder's lock is the lock
// of a file of that name inside it, which every one of our programs takes the same way.
#include "core/platform/files/FileLock.h"

#include "core/platform/VorlandtError.h"
#include "core/platform/WinApi.h"

#include <thread>
#include <utility>

#include <fcntl.h>
#include <io.h>

namespace platform {

namespace {

// The file inside a folder whose lock is the folder's.
const QString FolderLockName = QStringLiteral(".vorlandt-lock");

[[noreturn]] void RaiseLockError(const QString& path, const QString& reason)
{
    throw EVorlandtError(QStringLiteral("\"%1\" kann nicht gesperrt werden: %2").arg(path, reason),
                         EVorlandtError::Kind::InOut);
}

// Opens (creating when missing) the file that carries the lock, as itself: a link planted under
// the name is refused. Reading is enough to lock, so another user's lock file serves as well.
int OpenLockFile(const QString& path, const QString& shownPath)
{
    win::THandle file(::CreateFileW(win::WidePath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid())
        RaiseLockError(shownPath, win::ErrorText(::GetLastError()));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info))
        RaiseLockError(shownPath, win::ErrorText(::GetLastError()));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        RaiseLockError(shownPath, QStringLiteral("Es ist ein symbolischer Link."));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        RaiseLockError(shownPath, QStringLiteral("Es ist ein Verzeichnis."));
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        RaiseLockError(shownPath, QStringLiteral("Zu viele offene Dateien."));
    file.release();
    return fd;
}

// True when locked, false when another holds it; the Windows error otherwise.
bool TryLock(int fd, DWORD& error)
{
    OVERLAPPED whole{};
    if (::LockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)),
                     LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole))
        return true;
    error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
        error = ERROR_SUCCESS;
    return false;
}

}  // namespace

TFileLock::~TFileLock()
{
    if (FFd >= 0)
        ::_close(FFd);
}

TFileLock::TFileLock(TFileLock&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}

TFileLock& TFileLock::operator=(TFileLock&& other) noexcept
{
    if (this != &other) {
        if (FFd >= 0)
            ::_close(FFd);
        FFd = std::exchange(other.FFd, -1);
    }
    return *this;
}

TFileLock TFileLock::TryLockFile(const QString& path)
{
    TFileLock lock(OpenLockFile(path, path));
    DWORD error = ERROR_SUCCESS;
    if (TryLock(lock.FFd, error))
        return lock;
    if (error != ERROR_SUCCESS)
        RaiseLockError(path, win::ErrorText(error));
    return TFileLock();
}

TFileLock TFileLock::LockFolder(const QString& folder, std::chrono::milliseconds timeout)
{
    const QString inside = folder.endsWith(u'/') || folder.endsWith(u'\\') ? folder : folder + u'/';
    TFileLock lock(OpenLockFile(inside + FolderLockName, folder));
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        DWORD error = ERROR_SUCCESS;
        if (TryLock(lock.FFd, error))
            return lock;
        if (error != ERROR_SUCCESS)
            RaiseLockError(folder, win::ErrorText(error));
        // Polled rather than waiting in LockFileEx: a holder that never lets go must end in an
        // error the user can read, not in a program that hangs.
        if (std::chrono::steady_clock::now() >= deadline)
            RaiseLockError(folder,
                           QStringLiteral("Ein anderes Programm hält die Sperre seit %1 Sekunden.")
                               .arg(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace platform
