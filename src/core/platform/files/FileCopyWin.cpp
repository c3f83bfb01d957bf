// The file copy on Windows: plain reads into a temporary file that is renamed over the
// destination.
#include "core/platform/files/FileCopy.h"

#include "core/platform/files/AtomicFile.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/WinApi.h"

#include <array>
#include <cerrno>

namespace platform {

QString CopyReplacing(const QString& source, const QString& destination, TDurability durability,
                      bool* destinationFailed)
{
    if (destinationFailed)
        *destinationFailed = false;
    win::THandle in(::CreateFileW(win::WidePath(source).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in.valid())
        return win::ErrorText(::GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(in.get(), &info))
        return win::ErrorText(::GetLastError());
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return qt_error_string(EISDIR);
    // Pipes and devices could block or never end.
    if (::GetFileType(in.get()) != FILE_TYPE_DISK)
        return qt_error_string(EINVAL);

    try {
        // The one way files are written: a new file beside the destination, renamed over it.
        TAtomicFile out(destination, FileModeShared, durability);
        std::array<char, 64 * 1024> buffer;
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(in.get(), buffer.data(), DWORD(buffer.size()), &got, nullptr))
                return win::ErrorText(::GetLastError());
            if (got == 0)
                break;
            out.Write(QByteArrayView(buffer.data(), got));
        }
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
