// Replace a file so that readers see either the old or the new content, never half a file:
// a full disk or a crash keeps the old file.
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Writes to a temporary file in the same folder, flushes it and renames it over `path`.
// Raises EVorlandtError (kind InOut) with a message naming the path and the system's reason.
void WriteFileAtomically(const QString& path, const QByteArray& content);

}  // namespace platform
