// Connections are cached per thread and re-checked whenever the file changed behind them, so a
// file replaced, damaged or planted by someone else is never trusted blindly.
#include "core/platform/store/SqliteConnection.h"

#include "core/platform/store/RolledBackCopy.h"
#include "core/platform/store/StoreFile.h"
#include "core/platform/store/StorePaths.h"

#include <QtEndian>

#include <cerrno>
#include <thread>

namespace platform::sqlite {

namespace {

// Version 1 is the first layout; each later version adds one step to kMigrations.
constexpr int kSchemaVersion = 1;
// Another process (an installer, a second updater) or thread may hold the write lock for a
// moment; waiting is better than a failed save or a read that finds nothing.
constexpr std::chrono::milliseconds kBusyTimeout{5000};
// A writer that commits again and again holds the lock for each commit's disk syncs and
// leaves it free only for the short moments between two transactions. SQLite's own busy
// timeout sleeps ever longer, up to 100 ms per try, and then keeps missing those moments
// until it gives up; short even naps catch one within a few tries.
constexpr std::chrono::milliseconds kBusyNap{1};

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

// One connection per thread and root: SQLite connections must not be shared between threads
// without its mutexes, and per-thread connections let the download worker read while the
// user-interface thread writes. Closed when the thread ends.
struct ConnectionCache {
    Connection conns[2];
    Connection& of(TRootKey root) { return conns[root == TRootKey::HKEY_LOCAL_MACHINE ? 1 : 0]; }
};
thread_local ConnectionCache tlsConnections;

int waitWhileBusy(void* context, int attempt)
{
    auto& conn = *static_cast<Connection*>(context);
    const auto now = std::chrono::steady_clock::now();
    if (attempt == 0)
        conn.busySince = now;
    else if (now - conn.busySince >= kBusyTimeout)
        return 0;
    std::this_thread::sleep_for(kBusyNap);
    return 1;
}

bool healthy(Connection& conn)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(conn.db, "PRAGMA quick_check(1)", -1, &raw, nullptr) != SQLITE_OK) {
        conn.noteError(sqlite3_extended_errcode(conn.db));
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

}  // namespace

sqlite3_stmt* Connection::stmt(StmtId id)
{
    if (!FStmts[id]) {
        const int rc = sqlite3_prepare_v3(db, kSql[id], -1, SQLITE_PREPARE_PERSISTENT, &FStmts[id], nullptr);
        if (rc != SQLITE_OK) {
            noteError(rc);
            sqlite3_finalize(FStmts[id]);
            FStmts[id] = nullptr;
        }
    }
    return FStmts[id];
}

std::optional<quint32> Connection::changeCounter()
{
    sqlite3_file* file = nullptr;
    if (!db || sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods)
        return std::nullopt;
    // Offsets 18 and 19: write and read format, 1 for a rollback journal. Offset 24: the counter.
    unsigned char header[10];
    if (file->pMethods->xRead(file, header, sizeof header, 18) != SQLITE_OK)
        return std::nullopt;
    if (header[0] != 1 || header[1] != 1)
        return std::nullopt;
    return qFromBigEndian<quint32>(header + 6);
}

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

bool stepDone(Connection& conn, const StmtUse& use)
{
    const int rc = sqlite3_step(use.get());
    if (rc != SQLITE_DONE) {
        conn.noteError(rc);
        return false;
    }
    return true;
}

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

namespace {

// SQLite refused a reader who may not write because a journal beside the file holds a change
// that was cut off: only a writer may roll it back. A journal it could not even open to look
// at counts as such a change too.
bool unfinishedChange(const Connection& conn, const QByteArray& path)
{
    return conn.lastError == SQLITE_READONLY_ROLLBACK ||
           ((conn.lastError & 0xFF) == SQLITE_CANTOPEN && HasJournal(path));
}

void configure(Connection& conn)
{
    sqlite3_extended_result_codes(conn.db, 1);
    sqlite3_busy_handler(conn.db, waitWhileBusy, &conn);
    // The file is data, not code: no schema tricks from a planted or damaged file.
    sqlite3_db_config(conn.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(conn.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
}

enum class Attempt { Done, Again };

Attempt acquireOnce(TRootKey root, Purpose purpose, Connection*& out, Access& access)
{
    const QByteArray path = StoreFilePath(root);
    Connection& conn = tlsConnections.of(root);
    const auto fail = [&](Access outcome) {
        access = outcome;
        return Attempt::Done;
    };
    struct stat st;
    if (stat(path.constData(), &st) != 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        if (!missing || purpose != Purpose::Create) {
            conn.close();
            return fail(missing ? Access::NoFile : Access::Failed);
        }
        if (!CreateStoreFile(path, root) || stat(path.constData(), &st) != 0) {
            conn.close();
            return fail(Access::Failed);
        }
    }
    if (!S_ISREG(st.st_mode)) {
        conn.close();
        return fail(Access::Failed);
    }

    // A copy stands in for the file only while the file is as it was copied and the unfinished
    // change still lies beside it: once someone who may write has rolled it back (or finished
    // it), the file itself is read again.
    if (conn.copied && (purpose != Purpose::Read || !conn.contentChecked(st) || !conn.isSameFile(path, st) ||
                        !HasJournal(path)))
        conn.close();
    // A journal may hold a change that was cut off without the file's size or time showing it
    // (killed before a page of the file was written). A reader who may not write cannot roll it
    // back, so while a journal lies there it checks the file afresh at every acquire.
    if (conn.db && !conn.writable && !conn.copied && HasJournal(path))
        conn.forgetChecked();

    if (!conn.isSameFile(path, st) || (purpose != Purpose::Read && !conn.writable)) {
        conn.close();
        // Without write permission the file is opened read-only, which is why it never uses
        // WAL: a read-only process cannot open a WAL database.
        const bool writable = MayWriteStorePath(path) && MayWriteStorePath(StoreParentFolder(path));
        if (purpose != Purpose::Read && !writable)
            return fail(Access::Failed);
        const int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.constData(), &conn.db, flags, nullptr) != SQLITE_OK) {
            conn.close();
            return fail(Access::Failed);
        }
        // The identity is taken before the open: a file swapped in between shows up as a
        // mismatch on the next call and is reopened then.
        conn.path = path;
        conn.identity = st;
        conn.writable = writable;
        configure(conn);
    }
    // Content that changed outside this connection (another process, another thread, or
    // bytes written past SQLite) is checked once before it is trusted, so that a damaged
    // file is neither read nor written into.
    if (!conn.contentChecked(st)) {
        conn.damaged = false;
        // Bytes changed behind SQLite's back need not raise the counter.
        conn.forgetReads();
        // Pages cached from before would hide bytes changed behind SQLite's back.
        sqlite3_db_release_memory(conn.db);
        if (!healthy(conn) && !conn.damaged) {
            const bool unfinished = !conn.writable && !conn.copied && unfinishedChange(conn, path);
            conn.close();  // busy or unreadable: try afresh next time
            if (!unfinished)
                return fail(Access::Failed);
            // The last committed state, read from a copy this process may roll back.
            const TRolledBackCopy copy = OpenRolledBackCopy(path);
            if (copy.outcome == TRolledBackCopy::Outcome::JournalGone)
                return Attempt::Again;
            if (copy.outcome != TRolledBackCopy::Outcome::Opened) {
                conn.interrupted = true;
                return fail(Access::Failed);
            }
            conn.db = copy.db;
            conn.path = path;
            conn.identity = st;
            conn.writable = false;
            conn.copied = true;
            configure(conn);
            if (!healthy(conn)) {
                conn.close();
                conn.interrupted = true;
                return fail(Access::Failed);
            }
        }
        conn.markChecked(st);
        // Our files never use WAL: a user without write permission could not read them. One
        // switched to WAL by another tool is switched back.
        if (!conn.damaged && conn.writable)
            sqlite3_exec(conn.db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    }
    if (conn.damaged)
        return fail(Access::Failed);
    out = &conn;
    access = Access::Ready;
    return Attempt::Done;
}

}  // namespace

// Finds or opens this thread's connection to the root's file. Another process may have
// replaced or deleted the file since the last call; the device and inode tell.
Access acquire(TRootKey root, Purpose purpose, Connection*& out)
{
    tlsConnections.of(root).interrupted = false;
    Access access = Access::Failed;
    // A second attempt only when an unfinished change was finished or rolled back by someone
    // else while this process was about to copy it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (acquireOnce(root, purpose, out, access) == Attempt::Done)
            return access;
    }
    return Access::Failed;
}

Connection& connectionOf(TRootKey root)
{
    return tlsConnections.of(root);
}

bool isEmptyStore(Connection& conn)
{
    const std::optional<qint64> objects = queryNumber(conn, SchemaCount);
    return objects && *objects == 0;
}

// A write transaction: the body runs between BEGIN IMMEDIATE and COMMIT, and anything that
// fails rolls the whole transaction back, so a batch lands completely or not at all.
bool writeTransaction(Connection& conn, bool createSchema, const std::function<bool(Schema)>& body)
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

}  // namespace platform::sqlite
