// Reading a whole regular file into memory with a size limit, so that a damaged or planted file
// (a folder, a pipe, a device, something huge) ends in the read error instead of a hang. Files in
// folders another user can write are read without following a link.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>

struct stat;

namespace platform {

// An open file descriptor, closed on every way out.
class TFileHandle {
public:
    explicit TFileHandle(int fd) : FFd(fd) {}
    ~TFileHandle();
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    int get() const { return FFd; }
    // Hands the descriptor over: it is no longer closed here.
    int release() { return std::exchange(FFd, -1); }

private:
    int FFd;
};

// How much a file must prove before it is read.
enum class TFileTrust {
    FollowLinks,  // anything that resolves to a regular file (install and source folders)
    NoLinks,      // a link under the name is refused, never followed (temporary and data folders)
    OwnFile,      // no link, owned by this user, one name only, writable by nobody else: a file
                  // that tells a program what to do
};

#ifndef _WIN32
// Why a file (its status as fstat or lstat gave it) may not tell this program what to do, in
// German; empty when it may: it is this user's, has one name and nobody else may write it. The
// check of TFileTrust::OwnFile.
QString OwnFileProblem(const struct stat& info);
#endif

// The same for the name `path` itself (a link is not followed), for callers that sort files out
// before reading them: also a reason when it is missing or no regular file. On Windows "this
// user's" is the file's owner and nobody else's write permission is left to the folder's
// permissions (the shared data folder hands each file to its creator).
QString OwnFileProblemAt(const QString& path);

// Raises EVorlandtError (kind InOut) with the read message naming `path` and `reason`.
[[noreturn]] void RaiseReadError(const QString& path, const QString& reason);

// The file's bytes. Raises the read error for a missing file, a folder, a pipe or device, a file
// larger than `maxSize` bytes, a file that fails `trust` and any failure to open or read it.
QByteArray ReadRegularFile(const QString& path, qint64 maxSize, TFileTrust trust = TFileTrust::FollowLinks);

// As ReadRegularFile, but a file larger than `maxSize` bytes gives nullopt instead of an error,
// for callers that report that case in their own words.
std::optional<QByteArray> ReadRegularFileWithin(const QString& path, qint64 maxSize,
                                                TFileTrust trust = TFileTrust::FollowLinks);

// The first `maxSize` bytes of the file, all of it when it is smaller, with the checks of
// ReadRegularFile; `whole` tells whether that was all. For files that are read from the front
// and may be long: only the part asked for costs memory.
QByteArray ReadRegularFileHead(const QString& path, qint64 maxSize, TFileTrust trust, bool& whole);

}  // namespace platform
