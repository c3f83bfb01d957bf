// The basic procedures: small helpers without state of their own.
#include "services/BasicProcs.h"

#include "platform/TextCodec.h"
#include "platform/VorlandtError.h"
#include "services/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QStringView>

#include <cerrno>

namespace {

// Ini files are a few lines; anything far larger is damaged and not worth the memory.
constexpr qint64 kMaxIniSize = 16 * 1024 * 1024;

[[noreturn]] void raiseReadError(const QString& path, const QString& reason)
{
    throw EVorlandtError(QStringLiteral("Die Datei \"%1\" kann nicht gelesen werden: %2").arg(path, reason),
                         EVorlandtError::Kind::InOut);
}

QString lookUpIniValue(const QString& FileName, const QString& Key)
{
    QString path = FileName;
    if (!path.endsWith(QLatin1String(".ini")))
        path += QLatin1String(".ini");

    const QFileInfo info(path);
    if (!info.exists())
        return QString();
    // A folder or an unreadable file under the name is not "no value": the caller must learn
    // that the installed version could not be determined. Pipes and devices are refused too,
    // since reading one could block or never end.
    if (info.isDir())
        raiseReadError(path, qt_error_string(EISDIR));
    if (!info.isFile())
        raiseReadError(path, qt_error_string(EINVAL));
    if (info.size() > kMaxIniSize)
        raiseReadError(path, qt_error_string(EFBIG));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        raiseReadError(path, file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        raiseReadError(path, file.errorString());

    const QStringList lines = platform::SplitLines(platform::DecodeText(bytes));
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        if (QStringView(line).left(equals).compare(Key, Qt::CaseInsensitive) == 0)
            return line.mid(equals + 1);
    }
    return QString();
}

}  // namespace

QString GetStrInfoFromIni(const QString& FileName, const QString& Key)
{
    WriteLog(2, QStringLiteral("GetStrInfoFromIni - Start - Parameters: %1, %2").arg(FileName, Key));
    QString result;
    try {
        result = lookUpIniValue(FileName, Key);
    } catch (...) {
        WriteLog(2, QStringLiteral("GetStrInfoFromIni - Ende - Result:\u00B4") + result);
        throw;
    }
    WriteLog(2, QStringLiteral("GetStrInfoFromIni - Ende - Result:\u00B4") + result);
    return result;
}
