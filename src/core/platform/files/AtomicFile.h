// The one way the programs write a file: a new file created exclusively beside the target under
// an unpredictable name, written, synced and renamed over the name. Whatever lay under the name
// (a link planted in a shared folder among it) is replaced, never written through; a full disk or
// a crash keeps the old content. Every error names the path and the system's reason.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <sys/types.h>

namespace platform {

// The folder part of a native path, "." when it has none.
QByteArray FolderOfNativePath(const QByteArray& path);

// Permission bits of a new file that anyone may read (the umask applies) and of one that only
// its owner may see.
inline constexpr mode_t FileModeShared = 0666;
inline constexpr mode_t FileModePrivate = 0600;

// Whether a committed file must survive a crash of the machine. Scratch files (what a run fetches
// into its private temporary folder and reads back at once) skip the disk syncs: a crash loses
// the run that would read them anyway, and every sync waits for the disk. They also do not
// replace an older file in one step: it goes just before the new one takes the name, since ext4
// writes a file renamed over another to disk at once.
enum class TDurability { Durable, Scratch };

class TAtomicFile {
public:
    // Creates the new file beside `path` at once. It gets `mode` (less the umask); when a regular
    // file of this user already has the name, its permission bits and group carry over instead,
    // so that replacing a shared file does not lock the others out.
    explicit TAtomicFile(const QString& path, mode_t mode = FileModeShared,
                         TDurability durability = TDurability::Durable);
    // Removes the new file unless it was committed.
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    const QString& Path() const { return FPath; }
    // The new file's descriptor, for callers that copy with the kernel's help. On Windows a C
    // runtime descriptor over the file's handle.
    int Handle() const { return FFd; }

    // Gives the new file mode 0600 outright, also where an older file under the name was
    // readable by others. On Windows the file keeps what its folder hands down: the folders
    // such files go to are the user's own.
    void RestrictToOwner();

    void Write(QByteArrayView data);
    // Syncs the new file and renames it over the name.
    void Commit();
    // As Commit, but never over something already there: false (and nothing changed) when the
    // name is taken, by a file, a folder or a link alike.
    bool CommitNew();

private:
    void Sync();
    void Discard();

    QString FPath;
    QByteArray FNativePath;
    QByteArray FTempPath;
    int FFd = -1;
    TDurability FDurability;
};

// Raises EVorlandtError (kind InOut): "Die Datei "<path>" kann nicht geschrieben werden: <reason>".
[[noreturn]] void RaiseWriteError(const QString& path, const QString& reason);
[[noreturn]] void RaiseWriteErrno(const QString& path, int error);

// Replaces `path` with `content` through a TAtomicFile.
void WriteFileAtomically(const QString& path, const QByteArray& content, mode_t mode = FileModeShared,
                         TDurability durability = TDurability::Durable);

// Rewrites a file that this user may write but not replace (another's file in a folder with the
// sticky bit): opened without following a link and without creating anything, it must be a
// regular file with a single name; then written from the start, cut to the new size and synced.
// A crash in the middle can leave it half written: use only where replacing is impossible.
void RewriteFileInPlace(const QString& path, const QByteArray& content);

}  // namespace platform
