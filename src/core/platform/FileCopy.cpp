// The file copy: the kernel's copy where it can, plain reads and writes elsewhere, always into a
// temporary file that is renamed over the destination.
#include "core/platform/FileCopy.h"

#include <QFile>

#include <array>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : FFd(fd) {}
    ~TFileDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    int get() const { return FFd; }
    // Closes now, so that a failure to flush is seen; errno tells why.
    bool close()
    {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }

private:
    int FFd;
};

bool WriteAll(int fd, const char* data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

QString CopyReplacing(const QString& source, const QString& destination)
{
    // Non-blocking open: a pipe under the source's name must not stop the program.
    TFileDescriptor in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
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

    QByteArray temporary = QFile::encodeName(destination) + QByteArrayLiteral(".XXXXXX");
    TFileDescriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (out.get() < 0)
        return qt_error_string(errno);

    int error = 0;
    // The kernel copies without the data passing through this process where it can; another
    // file system or an old kernel leaves the rest to plain reads and writes.
    for (;;) {
        const ssize_t copied = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, 1 << 30, 0);
        if (copied > 0)
            continue;
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            error = errno;
        break;
    }
    std::array<char, 64 * 1024> buffer;
    for (; error == 0;) {
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || (got > 0 && !WriteAll(out.get(), buffer.data(), got))) {
            error = errno;
            break;
        }
        if (got == 0)
            break;
    }
    if (!out.close() && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), QFile::encodeName(destination).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return qt_error_string(error);
    }
    return QString();
}

}  // namespace platform
