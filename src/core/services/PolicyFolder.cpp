// Reading the policy folder on the open descriptors, and keeping what it said.
#include "core/services/PolicyFolder.h"

#include "core/platform/store/RegFile.h"
#include "core/platform/store/StorePaths.h"
#include "core/platform/VorlandtError.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::TStoreOp;

// A policy file is a page of settings; anything larger is not one.
constexpr qint64 MaxPolicyFileSize = 1024 * 1024;

// What identifies a folder or file as it was read; any change to it (a new name in the folder, a
// file rewritten or its owner or mode changed) gives another stamp.
struct TStamp {
    bool Exists = false;
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    mode_t Mode = 0;
    uid_t Owner = 0;
    timespec Modified{};
    timespec Changed{};

    static TStamp Of(const struct stat& st)
    {
        return {true, st.st_dev, st.st_ino, st.st_size, st.st_mode, st.st_uid, st.st_mtim, st.st_ctim};
    }
    static TStamp OfPath(const QByteArray& path)
    {
        struct stat st {};
        return ::lstat(path.constData(), &st) == 0 ? Of(st) : TStamp();
    }
    bool operator==(const TStamp& other) const
    {
        if (Exists != other.Exists)
            return false;
        return !Exists ||
               (Device == other.Device && Inode == other.Inode && Size == other.Size && Mode == other.Mode &&
                Owner == other.Owner && Modified.tv_sec == other.Modified.tv_sec &&
                Modified.tv_nsec == other.Modified.tv_nsec && Changed.tv_sec == other.Changed.tv_sec &&
                Changed.tv_nsec == other.Changed.tv_nsec);
    }
};

struct THive {
    platform::TPolicyFolder Folder;
    TStamp FolderStamp;
    QList<std::pair<QByteArray, TStamp>> Files;  // every "*.reg" name seen, as it was read
    QList<TPolicyEntry> Entries;
    QList<TRefusedPolicyFile> Refused;
};

QString SystemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why the policy folder or a file in it must not be believed; empty when it may. Root's alone:
// another user's file could set anybody's proxy or update source. The test build's folder from
// the environment may be the running user's own, but never for root.
QString TrustProblem(const struct stat& st, bool fromEnvironment)
{
    const uid_t self = ::geteuid();
    const bool ownerAccepted = st.st_uid == 0 || (fromEnvironment && self != 0 && st.st_uid == self);
    if (!ownerAccepted)
        return QStringLiteral("gehört nicht root (UID %1)").arg(st.st_uid);
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("andere Benutzer dürfen es ändern (Rechte %1)")
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return QString();
}

QString KeyWithoutSeparator(QString key)
{
    while (key.endsWith(u'\\'))
        key.chop(1);
    return key;
}

bool SameKey(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0 || a.toCaseFolded() == b.toCaseFolded();
}

bool KeyAtOrBelow(const QString& key, const QString& top)
{
    return SameKey(key, top) ||
           (key.size() > top.size() && key.at(top.size()) == u'\\' && SameKey(key.left(top.size()), top));
}

// One file's operations on the hive, as an import would apply them to the store.
void Apply(QList<TPolicyEntry>& entries, TRootKey root, const QList<TStoreOp>& ops, const QString& file)
{
    for (const TStoreOp& op : ops) {
        const QString key = KeyWithoutSeparator(op.key);
        const auto sameValue = [&](const TPolicyEntry& entry) {
            return entry.Root == root && SameKey(entry.Key, key) && SameKey(entry.Name, op.name);
        };
        switch (op.type) {
            case TStoreOp::Type::SetValue: {
                const auto found = std::find_if(entries.begin(), entries.end(), sameValue);
                if (found != entries.end())
                    *found = {root, key, op.name, op.value, file};
                else
                    entries.append({root, key, op.name, op.value, file});
                break;
            }
            case TStoreOp::Type::DeleteValue:
                entries.removeIf(sameValue);
                break;
            case TStoreOp::Type::DeleteKey:
                entries.removeIf(
                    [&](const TPolicyEntry& entry) { return entry.Root == root && KeyAtOrBelow(entry.Key, key); });
                break;
            case TStoreOp::Type::CreateKey:
                break;
        }
    }
}

// Reads one file on the descriptor it opened beside `folder` (never through a link) and applies
// it; a file that must not or cannot be read is refused as a whole.
void ReadPolicyFile(THive& hive, int folder, const QByteArray& name)
{
    const QString path = QFile::decodeName(hive.Folder.Path + '/' + name);
    const auto refuse = [&](const QString& reason) { hive.Refused.append({path, reason}); };
    const int fd = ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        hive.Files.append({name, TStamp::OfPath(hive.Folder.Path + '/' + name)});
        refuse(errno == ELOOP ? QStringLiteral("ist ein symbolischer Link") : SystemText(errno));
        return;
    }
    const std::unique_ptr<int, void (*)(int*)> closer(new int(fd), [](int* p) {
        ::close(*p);
        delete p;
    });
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        hive.Files.append({name, TStamp()});
        refuse(SystemText(errno));
        return;
    }
    hive.Files.append({name, TStamp::Of(st)});
    if (!S_ISREG(st.st_mode))
        return refuse(QStringLiteral("ist keine reguläre Datei"));
    if (const QString problem = TrustProblem(st, hive.Folder.FromEnvironment); !problem.isEmpty())
        return refuse(problem);
    if (st.st_size > MaxPolicyFileSize)
        return refuse(QStringLiteral("ist größer als 1 MiB"));
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refuse(SystemText(errno));
        if (n == 0)
            break;
        bytes.append(buffer, n);
        if (bytes.size() > MaxPolicyFileSize)
            return refuse(QStringLiteral("ist größer als 1 MiB"));
    }
    try {
        const regfile::TRegImport parsed = regfile::ParseRegFile(bytes, QFile::decodeName(name));
        Apply(hive.Entries, HKEY_LOCAL_MACHINE, parsed.machineOps, path);
        Apply(hive.Entries, HKEY_CURRENT_USER, parsed.userOps, path);
    } catch (const EVorlandtError& error) {
        refuse(error.message());
    }
}

std::shared_ptr<const THive> LoadHive(const platform::TPolicyFolder& where)
{
    auto hive = std::make_shared<THive>();
    hive->Folder = where;
    const int folder = ::open(where.Path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) {
        const int error = errno;
        hive->FolderStamp = TStamp::OfPath(where.Path);
        // No folder is no policy file: the common case.
        if (error != ENOENT)
            hive->Refused.append({QFile::decodeName(where.Path),
                                  error == ELOOP || error == ENOTDIR
                                      ? QStringLiteral("ist kein Verzeichnis (oder ein symbolischer Link)")
                                      : SystemText(error)});
        return hive;
    }
    DIR* dir = ::fdopendir(folder);
    if (!dir) {
        ::close(folder);
        hive->Refused.append({QFile::decodeName(where.Path), SystemText(errno)});
        return hive;
    }
    struct stat st {};
    ::fstat(::dirfd(dir), &st);
    // Stamped before anything is read: a change while reading shows at the next look.
    hive->FolderStamp = TStamp::Of(st);
    if (const QString problem = TrustProblem(st, where.FromEnvironment); !problem.isEmpty()) {
        hive->Refused.append({QFile::decodeName(where.Path), problem});
        ::closedir(dir);
        return hive;
    }
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.endsWith(".reg") && !name.startsWith('.'))
            names.append(name);
    }
    std::sort(names.begin(), names.end());
    for (const QByteArray& name : names)
        ReadPolicyFile(*hive, ::dirfd(dir), name);
    ::closedir(dir);
    return hive;
}

bool StillCurrent(const THive& hive, const platform::TPolicyFolder& where)
{
    if (hive.Folder.Path != where.Path || hive.Folder.FromEnvironment != where.FromEnvironment)
        return false;
    if (!(TStamp::OfPath(where.Path) == hive.FolderStamp))
        return false;
    for (const auto& [name, stamp] : hive.Files) {
        if (!(TStamp::OfPath(where.Path + '/' + name) == stamp))
            return false;
    }
    return true;
}

// The hive as the folder stands now; the settings store's reads come here from the worker
// thread of a transfer too.
std::shared_ptr<const THive> CurrentHive()
{
    static std::mutex mutex;
    static std::shared_ptr<const THive> cached;
    const platform::TPolicyFolder where = platform::PolicyFolder();
    const std::lock_guard<std::mutex> lock(mutex);
    if (!cached || !StillCurrent(*cached, where))
        cached = LoadHive(where);
    return cached;
}

}  // namespace

std::optional<TPolicyValue> PolicyFileValue(const QString& key, const QString& name)
{
    const std::shared_ptr<const THive> hive = CurrentHive();
    const QString wanted = KeyWithoutSeparator(key);
    for (const TPolicyEntry& entry : hive->Entries) {
        if (entry.Root == HKEY_LOCAL_MACHINE && SameKey(entry.Name, name) && SameKey(entry.Key, wanted))
            return TPolicyValue{entry.Value, entry.File};
    }
    return std::nullopt;
}

QList<TPolicyEntry> PolicyFileEntries()
{
    return CurrentHive()->Entries;
}

QList<TRefusedPolicyFile> RefusedPolicyFiles()
{
    return CurrentHive()->Refused;
}

QString PolicyFolderPath()
{
    return QFile::decodeName(platform::PolicyFolder().Path);
}
