// Reading a whole regular file on Windows with a size limit and the one read error for every
// failure. The file is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT) unless links may be
// followed, and every check is made on the open handle, so that what was checked is what is read.
#include "core/platform/files/FileRead.h"

#include "core/platform/VorlandtError.h"
#include "core/platform/WinApi.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <io.h>

namespace platform {

TFileHandle::~TFileHandle()
{
    if (FFd >= 0)
        ::_close(FFd);
}

namespace {

// Why the open file may not tell this program what to do; empty when it may.
QString OwnHandleProblem(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info)
{
    if (!win::OwnedByCurrentUser(file))
        return QStringLiteral("Sie gehört einem anderen Benutzer.");
    if (info.nNumberOfLinks != 1)
        return QStringLiteral("Sie hat %1 Namen (harte Links).").arg(info.nNumberOfLinks);
    return QString();
}

// Opens `path` as `trust` asks and checks the open file; raises the read error otherwise.
win::THandle OpenChecked(const QString& path, TFileTrust trust, qint64& size)
{
    // Others may go on reading, writing, renaming and deleting: the updater holds no file open
    // against the installer or another user's run. FILE_FLAG_BACKUP_SEMANTICS lets a folder
    // open, so that it is refused with its own words.
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN;
    if (trust != TFileTrust::FollowLinks)
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    win::THandle file(::CreateFileW(win::WidePath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, flags, nullptr));
    if (!file.valid())
        RaiseReadError(path, win::ErrorText(::GetLastError()));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info))
        RaiseReadError(path, win::ErrorText(::GetLastError()));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && trust != TFileTrust::FollowLinks)
        RaiseReadError(path, QStringLiteral("Sie ist ein symbolischer Link."));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        RaiseReadError(path, qt_error_string(EISDIR));
    // A pipe or device under the name could block for good or never end.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        RaiseReadError(path, qt_error_string(EINVAL));
    if (trust == TFileTrust::OwnFile) {
        const QString problem = OwnHandleProblem(file.get(), info);
        if (!problem.isEmpty())
            RaiseReadError(path, problem);
    }
    size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    return file;
}

// Reads from the handle's position until end of file or until `bytes` holds `limit` bytes.
void ReadUpTo(HANDLE file, const QString& path, QByteArray& bytes, qint64 limit)
{
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() >= limit)
                break;
            bytes.resize(std::min<qint64>(bytes.size() + 64 * 1024, limit));
        }
        DWORD got = 0;
        const DWORD want = DWORD(std::min<qsizetype>(bytes.size() - filled, 1 << 30));
        if (!::ReadFile(file, bytes.data() + filled, want, &got, nullptr))
            RaiseReadError(path, win::ErrorText(::GetLastError()));
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
}

}  // namespace

QString OwnFileProblemAt(const QString& path)
{
    win::THandle file(::CreateFileW(win::WidePath(path).c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr));
    if (!file.valid())
        return win::ErrorText(::GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info))
        return win::ErrorText(::GetLastError());
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        ::GetFileType(file.get()) != FILE_TYPE_DISK)
        return QStringLiteral("Sie ist keine gewöhnliche Datei.");
    return OwnHandleProblem(file.get(), info);
}

void RaiseReadError(const QString& path, const QString& reason)
{
    throw EVorlandtError(QStringLiteral("Die Datei \"%1\" kann nicht gelesen werden: %2").arg(path, reason),
                         EVorlandtError::Kind::InOut);
}

std::optional<QByteArray> ReadRegularFileWithin(const QString& path, qint64 maxSize, TFileTrust trust)
{
    qint64 size = 0;
    const win::THandle file = OpenChecked(path, trust, size);
    if (size > maxSize)
        return std::nullopt;
    QByteArray bytes(std::min<qint64>(size, maxSize) + 1, Qt::Uninitialized);
    ReadUpTo(file.get(), path, bytes, maxSize + 1);
    if (bytes.size() > maxSize)
        return std::nullopt;
    return bytes;
}

QByteArray ReadRegularFileHead(const QString& path, qint64 maxSize, TFileTrust trust, bool& whole)
{
    qint64 size = 0;
    const win::THandle file = OpenChecked(path, trust, size);
    QByteArray bytes(std::min<qint64>(size, maxSize) + 1, Qt::Uninitialized);
    ReadUpTo(file.get(), path, bytes, maxSize + 1);
    whole = bytes.size() <= maxSize;
    if (!whole)
        bytes.truncate(maxSize);
    return bytes;
}

QByteArray ReadRegularFile(const QString& path, qint64 maxSize, TFileTrust trust)
{
    std::optional<QByteArray> bytes = ReadRegularFileWithin(path, maxSize, trust);
    if (!bytes)
        RaiseReadError(path, qt_error_string(EFBIG));
    return std::move(*bytes);
}

}  // namespace platform
