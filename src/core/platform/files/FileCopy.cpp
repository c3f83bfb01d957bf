// The file copy: the kernel's copy where it can, plain reads and writes elsewhere, always into a
// temporary file that is renamed over the destination.
#include "core/platform/files/FileCopy.h"

#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/VorlandtError.h"

#include <QFile>

#include <array>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString CopyReplacing(const QString& source, const QString& destination, TDurability durability,
                      bool* destinationFailed)
{
    if (destinationFailed)
        *destinationFailed = false;
    // Non-blocking open: a pipe under the source's name must not stop the program.
    TFileHandle in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (in.get() < 0)
        return qt_error_string(errno);
    struct stat info {};
    if (::fstat(in.get(), &info) != 0)
        return qt_error_string(errno);
    if (S_ISDIR(info.st_mode))
        return qt_error_string(EISDIR);
    // Pipes and devices could block or never end.
    if (!S_ISREG(info.st_mode))
        return qt_error_string(EINVAL);

    try {
        // The one way files are written: a new file beside the destination, renamed over it.
        TAtomicFile out(destination, FileModeShared, durability);
        int error = 0;
        // The kernel copies without the data passing through this process where it can; another
        // file system or an old kernel leaves the rest to plain reads and writes. Those also
        // take over after any other failure: its error could be either file's, and only reads
        // and writes tell which one failed.
        for (;;) {
            const ssize_t copied = ::copy_file_range(in.get(), nullptr, out.Handle(), nullptr, 1 << 30, 0);
            if (copied > 0)
                continue;
            if (copied < 0 && errno == EINTR)
                continue;
            break;
        }
        std::array<char, 64 * 1024> buffer;
        while (error == 0) {
            const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                error = errno;
            if (got <= 0)
                break;
            out.Write(QByteArrayView(buffer.data(), got));
        }
        if (error != 0)
            return qt_error_string(error);
        out.Commit();
    } catch (const EVorlandtError& failure) {
        // Only the new file is written through TAtomicFile.
        if (destinationFailed)
            *destinationFailed = true;
        return failure.message();
    }
    return QString();
}

}  // namespace platform
