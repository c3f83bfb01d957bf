// Exclusive locks between processes (flock(2)), released when the holder ends or dies: one update
// run per user, one writer of the installed-updates log at a time.
#pragma once

#include <QString>

#include <chrono>

namespace platform {

class TFileLock {
public:
    TFileLock() = default;
    ~TFileLock();
    TFileLock(TFileLock&& other) noexcept;
    TFileLock& operator=(TFileLock&& other) noexcept;
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    bool Held() const { return FFd >= 0; }

    // Locks the file `path` (created with mode 0600 when missing, never through a link) if no
    // other process holds it; an unheld lock when one does. Raises EVorlandtError (kind InOut)
    // when the file cannot be opened.
    static TFileLock TryLockFile(const QString& path);

    // Locks the folder itself, waiting up to `timeout` for another holder. Raises EVorlandtError
    // (kind InOut) when the folder cannot be opened or the time runs out.
    static TFileLock LockFolder(const QString& folder, std::chrono::milliseconds timeout);

private:
    explicit TFileLock(int fd) : FFd(fd) {}
    int FFd = -1;
};

}  // namespace platform
