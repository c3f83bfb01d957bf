// Names in folders on Windows: each name opened as itself (FILE_FLAG_OPEN_REPARSE_POINT), so that
// a link or junction is looked at, or removed, and never what it points to.
#include "core/platform/files/FolderEntries.h"

#include "core/platform/WinApi.h"

#include <QDir>
#include <QList>

#include <shlobj.h>

namespace platform {

namespace {

bool IsMissingError(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

}  // namespace

bool NameMissing(const QString& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    // The attributes of the name itself: a link's own, never its target's.
    return !::GetFileAttributesExW(win::WidePath(path).c_str(), GetFileExInfoStandard, &data) &&
           IsMissingError(::GetLastError());
}

QString RemoveName(const QString& path)
{
    const std::wstring wide = win::WidePath(path);
    if (::DeleteFileW(wide.c_str()))
        return QString();
    const DWORD error = ::GetLastError();
    if (IsMissingError(error))
        return QString();
    // A link to a folder (or a junction) is a folder's name: it goes the way folders go, which
    // removes the link and leaves what it points to.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && ::RemoveDirectoryW(wide.c_str()))
        return QString();
    return win::ErrorText(error);
}

void RemoveNamesMatching(const QString& folder, const QRegularExpression& pattern)
{
    // A folder that is a link or junction is not listed.
    const DWORD attributes = ::GetFileAttributesW(win::WidePath(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return;
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    QList<QString> names;
    WIN32_FIND_DATAW entry{};
    HANDLE search = ::FindFirstFileExW(win::WidePath(prefix + u'*').c_str(), FindExInfoBasic, &entry,
                                       FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    // Names first, removal after, as on Linux.
    do {
        const QString name = QString::fromWCharArray(entry.cFileName);
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && pattern.match(name).hasMatch())
            names.append(name);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    for (const QString& name : names)
        ::DeleteFileW(win::WidePath(prefix + name).c_str());
}

bool OwnedByAnotherUser(const QString&)
{
    return false;
}

TPathProbe ProbePath(const QString& path)
{
    if (::GetFileAttributesW(win::WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return {TPathProbe::Kind::Found, QString()};
    const DWORD error = ::GetLastError();
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return {TPathProbe::Kind::Missing, QString()};
        case ERROR_ACCESS_DENIED:
            return {TPathProbe::Kind::Denied, QString()};
        case ERROR_DIRECTORY:
            return {TPathProbe::Kind::ParentNotFolder, QString()};
        default:
            return {TPathProbe::Kind::Other, win::ErrorText(error)};
    }
}

QString MachineDataBase()
{
    wchar_t* folder = nullptr;
    QString base;
    if (::SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_DEFAULT, nullptr, &folder) == S_OK)
        base = win::FromWidePath(folder);
    ::CoTaskMemFree(folder);
    if (base.isEmpty())
        base = QDir::fromNativeSeparators(qEnvironmentVariable("ProgramData"));
    while (base.endsWith(u'/') && base.size() > 3)
        base.chop(1);
    return base;
}

bool MayWriteInFolder(const QString& dir)
{
    // Windows has no cheap question for what the folder's access list grants this process: a
    // file that deletes itself when closed is the answer, and leaves nothing behind.
    const QString prefix = dir.endsWith(u'/') ? dir : dir + u'/';
    const std::wstring probe =
        win::WidePath(prefix + QStringLiteral(".vorlandt-probe-%1").arg(::GetCurrentProcessId()));
    win::THandle file(::CreateFileW(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file.valid();
}

}  // namespace platform
