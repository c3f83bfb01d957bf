// A store file whose last change was cut off (a writer killed mid-transaction) keeps its rollback
// journal beside it. SQLite undoes the change at the next open by someone who may write the file
// and refuses every other reader; this gives such a reader the last committed state.
#pragma once

#include <QByteArray>

#include <sqlite3.h>

namespace platform::sqlite {

// Whether a rollback journal lies beside the store file: an unfinished change (or, briefly, one
// a writer is making right now).
bool HasJournal(const QByteArray& path);

struct TRolledBackCopy {
    enum class Outcome {
        Opened,       // `db` reads the last committed state
        JournalGone,  // somebody finished or undid the change meanwhile: open the file itself
        Failed,       // no copy possible (journal unreadable, too large, no temporary folder)
    } outcome = Outcome::Failed;
    sqlite3* db = nullptr;  // the caller's to close
};

// Copies the file and its journal into the private temporary folder, under a shared lock so that
// neither changes meanwhile, and opens the copy for writing so that SQLite rolls the journal back
// there. The copy's names are removed at once; the open connection keeps reading it. The
// original is never written.
TRolledBackCopy OpenRolledBackCopy(const QByteArray& path);

}  // namespace platform::sqlite
