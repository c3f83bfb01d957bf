// Creating store files with exact modes whatever the umask, without ever truncating or following
// a file somebody else put under the name.
#include "core/platform/store/StoreFile.h"

#include "core/platform/files/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace platform {

namespace {

// Creates the missing folders of `folder` with exactly `mode`: the per-user folder must not
// become readable by others through a lax umask, the machine-wide one must stay readable by
// every user even under a strict one.
bool makeFolders(const QByteArray& folder, mode_t mode)
{
    struct stat st;
    if (stat(folder.constData(), &st) == 0)
        return S_ISDIR(st.st_mode);
    for (qsizetype pos = folder.startsWith('/') ? 1 : 0; pos <= folder.size(); ++pos) {
        if (pos < folder.size() && folder.at(pos) != '/')
            continue;
        const QByteArray prefix = folder.left(pos);
        if (mkdir(prefix.constData(), mode) == 0) {
            chmod(prefix.constData(), mode);
        } else if (errno != EEXIST) {
            return false;
        }
    }
    return stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

QByteArray StoreParentFolder(const QByteArray& path)
{
    return FolderOfNativePath(path);
}

bool MayWriteStorePath(const QByteArray& path)
{
    // Effective ids decide what open() may do, so they decide here too.
    return faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) == 0;
}

// The per-user file holds the proxy password: it is created 0600 before SQLite sees it, and
// SQLite gives its journal the same mode. The machine-wide file must be readable by all users.
// The file is made under a private name and linked into place: closing a descriptor of the
// real file would drop the locks another thread's connection may already hold on it.
bool CreateStoreFile(const QByteArray& path, TRootKey root)
{
    const bool perUser = root == TRootKey::HKEY_CURRENT_USER;
    if (!makeFolders(StoreParentFolder(path), perUser ? 0700 : 0755))
        return false;
    const mode_t mode = perUser ? 0600 : 0644;
    static std::atomic<quint32> serial{0};
    const QByteArray draft =
        path + ".new-" + QByteArray::number(getpid()) + '-' + QByteArray::number(++serial);
    const int fd = open(draft.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return false;
    const bool moded = fchmod(fd, mode) == 0;
    close(fd);
    // link() fails when the name exists: another process or thread was quicker, and its
    // file is as good as ours.
    bool placed = moded && (link(draft.constData(), path.constData()) == 0 || errno == EEXIST);
    const bool noHardLinks = moded && !placed && (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS);
    unlink(draft.constData());
    if (noHardLinks) {
        // A file system without hard links (FAT, some network mounts): create in place.
        const int direct = open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (direct >= 0) {
            placed = fchmod(direct, mode) == 0;
            close(direct);
        } else {
            placed = errno == EEXIST;
        }
    }
    return placed;
}

bool MayWriteStoreFile(const QByteArray& path)
{
    if (geteuid() == 0)
        return true;
    struct stat st;
    if (stat(path.constData(), &st) == 0)
        return MayWriteStorePath(path) && MayWriteStorePath(StoreParentFolder(path));
    // Not created yet: whoever may create it in the nearest existing folder may write it.
    QByteArray folder = StoreParentFolder(path);
    while (stat(folder.constData(), &st) != 0) {
        const QByteArray up = StoreParentFolder(folder);
        if (up == folder)
            return false;
        folder = up;
    }
    return S_ISDIR(st.st_mode) && MayWriteStorePath(folder);
}

}  // namespace platform
