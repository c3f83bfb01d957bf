// The settings store as every caller sees it, whatever holds it: two roots of keys and typed
// values with the registry's semantics (case-insensitive names that keep their first spelling,
// five value kinds). Nothing here throws; callers turn failures into the store's messages.
// Exactly one backend defines StoreBackend's functions; on Linux that is SqliteStore.cpp.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#ifdef _WIN32
// windows.h names the registry's predefined handles with the two words below as macros: it is
// read here, first, and the macros are dropped, so that the roots' names mean ours in every unit.
#include "core/platform/WinApi.h"
#endif

enum class TRootKey { HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };
inline constexpr TRootKey HKEY_CURRENT_USER = TRootKey::HKEY_CURRENT_USER;
inline constexpr TRootKey HKEY_LOCAL_MACHINE = TRootKey::HKEY_LOCAL_MACHINE;

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE", as the store's messages name the roots.
QString RootKeyName(TRootKey root);

namespace platform {

// The kinds carry the registry's type numbers so that .reg files map onto them one to one.
enum class TValueKind : int { String = 1, ExpandString = 2, Binary = 3, DWord = 4, QWord = 11 };

// A value as the registry holds it: strings as UTF-16 LE with a terminating NUL,
// numbers as 4 or 8 little-endian bytes, binary data as given.
struct TRawValue {
    TValueKind kind = TValueKind::String;
    QByteArray data;

    static TRawValue fromString(const QString& text, TValueKind kind = TValueKind::String);
    static TRawValue fromDWord(quint32 value);
    static TRawValue fromQWord(quint64 value);
    static TRawValue fromBinary(const QByteArray& bytes);
    friend bool operator==(const TRawValue&, const TRawValue&) = default;
};

struct TNamedValue {
    QString name;  // as first written
    TRawValue value;
    friend bool operator==(const TNamedValue&, const TNamedValue&) = default;
};

// What a read found: the value, no such value (or key, or file), or a file that exists but could
// not be read (damaged, not ours, or locked by a writer for longer than a read waits).
enum class TReadStatus { Found, Missing, Failed };

enum class TDeleteResult { Deleted, KeyNotWritable, NoSuchValue };

// One operation of a batch applied in a single transaction (the .reg import).
struct TStoreOp {
    enum class Type { SetValue, DeleteValue, CreateKey, DeleteKey } type;
    QString key;
    QString name;
    TRawValue value;
};

// Beyond success and failure: what the last access to a root on this thread met.
enum class TStoreCondition {
    Normal,
    // A change to the file was cut off (its writer was killed) and this process may not roll it
    // back: reads come from a private copy holding the last committed state.
    ReadingLastCommittedCopy,
    // The same, but not even a copy could be read: the last access failed for this reason.
    UnfinishedChange,
};

// What `repair` found and did.
struct TRepairReport {
    enum class Outcome {
        NoFile,        // nothing to repair
        Sound,         // the integrity check found nothing (after rolling back what was cut off)
        Damaged,       // the integrity check found faults: `findings`
        NotPermitted,  // this process may not write the file
        Failed,        // the file could not be opened or checked: `findings` says why
    } outcome = Outcome::Failed;
    bool rolledBack = false;  // a cut-off change was undone
    QStringList findings;
};

class StoreBackend {
public:
    // Where the backend keeps a root, for messages and tools; on Linux the file (StorePaths.h).
    static QString storePath(TRootKey root);

    // Reads: nullopt when the file, the key or the value is missing or the file is unreadable;
    // `status` tells these apart.
    static std::optional<TRawValue> readValue(TRootKey root, const QString& key, const QString& name,
                                              TReadStatus* status = nullptr);
    static bool keyExists(TRootKey root, const QString& key);
    static std::optional<QStringList> subKeyNames(TRootKey root, const QString& key);
    static std::optional<QList<TNamedValue>> values(TRootKey root, const QString& key);

    // Writes create the file and every missing parent key. False when the store refuses.
    static bool writeValue(TRootKey root, const QString& key, const QString& name, const TRawValue& value);
    static TDeleteResult deleteValue(TRootKey root, const QString& key, const QString& name);
    // Removes a key with all its subkeys and values; true also when it did not exist. The root
    // itself is refused (false), so an empty path passed by mistake cannot wipe the store.
    static bool deleteKey(TRootKey root, const QString& key);
    // All or nothing: either every operation is applied or none. Deleting a value or key that
    // is already gone counts as done.
    static bool apply(TRootKey root, const QList<TStoreOp>& ops);

    static TStoreCondition condition(TRootKey root);
    // Opens the root's file for writing, so that SQLite rolls back a change that was cut off,
    // and runs the full integrity check.
    static TRepairReport repair(TRootKey root);

    // Whether this process may change the machine-wide root (the administrator check).
    static bool canWriteMachineStore();
};

}  // namespace platform
