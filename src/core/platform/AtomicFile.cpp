// Whole-file replacement through QSaveFile: temporary file beside the target, flushed and
// synced to disk, then renamed over the target.
#include "core/platform/AtomicFile.h"

#include "core/platform/VorlandtError.h"

#include <QSaveFile>

namespace platform {

namespace {

[[noreturn]] void raiseWriteError(const QString& path, const QString& reason)
{
    throw EVorlandtError(
        QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: %2").arg(path, reason),
        EVorlandtError::Kind::InOut);
}

}  // namespace

void WriteFileAtomically(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    // Never fall back to writing in place when no temporary file can be created beside the
    // target: half a file is what this function exists to prevent.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        raiseWriteError(path, file.errorString());
    if (file.write(content) != content.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        raiseWriteError(path, reason);
    }
    // A full disk often shows only when the buffer is flushed, and commit() would still rename
    // the short file over the good one: flush first and give up on any error.
    if (!file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        raiseWriteError(path, reason);
    }
    // commit() syncs and renames; on failure the temporary file is removed and the
    // old content stays where it was.
    if (!file.commit())
        raiseWriteError(path, file.errorString());
}

}  // namespace platform
