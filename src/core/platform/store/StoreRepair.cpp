// What an administrator needs after a writer was killed in the middle of a change: the state the
// last access met, and a repair that rolls the cut-off change back and checks the whole file.
#include "core/platform/store/RolledBackCopy.h"
#include "core/platform/store/SqliteConnection.h"
#include "core/platform/store/StoreBackend.h"
#include "core/platform/store/StoreFile.h"
#include "core/platform/store/StorePaths.h"

#include <QScopeGuard>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace platform {

namespace {

// The integrity check lists at most this many faults; more say nothing new.
constexpr int kMaxFindings = 100;
// A writer elsewhere may hold the lock for a moment; the repair waits as long as a read does.
constexpr int kBusyTimeoutMs = 5000;

QString ErrorText(sqlite3* db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

}  // namespace

TStoreCondition StoreBackend::condition(TRootKey root)
{
    const sqlite::Connection& conn = sqlite::connectionOf(root);
    if (conn.interrupted)
        return TStoreCondition::UnfinishedChange;
    if (conn.copied && conn.db)
        return TStoreCondition::ReadingLastCommittedCopy;
    return TStoreCondition::Normal;
}

TRepairReport StoreBackend::repair(TRootKey root)
{
    TRepairReport report;
    const QByteArray path = StoreFilePath(root);
    // This thread's own connection may read a copy or know the file from before the repair.
    sqlite::connectionOf(root).close();

    struct stat st;
    if (stat(path.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            report.outcome = TRepairReport::Outcome::NoFile;
        } else {
            report.findings.append(QString::fromLocal8Bit(std::strerror(errno)));
        }
        return report;
    }
    if (!S_ISREG(st.st_mode)) {
        report.findings.append(QStringLiteral("keine reguläre Datei"));
        return report;
    }
    if (!MayWriteStorePath(path) || !MayWriteStorePath(StoreParentFolder(path))) {
        report.outcome = TRepairReport::Outcome::NotPermitted;
        return report;
    }

    const bool journal = sqlite::HasJournal(path);
    sqlite3* db = nullptr;
    const auto closeDb = qScopeGuard([&db] { sqlite3_close_v2(db); });
    // Opened for writing but never created: a missing file was handled above, and one that
    // vanished meanwhile is not made anew by a repair.
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        report.findings.append(db ? ErrorText(db) : QStringLiteral("out of memory"));
        return report;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);

    // The check's first read finds the journal hot and rolls the cut-off change back.
    const QByteArray sql = "PRAGMA integrity_check(" + QByteArray::number(kMaxFindings) + ")";
    sqlite3_stmt* stmt = nullptr;
    const auto finalize = qScopeGuard([&stmt] { sqlite3_finalize(stmt); });
    int rc = sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr);
    QStringList rows;
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            rows.append(sqlite::columnText(stmt, 0).split(u'\n'));
    }
    report.rolledBack = journal && !sqlite::HasJournal(path);
    if (rc != SQLITE_OK && rc != SQLITE_DONE) {
        const int primary = rc & 0xFF;
        report.outcome = primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB
                             ? TRepairReport::Outcome::Damaged
                             : TRepairReport::Outcome::Failed;
        report.findings.append(ErrorText(db));
        return report;
    }
    if (rows == QStringList{QStringLiteral("ok")}) {
        report.outcome = TRepairReport::Outcome::Sound;
    } else {
        report.outcome = TRepairReport::Outcome::Damaged;
        report.findings = rows;
    }
    return report;
}

}  // namespace platform
