// The SQLite side of the settings store: one connection per thread and store file, opened and
// checked before use, the schema and its migrations, and the statements the store runs.
#pragma once

#include "core/platform/store/StoreBackend.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <sqlite3.h>

#include <sys/stat.h>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

namespace platform::sqlite {

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

#ifdef _WIN32
// Windows' stat(2) knows whole seconds only (the SQLite backend stands in on Windows until the
// registry backend takes its place).
inline timespec ModifiedTime(const struct stat& st) { return timespec{st.st_mtime, 0}; }
#else
inline timespec ModifiedTime(const struct stat& st) { return st.st_mtim; }
#endif

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
    // Reads come from a private copy whose unfinished change SQLite rolled back, because this
    // process may not roll back the file itself (RolledBackCopy.h).
    bool copied = false;
    // The last acquire met an unfinished change it could not read past. Kept across close(), so
    // that the caller's message can say so.
    bool interrupted = false;
    // The last SQLite error noted on this connection (extended code).
    int lastError = SQLITE_OK;
    // When the lock this connection waits for was first refused (see the busy handler).
    std::chrono::steady_clock::time_point busySince;

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
        copied = false;
        lastError = SQLITE_OK;
        FChecked = false;
        forgetReads();
    }

    // Values read through this connection, keyed by key and name as the caller spelled them
    // (nullopt: not there). They hold while the file's change counter, which every commit
    // raises, keeps the number they were read under. The counter is read before the value, so
    // a commit landing in between can only store a newer value under an older number, which
    // the next look at the counter throws away: a cached read is never older than a read
    // through SQLite would have been at the moment the counter was read.
    struct ReadKey {
        QString key;
        QString name;
        friend bool operator==(const ReadKey&, const ReadKey&) = default;
        friend size_t qHash(const ReadKey& read, size_t seed = 0) { return qHashMulti(seed, read.key, read.name); }
    };
    QHash<ReadKey, std::optional<TRawValue>> reads;
    quint32 readsCounter = 0;
    bool readsValid = false;

    void forgetReads()
    {
        reads.clear();
        readsValid = false;
    }

    // The header's change counter, read without a lock (one pread); nullopt for a file without
    // a rollback-journal header (empty, too short, or in WAL mode, where commits leave the
    // counter alone).
    std::optional<quint32> changeCounter();

    // Prepared once per connection; nullptr when the schema lacks the table or the file fails.
    sqlite3_stmt* stmt(StmtId id);

    void noteError(int rc)
    {
        lastError = rc;
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
        const timespec modified = ModifiedTime(st);
        return FChecked && FCheckedSize == st.st_size && FCheckedTime.tv_sec == modified.tv_sec &&
               FCheckedTime.tv_nsec == modified.tv_nsec;
    }

    // The content is checked again at the next acquire, whatever the file's size and time say.
    void forgetChecked() { FChecked = false; }

    void markChecked(const struct stat& st)
    {
        FChecked = true;
        FCheckedSize = st.st_size;
        FCheckedTime = ModifiedTime(st);
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

QString columnText(sqlite3_stmt* stmt, int column);
QByteArray columnBlob(sqlite3_stmt* stmt, int column);
// Steps a bound statement that yields no rows; a failure is noted on the connection.
bool stepDone(Connection& conn, const StmtUse& use);
// Runs a statement without result rows; true when it completed.
bool run(Connection& conn, StmtId id);
std::optional<qint64> queryNumber(Connection& conn, StmtId id);

enum class Access { Ready, NoFile, Failed };
enum class Purpose { Read, Change, Create };

// Finds or opens this thread's connection to the root's file. Another process may have
// replaced or deleted the file since the last call; the device and inode tell.
Access acquire(TRootKey root, Purpose purpose, Connection*& out);

// This thread's connection to the root, whatever state it is in (for what the last acquire met).
Connection& connectionOf(TRootKey root);

enum class Schema { Ready, Empty, Foreign };

// Statements failed to prepare: a fresh file without tables reads as an empty store,
// anything else as a failure.
bool isEmptyStore(Connection& conn);

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

// A write transaction: the body runs between BEGIN IMMEDIATE and COMMIT, and anything that
// fails rolls the whole transaction back, so a batch lands completely or not at all.
// The body learns what the file held; an empty file gets the schema only with `createSchema`,
// so deletions never initialise a file.
bool writeTransaction(Connection& conn, bool createSchema, const std::function<bool(Schema)>& body);

}  // namespace platform::sqlite
