// TEMPORARY: the SQLite store on Windows, until the registry backend (RegistryStore.cpp) takes its
// place. Where the two files are, how they are created and who may write them; no rolled-back
// copies (a reader on Windows opens the file itself). Replaces StorePaths.cpp, StoreFile.cpp and
// RolledBackCopy.cpp in the Windows build.
#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/FolderEntries.h"
#include "core/platform/store/RolledBackCopy.h"
#include "core/platform/store/StoreFile.h"
#include "core/platform/store/StorePaths.h"
#include "core/platform/WinApi.h"

#include <QDir>

namespace platform {

QByteArray StoreFilePath(TRootKey root)
{
    if (root == TRootKey::HKEY_CURRENT_USER) {
        const QByteArray overridePath = qgetenv("VORLANDT_USER_STORE");
        if (!overridePath.isEmpty())
            return overridePath;
        return (QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA")) +
                QStringLiteral("/Vorlandt/registry-user.db"))
            .toUtf8();
    }
    const QByteArray overridePath = qgetenv("VORLANDT_MACHINE_STORE");
    if (!overridePath.isEmpty())
        return overridePath;
    return (MachineDataBase() + QStringLiteral("/Vorlandt/registry-machine.db")).toUtf8();
}

QByteArray StoreParentFolder(const QByteArray& path)
{
    return FolderOfNativePath(path);
}

bool MayWriteStorePath(const QByteArray& path)
{
    const std::wstring wide = win::WidePath(QString::fromUtf8(path));
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return MayWriteInFolder(QString::fromUtf8(path));
    win::THandle file(::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    return file.valid();
}

bool CreateStoreFile(const QByteArray& path, TRootKey)
{
    const QString name = QString::fromUtf8(path);
    QDir().mkpath(QString::fromUtf8(StoreParentFolder(path)));
    win::THandle file(::CreateFileW(win::WidePath(name).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

bool MayWriteStoreFile(const QByteArray& path)
{
    if (!NameMissing(QString::fromUtf8(path)))
        return MayWriteStorePath(path);
    QByteArray folder = StoreParentFolder(path);
    while (NameMissing(QString::fromUtf8(folder))) {
        const QByteArray up = StoreParentFolder(folder);
        if (up == folder)
            return false;
        folder = up;
    }
    return MayWriteInFolder(QString::fromUtf8(folder));
}

namespace sqlite {

bool HasJournal(const QByteArray&)
{
    return false;
}

TRolledBackCopy OpenRolledBackCopy(const QByteArray&)
{
    return TRolledBackCopy{};
}

}  // namespace sqlite

}  // namespace platform
