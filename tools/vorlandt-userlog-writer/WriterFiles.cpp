// See WriterFiles.h.
#include "WriterFiles.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace userlogwriter {

void Refuse(std::string message)
{
    throw TRefusal{std::move(message)};
}

void RefuseFile(const std::string& path, const std::string& reason)
{
    Refuse("Die Datei \"" + path + "\" kann nicht geschrieben werden: " + reason);
}

std::string SystemReason(int error)
{
    return std::string(std::strerror(error)) + ".";
}

TDescriptor::~TDescriptor()
{
    if (FFd >= 0)
        ::close(FFd);
}

TDescriptor& TDescriptor::operator=(TDescriptor&& other) noexcept
{
    if (this != &other) {
        if (FFd >= 0)
            ::close(FFd);
        FFd = other.FFd;
        other.FFd = -1;
    }
    return *this;
}

TDescriptor OpenFolder(const std::string& path)
{
    TDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0) {
        const int error = errno;
        Refuse("Das Verzeichnis \"" + path + "\" lässt sich nicht öffnen: " +
               (error == ELOOP || error == ENOTDIR ? std::string("Es ist kein Verzeichnis (ein Link?).")
                                                   : SystemReason(error)));
    }
    return folder;
}

std::string ReadHead(int fd, const std::string& path, std::size_t limit, bool& whole)
{
    std::string bytes(limit + 1, '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::pread(fd, bytes.data() + filled, bytes.size() - filled, off_t(filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            Refuse("Die Datei \"" + path + "\" kann nicht gelesen werden: " + SystemReason(errno));
        if (got == 0)
            break;
        filled += std::size_t(got);
    }
    whole = filled <= limit;
    bytes.resize(whole ? filled : limit);
    return bytes;
}

void WriteAll(int fd, const std::string& path, const std::string& bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            RefuseFile(path, SystemReason(errno));
        written += std::size_t(put);
    }
    if (::fsync(fd) != 0)
        RefuseFile(path, SystemReason(errno));
}

void SyncFolder(int folder, const std::string& path)
{
    if (::fsync(folder) != 0 && errno != EINVAL)
        Refuse("Das Verzeichnis \"" + path + "\" lässt sich nicht sichern: " + SystemReason(errno));
}

std::string UniqueName(const std::string& prefix)
{
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, 0) != sizeof random)
        Refuse("Es lassen sich keine Zufallszahlen lesen: " + SystemReason(errno));
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    char name[96];
    std::snprintf(name, sizeof name, "%s%020lld-%d-", prefix.c_str(), static_cast<long long>(now),
                  static_cast<int>(::getpid()));
    std::string result = name;
    static constexpr char Hex[] = "0123456789abcdef";
    for (const unsigned char byte : random) {
        result += Hex[byte >> 4];
        result += Hex[byte & 0xF];
    }
    return result;
}

TDescriptor CreateNew(int folder, const std::string& folderPath, const std::string& name, mode_t mode)
{
    TDescriptor file(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (file.get() < 0)
        RefuseFile(folderPath + name, SystemReason(errno));
    // The umask may have narrowed it; what others may read is this program's choice.
    if (::fchmod(file.get(), mode) != 0)
        RefuseFile(folderPath + name, SystemReason(errno));
    return file;
}

int RenameNoReplace(int folder, const std::string& from, const std::string& to)
{
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: a second name made exclusively, then the first removed.
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0)
        return errno;
    return ::unlinkat(folder, from.c_str(), 0) == 0 ? 0 : errno;
}

namespace {

// The other names of a file lie on its own file system: the folder where that file system is
// mounted is where to look for them.
std::string MountPointOf(const std::string& folder)
{
    struct stat here {};
    if (::stat(folder.c_str(), &here) != 0)
        return "/";
    std::string path = folder;
    while (path.size() > 1) {
        if (path.back() == '/')
            path.pop_back();
        const std::size_t slash = path.rfind('/');
        const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
        struct stat up {};
        if (::stat(parent.c_str(), &up) != 0 || up.st_dev != here.st_dev)
            return path;
        path = parent;
    }
    return "/";
}

}  // namespace

std::string LogProblem(const struct stat& info, uid_t owner, const std::string& dataDir)
{
    if (!S_ISREG(info.st_mode))
        return "Sie ist keine gewöhnliche Datei.";
    // A second name may be another user's way to reach the log from where only she looks.
    if (info.st_nlink != 1) {
        return "Sie hat " + std::to_string(info.st_nlink) +
               " Namen (harte Links). Der Administrator findet die anderen Namen mit: find " +
               MountPointOf(dataDir) + " -xdev -inum " + std::to_string(info.st_ino);
    }
    if (info.st_uid != owner)
        return "Sie gehört UID " + std::to_string(info.st_uid) + ", nicht UID " + std::to_string(owner) + ".";
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return std::string("Andere Benutzer dürfen sie ändern (Rechte ") + mode + ").";
    }
    return {};
}

}  // namespace userlogwriter
