// The writer's few file operations on POSIX descriptors, each ending in a German refusal that
// names the file and the system's reason. Everything is opened relative to a folder descriptor
// and never through a link.
#pragma once

#include <cstddef>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>

namespace userlogwriter {

inline const std::string LogName = "VL_Userlog.txt";

// Where the writer works: the shared data folder with the log, and its own state folder (the
// lock, the index, the queue), which only the log's owner may enter.
struct TPlaces {
    std::string dataDir;   // ends with '/'
    std::string stateDir;  // ends with '/'
};

struct TRefusal {
    std::string message;
};

[[noreturn]] void Refuse(std::string message);
[[noreturn]] void RefuseFile(const std::string& path, const std::string& reason);
std::string SystemReason(int error);

class TDescriptor {
public:
    explicit TDescriptor(int fd = -1) : FFd(fd) {}
    ~TDescriptor();
    TDescriptor(TDescriptor&& other) noexcept : FFd(other.FFd) { other.FFd = -1; }
    TDescriptor& operator=(TDescriptor&& other) noexcept;
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int get() const { return FFd; }

private:
    int FFd;
};

// A folder, opened without following a link at its last step.
TDescriptor OpenFolder(const std::string& path);

// Up to `limit` bytes from the start of `fd`; `whole` tells whether that was all.
std::string ReadHead(int fd, const std::string& path, std::size_t limit, bool& whole);
void WriteAll(int fd, const std::string& path, const std::string& bytes);
void SyncFolder(int folder, const std::string& path);

// A name nobody can guess: the prefix, the time in nanoseconds, the process and random bits.
// Names made later sort after earlier ones of the same prefix.
std::string UniqueName(const std::string& prefix);

// A new file `name` in `folder`, created exclusively without following a link, mode `mode`.
TDescriptor CreateNew(int folder, const std::string& folderPath, const std::string& name, mode_t mode);

// rename() that never replaces: 0, or the error (EEXIST when the name is taken).
int RenameNoReplace(int folder, const std::string& from, const std::string& to);

// Why the open file is not the log this process may replace; empty when it is: a regular file
// with one name, of `owner`, writable by nobody else.
std::string LogProblem(const struct stat& info, uid_t owner, const std::string& dataDir);

}  // namespace userlogwriter
