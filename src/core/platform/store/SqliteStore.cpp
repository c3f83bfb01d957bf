// The settings store on SQLite: one file per root, one cached connection per thread and file,
// names folded for lookups but kept in the spelling they were created with.
#include "core/platform/StoreBackend.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>

QString RootKeyName(TRootKey root)
{
    return root == TRootKey::HKEY_LOCAL_MACHINE ? QStringLiteral("HKEY_LOCAL_MACHINE")
                                                : QStringLiteral("HKEY_CURRENT_USER");
}

namespace platform {

TRawValue TRawValue::fromString(const QString& text, TValueKind kind)
{
    QByteArray bytes(static_cast<qsizetype>(text.size() + 1) * 2, '\0');
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), bytes.data() + i * 2);
    return {kind, bytes};
}

TRawValue TRawValue::fromDWord(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return {TValueKind::DWord, bytes};
}

TRawValue TRawValue::fromQWord(quint64 value)
{
    QByteArray bytes(8, '\0');
    qToLittleEndian(value, bytes.data());
    return {TValueKind::QWord, bytes};
}

TRawValue TRawValue::fromBinary(const QByteArray& bytes)
{
    return {TValueKind::Binary, bytes};
}

namespace {

// Version 1 is the first layout; each later version adds one step to kMigrations.
constexpr int kSchemaVersion = 1;
// Another process (an installer, a second updater) may hold the write lock for a moment;
// waiting is better than a failed save.
constexpr int kBusyTimeoutMs = 5000;

const char* const kMigrations[kSchemaVersion] = {
    // 0 -> 1. Keys are rows of their own so that an empty key exists and lists; the folded path
    // is the identity, the stored name the spelling shown. Sorting by the folded path lists the
    // children of one parent alphabetically, like the registry enumerates them.
    ("CREATE TABLE keys(path_fold TEXT PRIMARY KEY NOT NULL, parent_fold TEXT NOT NULL,"
     " name TEXT NOT NULL) WITHOUT ROWID;"
     "CREATE INDEX keys_parent ON keys(parent_fold);"
     "CREATE TABLE vals(key_fold TEXT NOT NULL, name_fold TEXT NOT NULL, name TEXT NOT NULL,"
     " kind INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key_fold, name_fold)) WITHOUT ROWID;"),
};

enum StmtId {
    SelValue,
    SelKey,
    SelSubKeys,
    SelValues,
    InsKey,
    UpsertValue,
    DelValue,
    DelKeyVals,
    DelKeyKeys,
    Begin,
    BeginImmediate,
    Commit,
    Rollback,
    UserVersion,
    SchemaCount,
    StmtCount
};

const char* const kSql[StmtCount] = {
    "SELECT kind, data FROM vals WHERE key_fold = ?1 AND name_fold = ?2",
    "SELECT 1 FROM keys WHERE path_fold = ?1",
    "SELECT name FROM keys WHERE parent_fold = ?1 ORDER BY path_fold",
    "SELECT name, kind, data FROM vals WHERE key_fold = ?1 ORDER BY name_fold",
    "INSERT OR IGNORE INTO keys(path_fold, parent_fold, name) VALUES(?1, ?2, ?3)",
    ("INSERT INTO vals(key_fold, name_fold, name, kind, data) VALUES(?1, ?2, ?3, ?4, ?5)"
     " ON CONFLICT(key_fold, name_fold) DO UPDATE SET kind = excluded.kind, data = excluded.data"),
    "DELETE FROM vals WHERE key_fold = ?1 AND name_fold = ?2",
    // ?2 and ?3 are the folded path followed by "\" and by "]": every descendant's path lies
    // between them in byte order, and nothing else does.
    "DELETE FROM vals WHERE key_fold = ?1 OR (key_fold >= ?2 AND key_fold < ?3)",
    "DELETE FROM keys WHERE path_fold = ?1 OR (path_fold >= ?2 AND path_fold < ?3)",
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "PRAGMA user_version",
    "SELECT count(*) FROM sqlite_schema",
};

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

QByteArray nativeStorePath(TRootKey root)
{
    if (root == TRootKey::HKEY_CURRENT_USER) {
        const QByteArray overridePath = qgetenv("VORLANDT_USER_STORE");
        if (!overridePath.isEmpty())
            return overridePath;
        // A relative XDG_CONFIG_HOME is invalid by the XDG rules and would depend on the
        // working folder; it is ignored like an unset one.
        QByteArray config = qgetenv("XDG_CONFIG_HOME");
        if (config.isEmpty() || !config.startsWith('/')) {
            QByteArray home = qgetenv("HOME");
            if (home.isEmpty())
                home = QFile::encodeName(QDir::homePath());
            config = home + "/.config";
        }
        return config + "/vorlandt/registry-user.db";
    }
    const QByteArray overridePath = qgetenv("VORLANDT_MACHINE_STORE");
    if (!overridePath.isEmpty())
        return overridePath;
    return QByteArrayLiteral("/var/lib/vorlandt/registry-machine.db");
}

QByteArray parentFolder(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

bool mayWrite(const QByteArray& path)
{
    // Effective ids decide what open() may do, so they decide here too.
    return faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) == 0;
}

// Creates the missing folders of `folder` with exactly `mode`: the per-user folder must not
// become readable by others through a lax umask, the machine-wide one must stay readable by
// every user even under a strict one.
bool makeFolders(const QByteArray& folder, mode_t mode)
{
    struct stat st;
    if (stat(folder.constData(), &st) == 0)
        return S_ISDIR(st.st_mode);
    for (qsizetype pos = folder.startsWith('/') ? 1 : 0; pos <= folder.size(); ++pos) {
        if (pos < folder.size() && folder.at(pos) != '/')
            continue;
        const QByteArray prefix = folder.left(pos);
        if (mkdir(prefix.constData(), mode) == 0) {
            chmod(prefix.constData(), mode);
        } else if (errno != EEXIST) {
            return false;
        }
    }
    return stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The per-user file holds the proxy password: it is created 0600 before SQLite sees it, and
// SQLite gives its journal the same mode. The machine-wide file must be readable by all users.
// The file is made under a private name and linked into place: closing a descriptor of the
// real file would drop the locks another thread's connection may already hold on it.
bool createStoreFile(const QByteArray& path, TRootKey root)
{
    const bool perUser = root == TRootKey::HKEY_CURRENT_USER;
    if (!makeFolders(parentFolder(path), perUser ? 0700 : 0755))
        return false;
    const mode_t mode = perUser ? 0600 : 0644;
    static std::atomic<quint32> serial{0};
    const QByteArray draft =
        path + ".new-" + QByteArray::number(getpid()) + '-' + QByteArray::number(++serial);
    const int fd = open(draft.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return false;
    const bool moded = fchmod(fd, mode) == 0;
    close(fd);
    // link() fails when the name exists: another process or thread was quicker, and its
    // file is as good as ours.
    bool placed = moded && (link(draft.constData(), path.constData()) == 0 || errno == EEXIST);
    const bool noHardLinks = moded && !placed && (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS);
    unlink(draft.constData());
    if (noHardLinks) {
        // A file system without hard links (FAT, some network mounts): create in place.
        const int direct = open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (direct >= 0) {
            placed = fchmod(direct, mode) == 0;
            close(direct);
        } else {
            placed = errno == EEXIST;
        }
    }
    return placed;
}

class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { close(); }

    sqlite3* db = nullptr;
    QByteArray path;
    struct stat identity {};
    bool writable = false;
    // Set when the file failed its check or SQLite met damage; the file stays refused until
    // its content changes on disk.
    bool damaged = false;

    void close()
    {
        for (sqlite3_stmt*& stmt : FStmts) {
            sqlite3_finalize(stmt);
            stmt = nullptr;
        }
        if (db)
            sqlite3_close_v2(db);
        db = nullptr;
        damaged = false;
        FChecked = false;
    }

    // Prepared once per connection; nullptr when the schema lacks the table or the file fails.
    sqlite3_stmt* stmt(StmtId id)
    {
        if (!FStmts[id]) {
            const int rc =
                sqlite3_prepare_v3(db, kSql[id], -1, SQLITE_PREPARE_PERSISTENT, &FStmts[id], nullptr);
            if (rc != SQLITE_OK) {
                noteError(rc);
                sqlite3_finalize(FStmts[id]);
                FStmts[id] = nullptr;
            }
        }
        return FStmts[id];
    }

    void noteError(int rc)
    {
        const int primary = rc & 0xFF;
        if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
            damaged = true;
    }

    bool isSameFile(const QByteArray& wantedPath, const struct stat& st) const
    {
        return db && path == wantedPath && identity.st_dev == st.st_dev && identity.st_ino == st.st_ino;
    }

    // Size and modification time of the content last checked (or last written by us).
    bool contentChecked(const struct stat& st) const
    {
        return FChecked && FCheckedSize == st.st_size && FCheckedTime.tv_sec == st.st_mtim.tv_sec &&
               FCheckedTime.tv_nsec == st.st_mtim.tv_nsec;
    }

    void markChecked(const struct stat& st)
    {
        FChecked = true;
        FCheckedSize = st.st_size;
        FCheckedTime = st.st_mtim;
    }

    // After our own commit the content is known good; another change since then is missed
    // by this, which only costs the damage check, never the freshness of reads.
    void markOwnWrite()
    {
        struct stat st;
        if (stat(path.constData(), &st) == 0 && st.st_dev == identity.st_dev &&
            st.st_ino == identity.st_ino && !damaged)
            markChecked(st);
    }

private:
    std::array<sqlite3_stmt*, StmtCount> FStmts{};
    bool FChecked = false;
    off_t FCheckedSize = 0;
    struct timespec FCheckedTime {};
};

// One connection per thread and root: SQLite connections must not be shared between threads
// without its mutexes, and per-thread connections let the download worker read while the
// user-interface thread writes. Closed when the thread ends.
struct ConnectionCache {
    Connection conns[2];
    Connection& of(TRootKey root) { return conns[root == TRootKey::HKEY_LOCAL_MACHINE ? 1 : 0]; }
};
thread_local ConnectionCache tlsConnections;

// Resets a used statement so that it holds no read lock and no stale bindings.
class StmtUse {
public:
    explicit StmtUse(sqlite3_stmt* stmt) : FStmt(stmt) {}
    StmtUse(const StmtUse&) = delete;
    StmtUse& operator=(const StmtUse&) = delete;
    ~StmtUse()
    {
        if (FStmt) {
            sqlite3_reset(FStmt);
            sqlite3_clear_bindings(FStmt);
        }
    }
    sqlite3_stmt* get() const { return FStmt; }
    explicit operator bool() const { return FStmt != nullptr; }

    // The bound bytes must outlive the step: callers keep them in locals.
    void text(int index, const QByteArray& utf8)
    {
        sqlite3_bind_text(FStmt, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_STATIC);
    }
    void blob(int index, const QByteArray& bytes)
    {
        // A null pointer would bind NULL, not an empty value.
        if (bytes.isEmpty())
            sqlite3_bind_zeroblob(FStmt, index, 0);
        else
            sqlite3_bind_blob64(FStmt, index, bytes.constData(), static_cast<sqlite3_uint64>(bytes.size()),
                                SQLITE_STATIC);
    }

private:
    sqlite3_stmt* FStmt;
};

QString columnText(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(stmt, column));
}

QByteArray columnBlob(sqlite3_stmt* stmt, int column)
{
    const void* data = sqlite3_column_blob(stmt, column);
    const int size = sqlite3_column_bytes(stmt, column);
    return data ? QByteArray(static_cast<const char*>(data), size) : QByteArray();
}

// Runs a statement without result rows; true when it completed.
bool run(Connection& conn, StmtId id)
{
    StmtUse use(conn.stmt(id));
    if (!use)
        return false;
    const int rc = sqlite3_step(use.get());
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        conn.noteError(rc);
        return false;
    }
    return true;
}

std::optional<qint64> queryNumber(Connection& conn, StmtId id)
{
    StmtUse use(conn.stmt(id));
    if (!use)
        return std::nullopt;
    const int rc = sqlite3_step(use.get());
    if (rc != SQLITE_ROW) {
        conn.noteError(rc);
        return std::nullopt;
    }
    return sqlite3_column_int64(use.get(), 0);
}

bool healthy(Connection& conn)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(conn.db, "PRAGMA quick_check(1)", -1, &raw, nullptr) != SQLITE_OK) {
        conn.noteError(sqlite3_errcode(conn.db));
        sqlite3_finalize(raw);
        return false;
    }
    const int rc = sqlite3_step(raw);
    const bool ok =
        rc == SQLITE_ROW && qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)), "ok") == 0;
    if (rc == SQLITE_ROW && !ok)
        conn.damaged = true;
    else if (rc != SQLITE_ROW)
        conn.noteError(rc);
    sqlite3_finalize(raw);
    return ok;
}

enum class Access { Ready, NoFile, Failed };
enum class Purpose { Read, Change, Create };

// Finds or opens this thread's connection to the root's file. Another process may have
// replaced or deleted the file since the last call; the device and inode tell.
Access acquire(TRootKey root, Purpose purpose, Connection*& out)
{
    const QByteArray path = nativeStorePath(root);
    Connection& conn = tlsConnections.of(root);
    struct stat st;
    if (stat(path.constData(), &st) != 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        if (!missing || purpose != Purpose::Create) {
            conn.close();
            return missing ? Access::NoFile : Access::Failed;
        }
        if (!createStoreFile(path, root) || stat(path.constData(), &st) != 0) {
            conn.close();
            return Access::Failed;
        }
    }
    if (!S_ISREG(st.st_mode)) {
        conn.close();
        return Access::Failed;
    }

    if (!conn.isSameFile(path, st) || (purpose != Purpose::Read && !conn.writable)) {
        conn.close();
        // Without write permission the file is opened read-only, which is why it never uses
        // WAL: a read-only process cannot open a WAL database.
        const bool writable = mayWrite(path) && mayWrite(parentFolder(path));
        if (purpose != Purpose::Read && !writable)
            return Access::Failed;
        const int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.constData(), &conn.db, flags, nullptr) != SQLITE_OK) {
            conn.close();
            return Access::Failed;
        }
        // The identity is taken before the open: a file swapped in between shows up as a
        // mismatch on the next call and is reopened then.
        conn.path = path;
        conn.identity = st;
        conn.writable = writable;
        sqlite3_extended_result_codes(conn.db, 1);
        sqlite3_busy_timeout(conn.db, kBusyTimeoutMs);
        // The file is data, not code: no schema tricks from a planted or damaged file.
        sqlite3_db_config(conn.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(conn.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    }
    // Content that changed outside this connection (another process, another thread, or
    // bytes written past SQLite) is checked once before it is trusted, so that a damaged
    // file is neither read nor written into.
    if (!conn.contentChecked(st)) {
        conn.damaged = false;
        // Pages cached from before would hide bytes changed behind SQLite's back.
        sqlite3_db_release_memory(conn.db);
        if (!healthy(conn) && !conn.damaged) {
            conn.close();  // busy or unreadable: try afresh next time
            return Access::Failed;
        }
        conn.markChecked(st);
        // Our files never use WAL: a user without write permission could not read them. One
        // switched to WAL by another tool is switched back.
        if (!conn.damaged && conn.writable)
            sqlite3_exec(conn.db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    }
    if (conn.damaged)
        return Access::Failed;
    out = &conn;
    return Access::Ready;
}

enum class Schema { Ready, Empty, Foreign };

// Inside a write transaction: what the file holds. An older layout is migrated step by step;
// an empty file gets the schema only with `create`, so deletions never initialise a file.
Schema prepareSchema(Connection& conn, bool create)
{
    const std::optional<qint64> version = queryNumber(conn, UserVersion);
    if (!version)
        return Schema::Foreign;
    if (*version == kSchemaVersion)
        return Schema::Ready;
    if (*version > kSchemaVersion || *version < 0)
        return Schema::Foreign;  // a newer program's layout: leave it alone
    if (*version == 0) {
        // Version 0 with tables is somebody else's database, not an empty store.
        const std::optional<qint64> objects = queryNumber(conn, SchemaCount);
        if (!objects || *objects != 0)
            return Schema::Foreign;
        if (!create)
            return Schema::Empty;
    }
    for (qint64 step = *version; step < kSchemaVersion; ++step) {
        const int rc = sqlite3_exec(conn.db, kMigrations[step], nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            conn.noteError(rc);
            return Schema::Foreign;
        }
    }
    const QByteArray setVersion = "PRAGMA user_version=" + QByteArray::number(kSchemaVersion);
    if (sqlite3_exec(conn.db, setVersion.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return Schema::Foreign;
    return Schema::Ready;
}

// Statements failed to prepare: a fresh file without tables reads as an empty store,
// anything else as a failure.
bool isEmptyStore(Connection& conn)
{
    const std::optional<qint64> objects = queryNumber(conn, SchemaCount);
    return objects && *objects == 0;
}

// A read transaction so that a listing's two queries see one state of the file.
class ReadTxn {
public:
    explicit ReadTxn(Connection& conn) : FConn(conn), FOpen(run(conn, Begin)) {}
    ReadTxn(const ReadTxn&) = delete;
    ReadTxn& operator=(const ReadTxn&) = delete;
    ~ReadTxn()
    {
        if (FOpen && !run(FConn, Commit))
            run(FConn, Rollback);
    }
    bool ok() const { return FOpen; }

private:
    Connection& FConn;
    bool FOpen;
};

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
        const int rc = sqlite3_step(use.get());
        if (rc != SQLITE_DONE) {
            conn.noteError(rc);
            return false;
        }
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
    const int rc = sqlite3_step(use.get());
    if (rc != SQLITE_DONE) {
        conn.noteError(rc);
        return false;
    }
    return true;
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
    const int rc = sqlite3_step(use.get());
    if (rc != SQLITE_DONE) {
        conn.noteError(rc);
        return std::nullopt;
    }
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
        const int rc = sqlite3_step(use.get());
        if (rc != SQLITE_DONE) {
            conn.noteError(rc);
            return false;
        }
    }
    return true;
}

// A write transaction: the body runs between BEGIN IMMEDIATE and COMMIT, and anything that
// fails rolls the whole transaction back, so a batch lands completely or not at all.
template <typename Body>
bool writeTransaction(Connection& conn, bool createSchema, Body body)
{
    // IMMEDIATE takes the write lock up front: two writers then queue behind the busy
    // timeout instead of deadlocking on a lock upgrade.
    if (!sqlite3_get_autocommit(conn.db))
        run(conn, Rollback);  // a transaction left open by an earlier failure must not merge
    if (!run(conn, BeginImmediate))
        return false;
    const Schema schema = prepareSchema(conn, createSchema);
    const bool ok = schema != Schema::Foreign && body(schema) && run(conn, Commit);
    if (!ok)
        run(conn, Rollback);
    conn.markOwnWrite();
    return ok;
}

}  // namespace

QString StoreBackend::storePath(TRootKey root)
{
    return QFile::decodeName(nativeStorePath(root));
}

std::optional<TRawValue> StoreBackend::readValue(TRootKey root, const QString& key, const QString& name)
{
    const KeyPath path = parseKey(key);
    if (!path.valid || !validName(name))
        return std::nullopt;
    const QByteArray& keyFold = path.fold;
    const QByteArray nameFold = foldName(name);
    Connection* conn = nullptr;
    if (acquire(root, Purpose::Read, conn) != Access::Ready)
        return std::nullopt;
    StmtUse use(conn->stmt(SelValue));
    if (!use)
        return std::nullopt;
    use.text(1, keyFold);
    use.text(2, nameFold);
    const int rc = sqlite3_step(use.get());
    if (rc != SQLITE_ROW) {
        if (rc != SQLITE_DONE)
            conn->noteError(rc);
        return std::nullopt;
    }
    return TRawValue{static_cast<TValueKind>(sqlite3_column_int(use.get(), 0)), columnBlob(use.get(), 1)};
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
    const KeyPath path = parseKey(key);
    if (!path.valid)
        return std::nullopt;
    Connection* conn = nullptr;
    switch (acquire(root, Purpose::Read, conn)) {
        case Access::NoFile:
            return path.isRoot() ? std::optional<QStringList>(QStringList()) : std::nullopt;
        case Access::Failed:
            return std::nullopt;
        case Access::Ready:
            break;
    }
    ReadTxn txn(*conn);
    if (!txn.ok())
        return std::nullopt;
    if (!conn->stmt(SelSubKeys)) {
        if (path.isRoot() && isEmptyStore(*conn))
            return QStringList();
        return std::nullopt;
    }
    if (keyRowExists(*conn, path) != true)
        return std::nullopt;
    StmtUse use(conn->stmt(SelSubKeys));
    const QByteArray fold = path.fold;
    use.text(1, fold);
    QStringList names;
    int rc;
    while ((rc = sqlite3_step(use.get())) == SQLITE_ROW)
        names.append(columnText(use.get(), 0));
    if (rc != SQLITE_DONE) {
        conn->noteError(rc);
        return std::nullopt;
    }
    return names;
}

std::optional<QList<TNamedValue>> StoreBackend::values(TRootKey root, const QString& key)
{
    const KeyPath path = parseKey(key);
    if (!path.valid)
        return std::nullopt;
    Connection* conn = nullptr;
    switch (acquire(root, Purpose::Read, conn)) {
        case Access::NoFile:
            return path.isRoot() ? std::optional<QList<TNamedValue>>(QList<TNamedValue>()) : std::nullopt;
        case Access::Failed:
            return std::nullopt;
        case Access::Ready:
            break;
    }
    ReadTxn txn(*conn);
    if (!txn.ok())
        return std::nullopt;
    if (!conn->stmt(SelValues) || !conn->stmt(SelKey)) {
        if (path.isRoot() && isEmptyStore(*conn))
            return QList<TNamedValue>();
        return std::nullopt;
    }
    if (keyRowExists(*conn, path) != true)
        return std::nullopt;
    StmtUse use(conn->stmt(SelValues));
    const QByteArray fold = path.fold;
    use.text(1, fold);
    QList<TNamedValue> result;
    int rc;
    while ((rc = sqlite3_step(use.get())) == SQLITE_ROW) {
        result.append(
            {columnText(use.get(), 0),
             {static_cast<TValueKind>(sqlite3_column_int(use.get(), 1)), columnBlob(use.get(), 2)}});
    }
    if (rc != SQLITE_DONE) {
        conn->noteError(rc);
        return std::nullopt;
    }
    return result;
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
    if (geteuid() == 0)
        return true;
    const QByteArray path = nativeStorePath(TRootKey::HKEY_LOCAL_MACHINE);
    struct stat st;
    if (stat(path.constData(), &st) == 0)
        return mayWrite(path) && mayWrite(parentFolder(path));
    // Not created yet: whoever may create it in the nearest existing folder may write it.
    QByteArray folder = parentFolder(path);
    while (stat(folder.constData(), &st) != 0) {
        const QByteArray up = parentFolder(folder);
        if (up == folder)
            return false;
        folder = up;
    }
    return S_ISDIR(st.st_mode) && mayWrite(folder);
}

}  // namespace platform
