// The settings store on SQLite: key paths folded for lookups but kept in the spelling they were
// created with, and every operation of the store's interface as statements on the root's file.
#include "core/platform/store/SqliteConnection.h"
#include "core/platform/store/StoreBackend.h"
#include "core/platform/store/StoreFile.h"
#include "core/platform/store/StorePaths.h"

#include <QFile>

namespace platform {

using namespace sqlite;

namespace {

// A name that cannot round-trip through the file's UTF-8 text (a lone surrogate) or that
// would be cut at a NUL could silently alias another name; such names are refused.
bool validName(const QString& name)
{
    return !name.contains(QChar(u'\0')) && name.isValidUtf16();
}

struct KeyPath {
    QString spelled;  // as the caller wrote it, without empty components
    QString folded;   // compared by this
    QByteArray fold;  // the folded path as stored
    bool valid = true;

    bool isRoot() const { return spelled.isEmpty(); }
};

QString withoutEmptyComponents(const QString& key)
{
    if (!key.startsWith(u'\\') && !key.endsWith(u'\\') && !key.contains(QLatin1String("\\\\")))
        return key;
    return key.split(u'\\', Qt::SkipEmptyParts).join(u'\\');
}

// Empty components (a trailing "\", doubled separators) name nothing, so "A\B\" is "A\B".
// The whole path is folded at once: "\" folds to itself and nothing else folds to "\", so the
// components of the folded path are the folded components.
KeyPath parseKey(const QString& key)
{
    KeyPath path;
    path.valid = validName(key);
    path.spelled = withoutEmptyComponents(key);
    path.folded = path.spelled.toCaseFolded();
    path.fold = path.folded.toUtf8();
    return path;
}

QByteArray foldName(const QString& name)
{
    return name.toCaseFolded().toUtf8();
}

// The key must exist (the root always does). Empty optional on a failing file.
std::optional<bool> keyRowExists(Connection& conn, const KeyPath& key)
{
    if (key.isRoot())
        return true;
    StmtUse use(conn.stmt(SelKey));
    if (!use)
        return std::nullopt;
    const QByteArray fold = key.fold;
    use.text(1, fold);
    const int rc = sqlite3_step(use.get());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    conn.noteError(rc);
    return std::nullopt;
}

bool ensureKey(Connection& conn, const KeyPath& key)
{
    const std::optional<bool> exists = keyRowExists(conn, key);
    if (!exists)
        return false;
    if (*exists)
        return true;
    // INSERT OR IGNORE keeps the spelling of every parent that already exists.
    const QStringList spelled = key.spelled.split(u'\\');
    const QStringList folded = key.folded.split(u'\\');
    QString pathFold;
    for (qsizetype depth = 0; depth < spelled.size(); ++depth) {
        StmtUse use(conn.stmt(InsKey));
        if (!use)
            return false;
        const QByteArray parentFold = pathFold.toUtf8();
        if (depth > 0)
            pathFold += u'\\';
        pathFold += folded.at(depth);
        const QByteArray pathFoldUtf8 = pathFold.toUtf8();
        const QByteArray name = spelled.at(depth).toUtf8();
        use.text(1, pathFoldUtf8);
        use.text(2, parentFold);
        use.text(3, name);
        if (!stepDone(conn, use))
            return false;
    }
    return true;
}

bool setValue(Connection& conn, const KeyPath& key, const QString& name, const TRawValue& value)
{
    if (!ensureKey(conn, key))
        return false;
    StmtUse use(conn.stmt(UpsertValue));
    if (!use)
        return false;
    const QByteArray keyFold = key.fold;
    const QByteArray nameFold = foldName(name);
    const QByteArray spelled = name.toUtf8();
    use.text(1, keyFold);
    use.text(2, nameFold);
    use.text(3, spelled);
    sqlite3_bind_int(use.get(), 4, static_cast<int>(value.kind));
    use.blob(5, value.data);
    return stepDone(conn, use);
}

// Deletes one value; nullopt on a failing file, else whether a value was there.
std::optional<bool> removeValue(Connection& conn, const KeyPath& key, const QString& name)
{
    StmtUse use(conn.stmt(DelValue));
    if (!use)
        return std::nullopt;
    const QByteArray keyFold = key.fold;
    const QByteArray nameFold = foldName(name);
    use.text(1, keyFold);
    use.text(2, nameFold);
    if (!stepDone(conn, use))
        return std::nullopt;
    return sqlite3_changes(conn.db) > 0;
}

bool removeKey(Connection& conn, const KeyPath& key)
{
    const QByteArray& fold = key.fold;
    const QByteArray from = fold + '\\';
    const QByteArray to = fold + ']';
    for (const StmtId id : {DelKeyVals, DelKeyKeys}) {
        StmtUse use(conn.stmt(id));
        if (!use)
            return false;
        use.text(1, fold);
        use.text(2, from);
        use.text(3, to);
        if (!stepDone(conn, use))
            return false;
    }
    return true;
}

// The rows `list` yields for an existing key, read in one transaction so that the key check and
// the listing see one state of the file. A missing file, or a fresh one without tables, holds
// an empty root and nothing else.
template <typename Item, typename ReadRow>
std::optional<QList<Item>> listKey(TRootKey root, const QString& key, StmtId list, ReadRow readRow)
{
    const KeyPath path = parseKey(key);
    if (!path.valid)
        return std::nullopt;
    Connection* conn = nullptr;
    switch (acquire(root, Purpose::Read, conn)) {
        case Access::NoFile:
            return path.isRoot() ? std::optional<QList<Item>>(QList<Item>()) : std::nullopt;
        case Access::Failed:
            return std::nullopt;
        case Access::Ready:
            break;
    }
    ReadTxn txn(*conn);
    if (!txn.ok())
        return std::nullopt;
    if (!conn->stmt(list) || !conn->stmt(SelKey)) {
        if (path.isRoot() && isEmptyStore(*conn))
            return QList<Item>();
        return std::nullopt;
    }
    if (keyRowExists(*conn, path) != true)
        return std::nullopt;
    StmtUse use(conn->stmt(list));
    const QByteArray fold = path.fold;
    use.text(1, fold);
    QList<Item> items;
    int rc;
    while ((rc = sqlite3_step(use.get())) == SQLITE_ROW)
        items.append(readRow(use.get()));
    if (rc != SQLITE_DONE) {
        conn->noteError(rc);
        return std::nullopt;
    }
    return items;
}

}  // namespace

QString StoreBackend::storePath(TRootKey root)
{
    return QFile::decodeName(StoreFilePath(root));
}

std::optional<TRawValue> StoreBackend::readValue(TRootKey root, const QString& key, const QString& name,
                                                 TReadStatus* status)
{
    TReadStatus ignored;
    TReadStatus& outcome = status ? *status : ignored;
    // A name no key or value can have is simply not there.
    outcome = TReadStatus::Missing;
    if (!validName(key) || !validName(name))
        return std::nullopt;
    Connection* conn = nullptr;
    switch (acquire(root, Purpose::Read, conn)) {
        case Access::NoFile:
            return std::nullopt;
        case Access::Failed:
            outcome = TReadStatus::Failed;
            return std::nullopt;
        case Access::Ready:
            break;
    }
    // A run reads the same few settings thousands of times; while nobody commits, the answer
    // comes from the connection's memory for one pread instead of a locked read.
    const std::optional<quint32> counter = conn->changeCounter();
    const Connection::ReadKey cacheKey{key, name};
    if (counter) {
        if (!conn->readsValid || conn->readsCounter != *counter) {
            conn->reads.clear();
            conn->readsCounter = *counter;
            conn->readsValid = true;
        } else if (const auto known = conn->reads.constFind(cacheKey); known != conn->reads.cend()) {
            outcome = known->has_value() ? TReadStatus::Found : TReadStatus::Missing;
            return *known;
        }
    }
    const auto remember = [&](const std::optional<TRawValue>& value) {
        // A bound, so that a caller reading ever new names cannot grow it without end.
        constexpr qsizetype kMaxRememberedReads = 4096;
        if (counter && conn->readsValid && conn->readsCounter == *counter) {
            if (conn->reads.size() >= kMaxRememberedReads)
                conn->reads.clear();
            conn->reads.insert(cacheKey, value);
        }
        return value;
    };

    const KeyPath path = parseKey(key);
    const QByteArray& keyFold = path.fold;
    const QByteArray nameFold = foldName(name);
    StmtUse use(conn->stmt(SelValue));
    if (!use) {
        if (!isEmptyStore(*conn))
            outcome = TReadStatus::Failed;
        return std::nullopt;
    }
    use.text(1, keyFold);
    use.text(2, nameFold);
    const int rc = sqlite3_step(use.get());
    if (rc == SQLITE_DONE)
        return remember(std::nullopt);
    if (rc != SQLITE_ROW) {
        // Busy past the wait, or damage: the value may well be there, so this is no "missing".
        conn->noteError(rc);
        outcome = TReadStatus::Failed;
        return std::nullopt;
    }
    outcome = TReadStatus::Found;
    return remember(
        TRawValue{static_cast<TValueKind>(sqlite3_column_int(use.get(), 0)), columnBlob(use.get(), 1)});
}

bool StoreBackend::keyExists(TRootKey root, const QString& key)
{
    const KeyPath path = parseKey(key);
    if (!path.valid)
        return false;
    Connection* conn = nullptr;
    switch (acquire(root, Purpose::Read, conn)) {
        case Access::NoFile:
            return path.isRoot();
        case Access::Failed:
            return false;
        case Access::Ready:
            break;
    }
    if (path.isRoot())
        return true;
    if (!conn->stmt(SelKey))
        return false;
    return keyRowExists(*conn, path).value_or(false);
}

std::optional<QStringList> StoreBackend::subKeyNames(TRootKey root, const QString& key)
{
    return listKey<QString>(root, key, SelSubKeys, [](sqlite3_stmt* row) { return columnText(row, 0); });
}

std::optional<QList<TNamedValue>> StoreBackend::values(TRootKey root, const QString& key)
{
    return listKey<TNamedValue>(root, key, SelValues, [](sqlite3_stmt* row) {
        return TNamedValue{columnText(row, 0),
                           {static_cast<TValueKind>(sqlite3_column_int(row, 1)), columnBlob(row, 2)}};
    });
}

bool StoreBackend::writeValue(TRootKey root, const QString& key, const QString& name, const TRawValue& value)
{
    const KeyPath path = parseKey(key);
    if (!path.valid || !validName(name))
        return false;
    Connection* conn = nullptr;
    if (acquire(root, Purpose::Create, conn) != Access::Ready)
        return false;
    return writeTransaction(*conn, true, [&](Schema) { return setValue(*conn, path, name, value); });
}

TDeleteResult StoreBackend::deleteValue(TRootKey root, const QString& key, const QString& name)
{
    const KeyPath path = parseKey(key);
    if (!path.valid)
        return TDeleteResult::KeyNotWritable;
    if (!validName(name))
        return TDeleteResult::NoSuchValue;
    Connection* conn = nullptr;
    switch (acquire(root, Purpose::Change, conn)) {
        case Access::NoFile:
            return path.isRoot() ? TDeleteResult::NoSuchValue : TDeleteResult::KeyNotWritable;
        case Access::Failed:
            return TDeleteResult::KeyNotWritable;
        case Access::Ready:
            break;
    }
    bool emptyStore = false;
    bool keyMissing = false;
    std::optional<bool> removed;
    const bool committed = writeTransaction(*conn, false, [&](Schema schema) {
        if (schema == Schema::Empty) {
            emptyStore = true;
            return false;
        }
        const std::optional<bool> keyThere = keyRowExists(*conn, path);
        if (!keyThere)
            return false;
        keyMissing = !*keyThere;
        if (keyMissing)
            return false;
        removed = removeValue(*conn, path, name);
        return removed.has_value();
    });
    if (emptyStore)
        return path.isRoot() ? TDeleteResult::NoSuchValue : TDeleteResult::KeyNotWritable;
    if (keyMissing || !committed || !removed)
        return TDeleteResult::KeyNotWritable;
    return *removed ? TDeleteResult::Deleted : TDeleteResult::NoSuchValue;
}

bool StoreBackend::deleteKey(TRootKey root, const QString& key)
{
    const KeyPath path = parseKey(key);
    // The root cannot go: a caller passing an empty path by mistake must not wipe the store.
    if (!path.valid || path.isRoot())
        return false;
    Connection* conn = nullptr;
    switch (acquire(root, Purpose::Change, conn)) {
        case Access::NoFile:
            return true;
        case Access::Failed:
            return false;
        case Access::Ready:
            break;
    }
    return writeTransaction(*conn, false,
                            [&](Schema schema) { return schema == Schema::Empty || removeKey(*conn, path); });
}

bool StoreBackend::apply(TRootKey root, const QList<TStoreOp>& ops)
{
    if (ops.isEmpty())
        return true;
    QList<KeyPath> paths;
    paths.reserve(ops.size());
    for (const TStoreOp& op : ops) {
        paths.append(parseKey(op.key));
        const bool named = op.type == TStoreOp::Type::SetValue || op.type == TStoreOp::Type::DeleteValue;
        if (!paths.last().valid || (named && !validName(op.name)))
            return false;
        if (op.type == TStoreOp::Type::DeleteKey && paths.last().isRoot())
            return false;
    }
    Connection* conn = nullptr;
    if (acquire(root, Purpose::Create, conn) != Access::Ready)
        return false;
    return writeTransaction(*conn, true, [&](Schema) {
        for (qsizetype i = 0; i < ops.size(); ++i) {
            const TStoreOp& op = ops.at(i);
            const KeyPath& path = paths.at(i);
            bool ok = false;
            switch (op.type) {
                case TStoreOp::Type::SetValue:
                    ok = setValue(*conn, path, op.name, op.value);
                    break;
                case TStoreOp::Type::DeleteValue:
                    // A deletion of something already gone is what the batch asked for.
                    ok = removeValue(*conn, path, op.name).has_value();
                    break;
                case TStoreOp::Type::CreateKey:
                    ok = ensureKey(*conn, path);
                    break;
                case TStoreOp::Type::DeleteKey:
                    ok = removeKey(*conn, path);
                    break;
            }
            if (!ok)
                return false;
        }
        return true;
    });
}

bool StoreBackend::canWriteMachineStore()
{
    return MayWriteStoreFile(StoreFilePath(TRootKey::HKEY_LOCAL_MACHINE));
}

}  // namespace platform
