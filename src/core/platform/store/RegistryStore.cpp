// The settings store on Windows: the system registry itself, in the 32-bit view the suite's own
// programs use. Names compare as the registry compares them and keep their first spelling, so
// nothing here folds case; the kinds' numbers are the registry's type numbers.
//
// What the SQLite store needs besides the store itself has no counterpart here: no file to
// place (StorePaths), to create with a mode (StoreFile) or to copy and roll back after a writer
// was killed (RolledBackCopy). The registry keeps its hives consistent itself, so condition() is
// always Normal and repair() is a read-through check of the suite's keys.
#include "core/platform/store/StoreBackend.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <optional>
#include <vector>

#include <windows.h>

// windows.h names the registry's predefined roots by macros that the store's own TRootKey
// constants share: they go, so that below, as everywhere else in the program, the names mean
// TRootKey, and the system's handles are spelled out as winreg.h defines them (sign-extended).
#undef HKEY_CURRENT_USER
#undef HKEY_LOCAL_MACHINE

namespace {
const HKEY SystemCurrentUser = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000001)));
const HKEY SystemLocalMachine = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000002)));
}  // namespace

namespace platform {

namespace {

// The suite's installers are 32-bit programs: on 64-bit Windows their HKLM\Software is
// HKLM\Software\WOW6432Node. Every access asks for that view, so that this 64-bit program reads
// the registrations they write and writes what they read; `reg.exe` shows the same keys with
// /reg:32. HKCU\Software is one key in both views, so there the flag changes nothing.
constexpr REGSAM View = KEY_WOW64_32KEY;

// The keys repair() reads through: everything the suite keeps, and the administrators' policy.
const QString SuiteKey = QStringLiteral("Software\\KRSoftware");
const QString PolicyKey = QStringLiteral("Software\\Policies\\KRSoftware");

class TKey {
public:
    TKey() = default;
    TKey(const TKey&) = delete;
    TKey& operator=(const TKey&) = delete;
    ~TKey()
    {
        if (FHandle)
            RegCloseKey(FHandle);
    }
    HKEY* out() { return &FHandle; }
    HKEY get() const { return FHandle; }

private:
    HKEY FHandle = nullptr;
};

LPCWSTR Wide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

bool NotThere(LSTATUS status)
{
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

// A NUL would cut the name short in every registry call and make it name another key or value.
bool ValidName(const QString& name)
{
    return !name.contains(QChar(u'\0'));
}

// Empty components (a trailing "\", doubled separators) name nothing, so "A\B\" is "A\B"; the
// registry itself refuses a leading "\".
QString WithoutEmptyComponents(const QString& key)
{
    return key.split(u'\\', Qt::SkipEmptyParts).join(u'\\');
}

// Where a root lives: the system's root, or, when VORLANDT_USER_STORE / VORLANDT_MACHINE_STORE
// is set, the key it names ("HKCU\Software\..."), which then stands in for the root so that
// tests and demos never touch the real settings. A variable naming anything else (a file, as
// on Linux) makes the store refuse every access instead of falling back to the real registry.
struct TPlace {
    HKEY base = nullptr;
    QString prefix;  // below base, without empty components; empty for the system's root
    QString name;    // for messages
    bool usable = true;

    QString path(const QString& key) const
    {
        const QString below = WithoutEmptyComponents(key);
        if (prefix.isEmpty())
            return below;
        return below.isEmpty() ? prefix : prefix + u'\\' + below;
    }
};

TPlace PlaceOf(TRootKey root)
{
    const bool user = root == TRootKey::HKEY_CURRENT_USER;
    const QString chosen = qEnvironmentVariable(user ? "VORLANDT_USER_STORE" : "VORLANDT_MACHINE_STORE");
    TPlace place;
    if (chosen.isEmpty()) {
        place.base = user ? SystemCurrentUser : SystemLocalMachine;
        place.name = RootKeyName(root);
        return place;
    }
    place.name = chosen;
    const qsizetype separator = chosen.indexOf(u'\\');
    const QStringView head = QStringView(chosen).left(separator < 0 ? chosen.size() : separator);
    const auto is = [&](QStringView name) { return head.compare(name, Qt::CaseInsensitive) == 0; };
    if (is(u"HKCU") || is(u"HKEY_CURRENT_USER"))
        place.base = SystemCurrentUser;
    else if (is(u"HKLM") || is(u"HKEY_LOCAL_MACHINE"))
        place.base = SystemLocalMachine;
    place.prefix = separator < 0 ? QString() : WithoutEmptyComponents(chosen.mid(separator + 1));
    place.usable = place.base != nullptr && !place.prefix.isEmpty() && ValidName(place.prefix);
    return place;
}

LSTATUS OpenKey(const TPlace& place, const QString& key, REGSAM access, TKey& handle)
{
    if (!place.usable)
        return ERROR_ACCESS_DENIED;
    return RegOpenKeyExW(place.base, Wide(place.path(key)), 0, access | View, handle.out());
}

LSTATUS CreateKey(const TPlace& place, const QString& key, REGSAM access, TKey& handle,
                  DWORD* disposition = nullptr)
{
    if (!place.usable)
        return ERROR_ACCESS_DENIED;
    return RegCreateKeyExW(place.base, Wide(place.path(key)), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           access | View, nullptr, handle.out(), disposition);
}

// The value's bytes exactly as stored: strings keep whatever terminator their writer gave them.
// A value growing between the size query and the read is simply read again.
LSTATUS QueryValue(HKEY key, const QString& name, TRawValue& value)
{
    QByteArray data(256, Qt::Uninitialized);
    for (;;) {
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>(data.size());
        const LSTATUS status =
            RegQueryValueExW(key, Wide(name), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        if (status == ERROR_MORE_DATA) {
            data.resize(static_cast<qsizetype>(size));
            continue;
        }
        if (status != ERROR_SUCCESS)
            return status;
        data.resize(static_cast<qsizetype>(size));
        // Kinds the store has no name for (REG_MULTI_SZ and the like) pass through by number, as
        // the SQLite store keeps whatever number a .reg import gave it.
        value = TRawValue{static_cast<TValueKind>(type), data};
        return ERROR_SUCCESS;
    }
}

// Like Windows NT, the registry adds the terminator a string's writer left out when a NUL
// follows the data in memory, as it always does behind a QByteArray's bytes.
LSTATUS SetValue(HKEY key, const QString& name, const TRawValue& value)
{
    return RegSetValueExW(key, Wide(name), 0, static_cast<DWORD>(value.kind),
                          reinterpret_cast<const BYTE*>(value.data.constData()),
                          static_cast<DWORD>(value.data.size()));
}

std::optional<QStringList> SubKeysOf(HKEY key)
{
    QStringList names;
    // Key names have at most 255 characters; the buffer grows should a system allow more.
    std::vector<wchar_t> buffer(256);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LSTATUS status =
            RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return names;
        if (status == ERROR_MORE_DATA) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != ERROR_SUCCESS)
            return std::nullopt;
        names.append(QString::fromWCharArray(buffer.data(), static_cast<qsizetype>(length)));
        ++index;
    }
}

// The registry enumerates values in the order they were made; sorted like the SQLite store
// lists them, `list` and `export` print the same text on both systems.
std::optional<QList<TNamedValue>> ValuesOf(HKEY key)
{
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                         &maxData, nullptr, nullptr) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<wchar_t> name(maxName + 1);
    QByteArray data(std::max<qsizetype>(maxData, 1), Qt::Uninitialized);
    QList<TNamedValue> values;
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>(data.size());
        const LSTATUS status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status == ERROR_MORE_DATA) {
            // Someone added a longer name or value since the sizes were asked for.
            name.resize(std::max<size_t>(name.size() * 2, nameLength + 1));
            data.resize(std::max<qsizetype>(data.size() * 2, size));
            continue;
        }
        if (status != ERROR_SUCCESS)
            return std::nullopt;
        values.append({QString::fromWCharArray(name.data(), static_cast<qsizetype>(nameLength)),
                       {static_cast<TValueKind>(type), data.left(static_cast<qsizetype>(size))}});
        ++index;
    }
    std::stable_sort(values.begin(), values.end(), [](const TNamedValue& a, const TNamedValue& b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return values;
}

// Removes the key with everything below it. RegDeleteTreeW knows no view, so the key is opened
// in ours, emptied through its handle, and then deleted itself in the same view.
LSTATUS RemoveKey(const TPlace& place, const QString& key)
{
    {
        TKey handle;
        const LSTATUS opened =
            OpenKey(place, key, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE, handle);
        if (opened != ERROR_SUCCESS)
            return opened;
        const LSTATUS emptied = RegDeleteTreeW(handle.get(), nullptr);
        if (emptied != ERROR_SUCCESS)
            return emptied;
    }
    return RegDeleteKeyExW(place.base, Wide(place.path(key)), View, 0);
}

bool KeyThere(const TPlace& place, const QString& key)
{
    TKey handle;
    const LSTATUS status = OpenKey(place, key, KEY_QUERY_VALUE, handle);
    // A key this user may not read still exists.
    return status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED;
}

// A key with all its values and subkeys, as far down as it goes, to put back what a batch deleted.
struct TTree {
    QString path;  // below the place, in the spelling found
    QList<TNamedValue> values;
};

std::optional<QList<TTree>> ReadTree(const TPlace& place, const QString& top)
{
    QList<TTree> trees;
    // An explicit stack: a hostile tree may nest deeper than the call stack would go.
    QStringList pending{top};
    while (!pending.isEmpty()) {
        const QString path = pending.takeLast();
        TKey handle;
        if (OpenKey(place, path, KEY_READ, handle) != ERROR_SUCCESS)
            return std::nullopt;
        const std::optional<QList<TNamedValue>> values = ValuesOf(handle.get());
        const std::optional<QStringList> subKeys = SubKeysOf(handle.get());
        if (!values || !subKeys)
            return std::nullopt;
        trees.append({path, *values});
        for (const QString& subKey : *subKeys)
            pending.append(path + u'\\' + subKey);
    }
    return trees;
}

bool WriteTree(const TPlace& place, const QList<TTree>& trees)
{
    for (const TTree& tree : trees) {
        TKey handle;
        if (CreateKey(place, tree.path, KEY_SET_VALUE, handle) != ERROR_SUCCESS)
            return false;
        for (const TNamedValue& value : tree.values) {
            if (SetValue(handle.get(), value.name, value.value) != ERROR_SUCCESS)
                return false;
        }
    }
    return true;
}

// The first component of `key` that does not exist yet, as a path (empty when the whole key
// exists): deleting it takes back every key a write created below it.
QString FirstMissingKey(const TPlace& place, const QString& key)
{
    const QStringList parts = WithoutEmptyComponents(key).split(u'\\', Qt::SkipEmptyParts);
    QString path;
    for (const QString& part : parts) {
        path = path.isEmpty() ? part : path + u'\\' + part;
        if (!KeyThere(place, path))
            return path;
    }
    return QString();
}

// The key's path with its last name spelled as the registry keeps it, so that a key put back
// reads as before; the parents stay, and with them their spelling.
QString SpelledKey(const TPlace& place, const QString& key)
{
    QString path = WithoutEmptyComponents(key);
    const qsizetype separator = path.lastIndexOf(u'\\');
    const QString parent = separator < 0 ? QString() : path.left(separator);
    const QString name = path.mid(separator + 1);
    TKey handle;
    if (OpenKey(place, parent, KEY_ENUMERATE_SUB_KEYS, handle) != ERROR_SUCCESS)
        return path;
    for (const QString& subKey : SubKeysOf(handle.get()).value_or(QStringList())) {
        if (subKey.compare(name, Qt::CaseInsensitive) == 0)
            return separator < 0 ? subKey : parent + u'\\' + subKey;
    }
    return path;
}

// How to take one applied operation back.
struct TUndo {
    enum class Type { RemoveKey, RemoveValue, RestoreValue, RestoreTree } type;
    QString key;
    QString name;
    TRawValue value;
    QList<TTree> tree;
};

bool Undo(const TPlace& place, const TUndo& undo)
{
    switch (undo.type) {
        case TUndo::Type::RemoveKey: {
            const LSTATUS status = RemoveKey(place, undo.key);
            return status == ERROR_SUCCESS || NotThere(status);
        }
        case TUndo::Type::RemoveValue: {
            TKey handle;
            const LSTATUS opened = OpenKey(place, undo.key, KEY_SET_VALUE, handle);
            if (NotThere(opened))
                return true;
            const LSTATUS status =
                opened == ERROR_SUCCESS ? RegDeleteValueW(handle.get(), Wide(undo.name)) : opened;
            return status == ERROR_SUCCESS || NotThere(status);
        }
        case TUndo::Type::RestoreValue: {
            TKey handle;
            return CreateKey(place, undo.key, KEY_SET_VALUE, handle) == ERROR_SUCCESS &&
                   SetValue(handle.get(), undo.name, undo.value) == ERROR_SUCCESS;
        }
        case TUndo::Type::RestoreTree:
            return WriteTree(place, undo.tree);
    }
    return false;
}

// Applies one operation and notes how to take it back; false, with nothing of it applied, when
// the registry refuses.
bool ApplyOne(const TPlace& place, const TStoreOp& op, QList<TUndo>& undos)
{
    switch (op.type) {
        case TStoreOp::Type::SetValue:
        case TStoreOp::Type::CreateKey: {
            const QString created = FirstMissingKey(place, op.key);
            std::optional<TRawValue> before;
            TKey handle;
            if (CreateKey(place, op.key, KEY_QUERY_VALUE | KEY_SET_VALUE, handle) != ERROR_SUCCESS)
                return false;
            if (!created.isEmpty())
                undos.append({TUndo::Type::RemoveKey, created, {}, {}, {}});
            if (op.type == TStoreOp::Type::CreateKey)
                return true;
            if (created.isEmpty()) {
                TRawValue old;
                const LSTATUS status = QueryValue(handle.get(), op.name, old);
                if (status == ERROR_SUCCESS)
                    before = old;
                else if (!NotThere(status))
                    return false;
            }
            if (SetValue(handle.get(), op.name, op.value) != ERROR_SUCCESS)
                return false;
            // Inside a key this batch made, taking the key back takes the value with it.
            if (created.isEmpty()) {
                undos.append(before ? TUndo{TUndo::Type::RestoreValue, op.key, op.name, *before, {}}
                                    : TUndo{TUndo::Type::RemoveValue, op.key, op.name, {}, {}});
            }
            return true;
        }
        case TStoreOp::Type::DeleteValue: {
            TKey handle;
            const LSTATUS opened = OpenKey(place, op.key, KEY_QUERY_VALUE | KEY_SET_VALUE, handle);
            // A deletion of something already gone is what the batch asked for.
            if (NotThere(opened))
                return true;
            if (opened != ERROR_SUCCESS)
                return false;
            TRawValue old;
            const LSTATUS queried = QueryValue(handle.get(), op.name, old);
            if (NotThere(queried))
                return true;
            if (queried != ERROR_SUCCESS)
                return false;
            // Put back under the name as it was spelled, not as the batch spells it.
            QString spelled = op.name;
            for (const TNamedValue& value : ValuesOf(handle.get()).value_or(QList<TNamedValue>())) {
                if (value.name.compare(op.name, Qt::CaseInsensitive) == 0)
                    spelled = value.name;
            }
            if (RegDeleteValueW(handle.get(), Wide(op.name)) != ERROR_SUCCESS)
                return false;
            undos.append({TUndo::Type::RestoreValue, op.key, spelled, old, {}});
            return true;
        }
        case TStoreOp::Type::DeleteKey: {
            if (!KeyThere(place, op.key))
                return true;
            // What cannot be read cannot be put back: such a key is not deleted.
            std::optional<QList<TTree>> tree = ReadTree(place, SpelledKey(place, op.key));
            if (!tree)
                return false;
            const LSTATUS status = RemoveKey(place, op.key);
            if (status != ERROR_SUCCESS && !NotThere(status)) {
                // Part of the tree may be gone already.
                WriteTree(place, *tree);
                return false;
            }
            undos.append({TUndo::Type::RestoreTree, op.key, {}, {}, std::move(*tree)});
            return true;
        }
    }
    return false;
}

}  // namespace

QString StoreBackend::storePath(TRootKey root)
{
    return PlaceOf(root).name;
}

std::optional<TRawValue> StoreBackend::readValue(TRootKey root, const QString& key, const QString& name,
                                                 TReadStatus* status)
{
    TReadStatus ignored;
    TReadStatus& outcome = status ? *status : ignored;
    // A name no key or value can have is simply not there.
    outcome = TReadStatus::Missing;
    if (!ValidName(key) || !ValidName(name))
        return std::nullopt;
    TKey handle;
    LSTATUS result = OpenKey(PlaceOf(root), key, KEY_QUERY_VALUE, handle);
    TRawValue value;
    if (result == ERROR_SUCCESS)
        result = QueryValue(handle.get(), name, value);
    if (result == ERROR_SUCCESS) {
        outcome = TReadStatus::Found;
        return value;
    }
    // Denied, or any other failure: the value may well be there, so this is no "missing".
    if (!NotThere(result))
        outcome = TReadStatus::Failed;
    return std::nullopt;
}

bool StoreBackend::keyExists(TRootKey root, const QString& key)
{
    if (!ValidName(key))
        return false;
    TKey handle;
    return OpenKey(PlaceOf(root), key, KEY_QUERY_VALUE, handle) == ERROR_SUCCESS;
}

std::optional<QStringList> StoreBackend::subKeyNames(TRootKey root, const QString& key)
{
    if (!ValidName(key))
        return std::nullopt;
    TKey handle;
    if (OpenKey(PlaceOf(root), key, KEY_ENUMERATE_SUB_KEYS, handle) != ERROR_SUCCESS)
        return std::nullopt;
    return SubKeysOf(handle.get());
}

std::optional<QList<TNamedValue>> StoreBackend::values(TRootKey root, const QString& key)
{
    if (!ValidName(key))
        return std::nullopt;
    TKey handle;
    if (OpenKey(PlaceOf(root), key, KEY_QUERY_VALUE, handle) != ERROR_SUCCESS)
        return std::nullopt;
    return ValuesOf(handle.get());
}

bool StoreBackend::writeValue(TRootKey root, const QString& key, const QString& name, const TRawValue& value)
{
    if (!ValidName(key) || !ValidName(name))
        return false;
    TKey handle;
    return CreateKey(PlaceOf(root), key, KEY_SET_VALUE, handle) == ERROR_SUCCESS &&
           SetValue(handle.get(), name, value) == ERROR_SUCCESS;
}

TDeleteResult StoreBackend::deleteValue(TRootKey root, const QString& key, const QString& name)
{
    if (!ValidName(key))
        return TDeleteResult::KeyNotWritable;
    if (!ValidName(name))
        return TDeleteResult::NoSuchValue;
    TKey handle;
    // A missing key cannot be opened for writing, as with the SQLite store.
    if (OpenKey(PlaceOf(root), key, KEY_SET_VALUE, handle) != ERROR_SUCCESS)
        return TDeleteResult::KeyNotWritable;
    const LSTATUS status = RegDeleteValueW(handle.get(), Wide(name));
    if (status == ERROR_SUCCESS)
        return TDeleteResult::Deleted;
    return NotThere(status) ? TDeleteResult::NoSuchValue : TDeleteResult::KeyNotWritable;
}

bool StoreBackend::deleteKey(TRootKey root, const QString& key)
{
    // The root cannot go: a caller passing an empty path by mistake must not wipe the store.
    if (!ValidName(key) || WithoutEmptyComponents(key).isEmpty())
        return false;
    const LSTATUS status = RemoveKey(PlaceOf(root), key);
    return status == ERROR_SUCCESS || NotThere(status);
}

// The registry applies each call on its own; transactions over several keys (the kernel's
// transaction manager) are deprecated and Wine lacks them. So the batch is applied step by step,
// each step noting how to take it back, and on the first refusal the steps done are taken back
// in reverse order. What this cannot promise: another program changing the same keys meanwhile
// sees, and may keep, the half-applied batch; a process killed in the middle leaves the steps
// done so far; a deleted key comes back with its values and subkeys but with the access list and
// class its parent gives new keys.
bool StoreBackend::apply(TRootKey root, const QList<TStoreOp>& ops)
{
    for (const TStoreOp& op : ops) {
        const bool named = op.type == TStoreOp::Type::SetValue || op.type == TStoreOp::Type::DeleteValue;
        if (!ValidName(op.key) || (named && !ValidName(op.name)))
            return false;
        if (op.type == TStoreOp::Type::DeleteKey && WithoutEmptyComponents(op.key).isEmpty())
            return false;
    }
    const TPlace place = PlaceOf(root);
    if (!place.usable)
        return ops.isEmpty();
    QList<TUndo> undos;
    for (const TStoreOp& op : ops) {
        if (!ApplyOne(place, op, undos)) {
            for (qsizetype i = undos.size() - 1; i >= 0; --i)
                Undo(place, undos.at(i));
            return false;
        }
    }
    return true;
}

TStoreCondition StoreBackend::condition(TRootKey)
{
    return TStoreCondition::Normal;
}

// Windows itself recovers a hive a crash cut off when it loads it; what is left to check is that
// everything the suite keeps under the root can be read. Each key that cannot is a finding.
TRepairReport StoreBackend::repair(TRootKey root)
{
    TRepairReport report;
    const TPlace place = PlaceOf(root);
    if (!place.usable) {
        report.findings.append(QStringLiteral("kein Schlüssel der Registrierung"));
        return report;
    }
    bool anything = false;
    for (const QString& top : {SuiteKey, PolicyKey}) {
        QStringList pending{top};
        while (!pending.isEmpty()) {
            const QString path = pending.takeLast();
            TKey handle;
            const LSTATUS status = OpenKey(place, path, KEY_READ, handle);
            if (NotThere(status) && path == top)
                continue;
            anything = true;
            std::optional<QList<TNamedValue>> values;
            std::optional<QStringList> subKeys;
            if (status == ERROR_SUCCESS) {
                values = ValuesOf(handle.get());
                subKeys = SubKeysOf(handle.get());
            }
            if (!values || !subKeys) {
                report.findings.append(QStringLiteral("%1\\%2: nicht lesbar").arg(place.name, path));
                continue;
            }
            for (const QString& subKey : *subKeys)
                pending.append(path + u'\\' + subKey);
        }
    }
    if (!anything)
        report.outcome = TRepairReport::Outcome::NoFile;
    else
        report.outcome =
            report.findings.isEmpty() ? TRepairReport::Outcome::Sound : TRepairReport::Outcome::Damaged;
    return report;
}

// The administrator check: whether the suite's machine-wide key may be opened for writing, or, where
// it does not exist yet, created. A key made only to find that out is removed again.
bool StoreBackend::canWriteMachineStore()
{
    const TPlace place = PlaceOf(TRootKey::HKEY_LOCAL_MACHINE);
    {
        TKey handle;
        const LSTATUS status = OpenKey(place, SuiteKey, KEY_WRITE, handle);
        if (status == ERROR_SUCCESS)
            return true;
        if (!NotThere(status))
            return false;
    }
    DWORD disposition = 0;
    {
        TKey handle;
        if (CreateKey(place, SuiteKey, KEY_WRITE, handle, &disposition) != ERROR_SUCCESS)
            return false;
    }
    if (disposition == REG_CREATED_NEW_KEY)
        RegDeleteKeyExW(place.base, Wide(place.path(SuiteKey)), View, 0);
    return true;
}

}  // namespace platform
