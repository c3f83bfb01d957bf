// Reading a whole regular file with a size limit and the one read error for every failure.
#include "core/platform/FileRead.h"

#include "core/platform/VorlandtError.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

namespace platform {

void RaiseReadError(const QString& path, const QString& reason)
{
    throw EVorlandtError(QStringLiteral("Die Datei \"%1\" kann nicht gelesen werden: %2").arg(path, reason),
                         EVorlandtError::Kind::InOut);
}

std::optional<QByteArray> ReadRegularFileWithin(const QString& path, qint64 maxSize)
{
    const QFileInfo info(path);
    if (!info.exists())
        RaiseReadError(path, qt_error_string(ENOENT));
    if (info.isDir())
        RaiseReadError(path, qt_error_string(EISDIR));
    // A pipe or device under the name could block for good or never end.
    if (!info.isFile())
        RaiseReadError(path, qt_error_string(EINVAL));
    if (info.size() > maxSize)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        RaiseReadError(path, file.errorString());
    // Sized by the file rather than by the limit: a buffer of the largest size allowed would
    // cost its pages for every small file. Reading on past that size catches a file that grew
    // meanwhile, up to one byte beyond the limit, which is enough to refuse it.
    QByteArray bytes = file.read(std::min(file.size(), maxSize) + 1);
    while (file.error() == QFileDevice::NoError && bytes.size() <= maxSize) {
        const QByteArray more = file.read(std::min<qint64>(64 * 1024 - 1, maxSize - bytes.size()) + 1);
        if (more.isEmpty())
            break;
        bytes += more;
    }
    if (file.error() != QFileDevice::NoError)
        RaiseReadError(path, file.errorString());
    if (bytes.size() > maxSize)
        return std::nullopt;
    return bytes;
}

QByteArray ReadRegularFile(const QString& path, qint64 maxSize)
{
    std::optional<QByteArray> bytes = ReadRegularFileWithin(path, maxSize);
    if (!bytes)
        RaiseReadError(path, qt_error_string(EFBIG));
    return std::move(*bytes);
}

}  // namespace platform
