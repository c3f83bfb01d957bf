// The installed-updates log: reading it, writing temporary entries and adding one as the new
// first entry, each file in the encoding its byte-order mark names.
#include "core/catalog/UserLog.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Clock.h"
#include "core/platform/FileLock.h"
#include "core/platform/FileRead.h"
#include "core/platform/RegionalFormat.h"
#include "core/platform/TextCodec.h"
#include "core/platform/VorlandtError.h"
#include "core/services/BasicProcs.h"

#include <QFile>
#include <QStringList>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString CRLF = QStringLiteral("\r\n");
const QString EntrySeparator = QStringLiteral("=======================");

// The log only grows, by a few hundred bytes per installed update; a file far beyond this is
// damaged, and reading it whole would only exhaust memory.
constexpr qint64 MaxTextFileSize = 64 * 1024 * 1024;

// Adding an entry takes milliseconds; a writer that holds the lock far longer has hung.
constexpr std::chrono::seconds LogLockTimeout{30};

enum class TTextEncoding { Windows1252, Utf8, Utf16LE, Utf16BE };

struct TTextFile {
    // False for a missing file and for an empty one alike: zero bytes name no encoding.
    bool hasBytes = false;
    TTextEncoding encoding = TTextEncoding::Windows1252;
    QString text;
};

TTextEncoding EncodingOf(const QByteArray& bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return TTextEncoding::Utf8;
    if (bytes.startsWith("\xFF\xFE"))
        return TTextEncoding::Utf16LE;
    if (bytes.startsWith("\xFE\xFF"))
        return TTextEncoding::Utf16BE;
    return TTextEncoding::Windows1252;
}

QByteArray Encode(const QString& text, TTextEncoding encoding)
{
    switch (encoding) {
        case TTextEncoding::Utf8:
            return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
        case TTextEncoding::Utf16LE:
        case TTextEncoding::Utf16BE: {
            const bool big = encoding == TTextEncoding::Utf16BE;
            QByteArray bytes;
            bytes.reserve(2 + 2 * text.size());
            bytes.append(big ? "\xFE\xFF" : "\xFF\xFE", 2);
            for (const QChar c : text) {
                const char high = static_cast<char>(c.unicode() >> 8);
                const char low = static_cast<char>(c.unicode() & 0xFF);
                bytes.append(big ? high : low);
                bytes.append(big ? low : high);
            }
            return bytes;
        }
        case TTextEncoding::Windows1252:
            break;
    }
    // Characters the code page cannot hold become '?'.
    return platform::EncodeWindows1252(text);
}

// A missing file is no error; anything else under the name that cannot be read as a file is,
// a link among it: the log and the temporary entries lie in folders where a link could have been
// planted to show or copy somebody else's file.
TTextFile ReadTextFile(const QString& path)
{
    TTextFile result;
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        // A path that runs through a regular file reports "missing" here as well; the write
        // that follows names that fault.
        return result;
    }
    const QByteArray bytes = platform::ReadRegularFile(path, MaxTextFileSize, platform::TFileTrust::NoLinks);
    result.hasBytes = !bytes.isEmpty();
    result.encoding = EncodingOf(bytes);
    result.text = platform::DecodeText(bytes);
    return result;
}

// The log is replaced whole when this user owns it (or there is none yet), which survives a
// crash. A log another user owns, set up by the administrator as writable for everyone in a
// folder with the sticky bit, cannot be replaced by anybody else: it is rewritten in place.
void StoreLog(const QString& path, const QByteArray& bytes)
{
    struct stat info {};
    const bool exists = ::lstat(QFile::encodeName(path).constData(), &info) == 0;
    if (!exists || info.st_uid == ::geteuid())
        platform::WriteFileAtomically(path, bytes);
    else
        platform::RewriteFileInPlace(path, bytes);
}

QString LinesWithLineEnds(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += CRLF;
    }
    return text;
}

bool IsTrimmed(QChar c)
{
    return c.isSpace() || c.category() == QChar::Other_Control;
}

QString TrimSpaceAndControls(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && IsTrimmed(text.at(first)))
        ++first;
    while (last > first && IsTrimmed(text.at(last - 1)))
        --last;
    return text.mid(first, last - first);
}

}  // namespace

TUserLog::TUserLog()
{
    const TTextFile log = ReadTextFile(LogFilePath());
    FContent = LinesWithLineEnds(platform::SplitLines(log.text));
}

QString TUserLog::LogFilePath()
{
    return GetDataDir() + UserLogFileName;
}

QString TUserLog::TempEntryPath(qint32 ModulNr, qint32 Hauptversion, qint32 Nebenversion, qint32 Unterversion)
{
    return GetTempDir() + QStringLiteral("VL_UpdateTXT_%1_%2_%3_%4.tmp")
                              .arg(ModulNr)
                              .arg(Hauptversion)
                              .arg(Nebenversion)
                              .arg(Unterversion);
}

void TUserLog::SaveTempEntry(qint32 ModulNr, qint32 Hauptversion, qint32 Nebenversion, qint32 Unterversion,
                             const QString& LogText)
{
    const QString path = TempEntryPath(ModulNr, Hauptversion, Nebenversion, Unterversion);
    // Whatever lies under the name goes first (a link is removed, never followed); a name that is
    // already gone is just as good.
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        throw EVorlandtError(path + QStringLiteral(" konnte nicht gelöscht werden."),
                             EVorlandtError::Kind::InOut);
    platform::WriteFileAtomically(
        path, platform::EncodeWindows1252(LinesWithLineEnds(platform::SplitLines(LogText))),
        platform::FileModeShared, platform::TDurability::Scratch);
}

void TUserLog::AddLastTempEntry(const QString& ModulBez, qint32 ModulNr, qint32 Hauptversion,
                                qint32 Nebenversion, qint32 Unterversion)
{
    // Read, change and write back under one lock: two installers adding at the same time would
    // otherwise each write the log without the other's entry.
    const platform::TFileLock lock = platform::TFileLock::LockFolder(GetDataDir(), LogLockTimeout);
    const TTextFile entry = ReadTextFile(TempEntryPath(ModulNr, Hauptversion, Nebenversion, Unterversion));
    const QString entryText = platform::SplitLines(entry.text).join(CRLF);

    const QString logPath = LogFilePath();
    const TTextFile log = ReadTextFile(logPath);
    QStringList lines = platform::SplitLines(log.text);

    const QStringList header = {
        EntrySeparator,
        QStringLiteral("Installationsdatum: ") + platform::DateToStr(platform::Clock::now().date()),
        QStringLiteral("Modul: ") + ModulBez,
        QStringLiteral("Version: %1.%2.%3").arg(Hauptversion).arg(Nebenversion).arg(Unterversion),
        EntrySeparator,
        TrimSpaceAndControls(entryText) + CRLF + CRLF,
    };
    lines = header + lines;

    TTextEncoding encoding = TTextEncoding::Windows1252;
    if (log.hasBytes)
        encoding = log.encoding;
    else if (entry.hasBytes)
        encoding = entry.encoding;
    StoreLog(logPath, Encode(LinesWithLineEnds(lines), encoding));
}
