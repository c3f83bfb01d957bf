// Reads /proc with plain system calls: the check runs while the user waits for the installer,
// and a desktop easily has a thousand processes, so no QDir/QFile objects per process.
#include "core/platform/desktop/ProcessList.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

namespace platform {

namespace {

// Process folders are the purely numeric entries; everything else in /proc is kernel state.
bool ParsePid(const char* name, qint64& pid)
{
    if (*name == '\0')
        return false;
    qint64 value = 0;
    int digits = 0;
    for (const char* p = name; *p; ++p) {
        if (*p < '0' || *p > '9' || ++digits > 18)
            return false;
        value = value * 10 + (*p - '0');
    }
    pid = value;
    return true;
}

QString DecodeName(const char* bytes, qsizetype length)
{
    return QFile::decodeName(QByteArray::fromRawData(bytes, length));
}

QString ReadExePath(int procFd, const char* pidName)
{
    char linkPath[64];
    std::snprintf(linkPath, sizeof linkPath, "%s/exe", pidName);
    char target[PATH_MAX + 1];
    const ssize_t length = ::readlinkat(procFd, linkPath, target, sizeof target);
    // Other users' processes refuse the link; a full buffer means the path was cut short, and a
    // wrong file name is worse than none (argv[0] may still name the program).
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof target))
        return QString();
    qsizetype used = length;
    // An executable replaced by an update while it runs is reported with this suffix; the
    // program is still running under its old name.
    static constexpr char deleted[] = " (deleted)";
    constexpr qsizetype deletedLength = sizeof deleted - 1;
    if (used > deletedLength && std::memcmp(target + used - deletedLength, deleted, deletedLength) == 0)
        used -= deletedLength;
    return DecodeName(target, used);
}

QString ReadArgv0(int procFd, const char* pidName)
{
    char cmdlinePath[64];
    std::snprintf(cmdlinePath, sizeof cmdlinePath, "%s/cmdline", pidName);
    const int fd = ::openat(procFd, cmdlinePath, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return QString();

    // One small read holds argv[0] for nearly every process; longer ones are collected up to a
    // bound, because a process may rewrite its argument area without any NUL at all.
    constexpr qsizetype maxArgv0 = 64 * 1024;
    char chunk[4096];
    QByteArray collected;
    QString result;
    for (;;) {
        ssize_t got;
        do {
            got = ::read(fd, chunk, sizeof chunk);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            result = DecodeName(collected.constData(), collected.size());
            break;
        }
        const char* nul = static_cast<const char*>(std::memchr(chunk, '\0', static_cast<size_t>(got)));
        if (nul && collected.isEmpty()) {
            result = DecodeName(chunk, nul - chunk);
            break;
        }
        collected.append(chunk, nul ? nul - chunk : got);
        if (nul || collected.size() >= maxArgv0) {
            result = DecodeName(collected.constData(), std::min(collected.size(), maxArgv0));
            break;
        }
    }
    ::close(fd);
    return result;
}

}  // namespace

ProcessList ProcessList::Read(const QString& procRoot)
{
    const QByteArray root = QFile::encodeName(procRoot);
    const int rootFd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0)
        return ProcessList({}, false);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(rootFd), &::closedir);
    if (!dir) {
        ::close(rootFd);
        return ProcessList({}, false);
    }
    const int procFd = ::dirfd(dir.get());

    std::vector<Entry> entries;
    entries.reserve(512);
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(dir.get());
        if (!item)
            break;
        Entry entry;
        if (!ParsePid(item->d_name, entry.pid))
            continue;
        entry.exePath = ReadExePath(procFd, item->d_name);
        entry.argv0 = ReadArgv0(procFd, item->d_name);
        // A process that ended meanwhile, a zombie or a kernel thread: no name to match.
        if (entry.exePath.isEmpty() && entry.argv0.isEmpty())
            continue;
        entries.push_back(std::move(entry));
    }
    // A listing that broke off midway could miss a running application: say so.
    const bool complete = errno == 0;
    return ProcessList(std::move(entries), complete);
}

}  // namespace platform
