// The private temporary folder on Windows: "vorlandt\" in the user's temporary folder, made with
// an access list for this user alone and checked on the open folder, never through a link.
#include "core/platform/files/PrivateFolder.h"

#include "core/platform/VorlandtError.h"
#include "core/platform/WinApi.h"

#include <QDir>

namespace platform {

namespace {

[[noreturn]] void RaiseFolderError(const QString& folder, const QString& reason)
{
    throw EVorlandtError(QStringLiteral("Das temporäre Verzeichnis \"%1\" kann nicht verwendet werden: %2")
                             .arg(folder, reason),
                         EVorlandtError::Kind::InOut);
}

QString WithSlash(const QString& folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

// Creates `folder` for this user (and the system) alone, whatever its parent hands down: a
// temporary folder set to a shared place must not open ours to others. False with the error in
// GetLastError when it could not be made; ERROR_ALREADY_EXISTS when something has the name.
bool CreateOwnFolder(const std::wstring& folder)
{
    win::TOwnerOnlySecurity security;
    return ::CreateDirectoryW(folder.c_str(), security.get()) != 0;
}

}  // namespace

void EnsurePrivateFolder(const QString& folder, bool create)
{
    const QString clean = QDir::cleanPath(folder);
    if (clean.isEmpty())
        RaiseFolderError(folder, win::ErrorText(ERROR_PATH_NOT_FOUND));
    const std::wstring wide = win::WidePath(clean);
    if (create && !CreateOwnFolder(wide) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        RaiseFolderError(folder, win::ErrorText(::GetLastError()));

    // Opened as itself: a link or junction under the name is refused, never looked through, and
    // the checks below are made on what was opened.
    win::THandle handle(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.valid())
        RaiseFolderError(folder, win::ErrorText(::GetLastError()));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle.get(), &info))
        RaiseFolderError(folder, win::ErrorText(::GetLastError()));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        RaiseFolderError(folder, QStringLiteral("Es ist ein symbolischer Link."));
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        RaiseFolderError(folder, QStringLiteral("Es ist kein Verzeichnis."));
    if (!win::OwnedByCurrentUser(handle.get()))
        RaiseFolderError(folder, QStringLiteral("Es gehört einem anderen Benutzer."));
}

QString PrivateTempFolderPath()
{
    wchar_t buffer[MAX_PATH + 2] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    const QString temp = length > 0 && length <= MAX_PATH + 1 ? win::FromWidePath(buffer) : QString();
    return WithSlash(QDir::cleanPath(temp.isEmpty() ? QDir::tempPath() : temp)) + QStringLiteral("vorlandt/");
}

QString PrivateTempFolder()
{
    const QString folder = PrivateTempFolderPath();
    EnsurePrivateFolder(folder, true);
    return folder;
}

void MakeOwnFolders(const QString& dir)
{
    // Under the user's profile (the local application data folder): its permissions are the
    // user's, and new folders take them.
    QDir().mkpath(QDir::cleanPath(dir));
}

}  // namespace platform
