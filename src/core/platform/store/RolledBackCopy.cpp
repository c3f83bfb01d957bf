// Why a copy and not a cheaper trick: opening the file with SQLite's "immutable" flag skips the
// journal and reads pages the cut-off change had already written, a torn state that fails the
// integrity check; rolling the journal back is the only way to the committed state, and only a
// writer may do that. The copy's writer is us, in a folder that is ours.
#include "core/platform/store/RolledBackCopy.h"

#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/PrivateFolder.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QScopeGuard>

#include <atomic>
#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::sqlite {

namespace {

// A settings store holds registrations and settings, a few hundred KB at most; anything near
// this bound is not worth copying into the user's temporary folder.
constexpr qint64 kMaxCopyBytes = 64 * 1024 * 1024;
constexpr qint64 kChunkBytes = 64 * 1024;
// As long as a read waits for a writer elsewhere: an administrator repairing the store holds
// the lock while the journal is rolled back.
constexpr int kLockWaitMs = 5000;

QByteArray JournalOf(const QByteArray& path)
{
    return path + "-journal";
}

// The database through SQLite's own handle: opening and closing a descriptor of ours would drop
// the POSIX locks this process's other connections hold on the file.
bool CopyDatabase(sqlite3_file* file, TAtomicFile& copy)
{
    sqlite3_int64 size = 0;
    if (file->pMethods->xFileSize(file, &size) != SQLITE_OK || size < 0 || size > kMaxCopyBytes)
        return false;
    QByteArray chunk(kChunkBytes, Qt::Uninitialized);
    for (sqlite3_int64 offset = 0; offset < size; offset += kChunkBytes) {
        const int length = static_cast<int>(qMin<sqlite3_int64>(kChunkBytes, size - offset));
        if (file->pMethods->xRead(file, chunk.data(), length, offset) != SQLITE_OK)
            return false;
        copy.Write(QByteArrayView(chunk.constData(), length));
    }
    return true;
}

enum class JournalRead { Copied, Gone, Failed };

// The journal lies beside a file only root may write; still, nothing but a regular file of
// bounded size is read, and a link is not followed.
JournalRead CopyJournal(const QByteArray& journal, TAtomicFile& copy)
{
    const int fd = ::open(journal.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? JournalRead::Gone : JournalRead::Failed;
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxCopyBytes)
        return JournalRead::Failed;
    if (st.st_size == 0)
        return JournalRead::Gone;  // an empty journal undoes nothing; SQLite opens the file as it is
    QByteArray chunk(kChunkBytes, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), static_cast<size_t>(chunk.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return JournalRead::Failed;
        if (got == 0)
            return JournalRead::Copied;
        total += got;
        if (total > kMaxCopyBytes)
            return JournalRead::Failed;
        copy.Write(QByteArrayView(chunk.constData(), got));
    }
}

void Configure(sqlite3* db)
{
    sqlite3_extended_result_codes(db, 1);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
}

}  // namespace

bool HasJournal(const QByteArray& path)
{
    struct stat st;
    return ::lstat(JournalOf(path).constData(), &st) == 0;
}

TRolledBackCopy OpenRolledBackCopy(const QByteArray& path)
{
    TRolledBackCopy result;
    sqlite3* original = nullptr;
    const auto closeOriginal = qScopeGuard([&original] { sqlite3_close_v2(original); });
    if (sqlite3_open_v2(path.constData(), &original, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK)
        return result;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(original, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods)
        return result;

    // The shared lock every reader takes before it looks at the journal. While it is held no
    // writer can undo the journal or write the file, so the two copies belong together.
    const QDeadlineTimer deadline(kLockWaitMs);
    int rc;
    while ((rc = file->pMethods->xLock(file, SQLITE_LOCK_SHARED)) == SQLITE_BUSY && !deadline.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (rc != SQLITE_OK)
        return result;
    auto unlock = qScopeGuard([file] { file->pMethods->xUnlock(file, SQLITE_LOCK_NONE); });

    static std::atomic<quint32> serial{0};
    QByteArray copyPath;
    try {
        copyPath = QFile::encodeName(PrivateTempFolder()) + "registry-copy-" +
                   QByteArray::number(::getpid()) + '-' + QByteArray::number(++serial) + ".db";
        TAtomicFile databaseCopy(QFile::decodeName(copyPath), FileModePrivate, TDurability::Scratch);
        TAtomicFile journalCopy(QFile::decodeName(JournalOf(copyPath)), FileModePrivate,
                                TDurability::Scratch);
        if (!CopyDatabase(file, databaseCopy))
            return result;
        switch (CopyJournal(JournalOf(path), journalCopy)) {
            case JournalRead::Copied:
                break;
            case JournalRead::Gone:
                result.outcome = TRolledBackCopy::Outcome::JournalGone;
                return result;
            case JournalRead::Failed:
                return result;
        }
        // The database first: a journal without its database is no journal to SQLite.
        databaseCopy.Commit();
        journalCopy.Commit();
    } catch (...) {
        // A full or unusable temporary folder: the caller reports the store as unreadable.
        return result;
    }
    unlock.dismiss();
    file->pMethods->xUnlock(file, SQLITE_LOCK_NONE);

    const auto removeCopy = qScopeGuard([&copyPath] {
        ::unlink(copyPath.constData());
        ::unlink(JournalOf(copyPath).constData());
    });
    sqlite3* copy = nullptr;
    if (sqlite3_open_v2(copyPath.constData(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        sqlite3_close_v2(copy);
        return result;
    }
    Configure(copy);
    // The first read finds the journal hot and rolls it back; only then may the names go.
    if (sqlite3_exec(copy, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr) != SQLITE_OK ||
        HasJournal(copyPath)) {
        sqlite3_close_v2(copy);
        return result;
    }
    result.outcome = TRolledBackCopy::Outcome::Opened;
    result.db = copy;
    return result;
}

}  // namespace platform::sqlite
