// Reading a whole regular file into memory with a size limit, so that a damaged or planted file
// (a folder, a pipe, a device, something huge) ends in the read error instead of a hang.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// Raises EVorlandtError (kind InOut) with the read message naming `path` and `reason`.
[[noreturn]] void RaiseReadError(const QString& path, const QString& reason);

// The file's bytes. Raises the read error for a missing file, a folder, a pipe or device, a file
// larger than `maxSize` bytes and any failure to open or read it.
QByteArray ReadRegularFile(const QString& path, qint64 maxSize);

// As ReadRegularFile, but a file larger than `maxSize` bytes gives nullopt instead of an error,
// for callers that report that case in their own words.
std::optional<QByteArray> ReadRegularFileWithin(const QString& path, qint64 maxSize);

}  // namespace platform
