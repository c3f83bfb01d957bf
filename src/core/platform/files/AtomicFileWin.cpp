// Writing files on Windows without ever writing through a link: CreateFileW with CREATE_NEW under
// a random name, FlushFileBuffers, MoveFileExW over the target (which replaces a link or junction
// under the name rather than what it points to), and the system's text for every failure.
#include "core/platform/files/AtomicFile.h"

#include "core/platform/VorlandtError.h"
#include "core/platform/WinApi.h"

#include <QDir>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <io.h>

namespace platform {

namespace {

// The paths of this file are UTF-8 in the byte arrays, with the "/" our code uses inside.
QString PathOf(const QByteArray& path)
{
    return QString::fromUtf8(path);
}

std::wstring Wide(const QByteArray& path)
{
    return win::WidePath(PathOf(path));
}

QByteArray NameOf(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

HANDLE HandleOf(int fd)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

[[noreturn]] void RaiseWriteWinError(const QString& path, DWORD error)
{
    RaiseWriteError(path, win::ErrorText(error));
}

// Writes all of data at the handle's position; the Windows error on failure.
DWORD WriteAll(HANDLE file, QByteArrayView data)
{
    const char* next = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<qsizetype>(left, 1 << 30));
        DWORD written = 0;
        if (!::WriteFile(file, next, chunk, &written, nullptr))
            return ::GetLastError();
        next += written;
        left -= written;
    }
    return ERROR_SUCCESS;
}

// Copies a killed writer left beside a name (".<name>.<random>"), as on Linux: a folder is listed
// at most once a minute per process, and only regular files of this user that nobody changed for
// a minute go, never one this process is still writing, never a link.
class TStaleCopies {
public:
    static TStaleCopies& Instance()
    {
        static TStaleCopies instance;
        return instance;
    }

    void Writing(const QByteArray& tempPath)
    {
        const QMutexLocker locker(&FMutex);
        FLive.insert(tempPath);
    }
    void Done(const QByteArray& tempPath)
    {
        const QMutexLocker locker(&FMutex);
        FLive.remove(tempPath);
    }

    void RemoveOldCopiesOf(const QByteArray& folder, const QByteArray& name)
    {
        QList<QByteArray> candidates;
        {
            const QMutexLocker locker(&FMutex);
            TListing& listing = FListings[folder];
            const auto now = std::chrono::steady_clock::now();
            if (!listing.listed || now - listing.at >= StaleAge) {
                listing = List(folder);
                listing.at = now;
            }
            candidates = listing.copies.take(name);
            candidates.removeIf([this](const QByteArray& path) { return FLive.contains(path); });
        }
        for (const QByteArray& path : candidates)
            RemoveIfStale(path);
    }

private:
    static constexpr std::chrono::minutes StaleAge{1};

    struct TListing {
        bool listed = false;
        std::chrono::steady_clock::time_point at;
        QHash<QByteArray, QList<QByteArray>> copies;
    };

    static void RemoveIfStale(const QByteArray& path)
    {
        const std::wstring wide = Wide(path);
        // Opened as itself (a link is not followed) with the right to delete it: the checks
        // below are made on what is removed.
        win::THandle file(::CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file.valid())
            return;
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(file.get(), &info) ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
            !win::OwnedByCurrentUser(file.get()))
            return;
        ULARGE_INTEGER written;
        written.LowPart = info.ftLastWriteTime.dwLowDateTime;
        written.HighPart = info.ftLastWriteTime.dwHighDateTime;
        FILETIME nowTime;
        ::GetSystemTimeAsFileTime(&nowTime);
        ULARGE_INTEGER now;
        now.LowPart = nowTime.dwLowDateTime;
        now.HighPart = nowTime.dwHighDateTime;
        // FILETIME counts 100 ns steps.
        const quint64 age = std::chrono::duration_cast<std::chrono::seconds>(StaleAge).count() * 10'000'000ULL;
        if (now.QuadPart < written.QuadPart || now.QuadPart - written.QuadPart < age)
            return;
        FILE_DISPOSITION_INFO disposition{TRUE};
        ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
    }

    // The name a copy was meant for, empty when `entry` is no copy: "." + name + "." + 1 to 13
    // characters of base 36, as the constructor below makes them.
    static QByteArray TargetOf(const QByteArray& name)
    {
        const qsizetype dot = name.lastIndexOf('.');
        if (!name.startsWith('.') || dot <= 1 || name.size() - dot - 1 < 1 || name.size() - dot - 1 > 13)
            return QByteArray();
        for (qsizetype i = dot + 1; i < name.size(); ++i) {
            const char c = name.at(i);
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
                return QByteArray();
        }
        return name.mid(1, dot - 1);
    }

    static TListing List(const QByteArray& folder)
    {
        TListing listing;
        listing.listed = true;
        WIN32_FIND_DATAW entry{};
        const std::wstring pattern = Wide(folder + "/.*");
        HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                           nullptr, 0);
        if (search == INVALID_HANDLE_VALUE)
            return listing;
        do {
            const QByteArray name = QString::fromWCharArray(entry.cFileName).toUtf8();
            const QByteArray target = TargetOf(name);
            if (!target.isEmpty())
                listing.copies[target].append(folder + '/' + name);
        } while (::FindNextFileW(search, &entry));
        ::FindClose(search);
        return listing;
    }

    QMutex FMutex;
    QHash<QByteArray, TListing> FListings;
    QSet<QByteArray> FLive;
};

}  // namespace

QByteArray FolderOfNativePath(const QByteArray& path)
{
    const qsizetype slash = std::max(path.lastIndexOf('/'), path.lastIndexOf('\\'));
    if (slash < 0)
        return QByteArrayLiteral(".");
    // "C:/" and "/" keep their separator: without it they would name the current folder of a drive.
    if (slash == 0 || (slash == 2 && path.at(1) == ':'))
        return path.left(slash + 1);
    return path.left(slash);
}

void RaiseWriteError(const QString& path, const QString& reason)
{
    throw EVorlandtError(
        QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: %2").arg(path, reason),
        EVorlandtError::Kind::InOut);
}

void RaiseWriteErrno(const QString& path, int error)
{
    RaiseWriteError(path, qt_error_string(error));
}

TAtomicFile::TAtomicFile(const QString& path, mode_t mode, TDurability durability)
    : FPath(path), FNativePath(QDir::fromNativeSeparators(path).toUtf8()), FDurability(durability)
{
    const QByteArray name = NameOf(FNativePath);
    if (name.isEmpty())
        RaiseWriteErrno(FPath, FNativePath.isEmpty() ? ENOENT : EISDIR);
    const QByteArray folder = FolderOfNativePath(FNativePath);
    const QByteArray prefix = folder.endsWith('/') ? folder : folder + '/';
    // A name nobody can guess, created only if nothing has it: a link or file planted under a
    // predictable name would otherwise decide where the bytes go. Not inherited: a program
    // started meanwhile (the installer) must not keep the file open.
    // A private file (no bits for group or others) is made for this user alone: in the shared
    // data folder it would otherwise take what the folder hands to every user.
    win::TOwnerOnlySecurity ownerOnly;
    SECURITY_ATTRIBUTES* security = (mode & 077) == 0 ? ownerOnly.get() : nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        const quint64 random = QRandomGenerator::system()->generate64();
        FTempPath = prefix + '.' + name + '.' + QByteArray::number(random, 36);
        file = ::CreateFileW(Wide(FTempPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, security,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS &&
            ::GetLastError() != ERROR_ALREADY_EXISTS)
            RaiseWriteWinError(FPath, ::GetLastError());
    }
    if (file == INVALID_HANDLE_VALUE)
        RaiseWriteErrno(FPath, EEXIST);
    FFd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY | _O_WRONLY);
    if (FFd < 0) {
        ::CloseHandle(file);
        ::DeleteFileW(Wide(FTempPath).c_str());
        RaiseWriteErrno(FPath, EMFILE);
    }
    TStaleCopies::Instance().Writing(FTempPath);
    TStaleCopies::Instance().RemoveOldCopiesOf(folder, name);
}

void TAtomicFile::RestrictToOwner()
{
    // A file made with FileModePrivate is the user's alone from its creation on.
}

TAtomicFile::~TAtomicFile()
{
    Discard();
    if (!FTempPath.isEmpty())
        TStaleCopies::Instance().Done(FTempPath);
}

void TAtomicFile::Discard()
{
    if (FFd < 0)
        return;
    ::_close(FFd);
    FFd = -1;
    ::DeleteFileW(Wide(FTempPath).c_str());
}

void TAtomicFile::Write(QByteArrayView data)
{
    if (FFd < 0)
        RaiseWriteErrno(FPath, EBADF);
    if (const DWORD error = WriteAll(HandleOf(FFd), data); error != ERROR_SUCCESS) {
        Discard();
        RaiseWriteWinError(FPath, error);
    }
}

void TAtomicFile::Sync()
{
    if (FFd < 0)
        RaiseWriteErrno(FPath, EBADF);
    // A full disk often shows only now; the short file must never take the name.
    const DWORD error = FDurability == TDurability::Scratch || ::FlushFileBuffers(HandleOf(FFd))
                            ? ERROR_SUCCESS
                            : ::GetLastError();
    ::_close(FFd);
    FFd = -1;
    if (error != ERROR_SUCCESS) {
        ::DeleteFileW(Wide(FTempPath).c_str());
        RaiseWriteWinError(FPath, error);
    }
}

void TAtomicFile::Commit()
{
    Sync();
    // Write-through: the call returns when the new name is on the disk.
    const DWORD flags = MOVEFILE_REPLACE_EXISTING |
                        (FDurability == TDurability::Durable ? MOVEFILE_WRITE_THROUGH : 0);
    if (!::MoveFileExW(Wide(FTempPath).c_str(), Wide(FNativePath).c_str(), flags)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(Wide(FTempPath).c_str());
        RaiseWriteWinError(FPath, error);
    }
}

bool TAtomicFile::CommitNew()
{
    Sync();
    // Without MOVEFILE_REPLACE_EXISTING the rename fails when the name is taken (by a file, a
    // folder or a link alike): the file appears whole or not at all.
    const DWORD flags = FDurability == TDurability::Durable ? MOVEFILE_WRITE_THROUGH : 0;
    if (::MoveFileExW(Wide(FTempPath).c_str(), Wide(FNativePath).c_str(), flags))
        return true;
    const DWORD error = ::GetLastError();
    ::DeleteFileW(Wide(FTempPath).c_str());
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return false;
    RaiseWriteWinError(FPath, error);
}

void WriteFileAtomically(const QString& path, const QByteArray& content, mode_t mode, TDurability durability)
{
    TAtomicFile file(path, mode, durability);
    file.Write(content);
    file.Commit();
}

void RewriteFileInPlace(const QString& path, const QByteArray& content)
{
    // OPEN_EXISTING: only a file that is there is rewritten; the link itself is opened, never
    // what it points to.
    win::THandle file(::CreateFileW(win::WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid())
        RaiseWriteWinError(path, ::GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info))
        RaiseWriteWinError(path, ::GetLastError());
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        RaiseWriteError(path, QStringLiteral("Sie ist ein symbolischer Link."));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || ::GetFileType(file.get()) != FILE_TYPE_DISK)
        RaiseWriteError(path, QStringLiteral("Sie ist keine gewöhnliche Datei."));
    // A second name could be a hard link to a file elsewhere that the owner never meant to share.
    if (info.nNumberOfLinks != 1)
        RaiseWriteError(path, QStringLiteral("Sie hat %1 Namen (harte Links).").arg(info.nNumberOfLinks));
    DWORD error = ERROR_SUCCESS;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN))
        error = ::GetLastError();
    if (error == ERROR_SUCCESS)
        error = WriteAll(file.get(), content);
    if (error == ERROR_SUCCESS && !::SetEndOfFile(file.get()))
        error = ::GetLastError();
    if (error == ERROR_SUCCESS && !::FlushFileBuffers(file.get()))
        error = ::GetLastError();
    if (error != ERROR_SUCCESS)
        RaiseWriteWinError(path, error);
}

}  // namespace platform
