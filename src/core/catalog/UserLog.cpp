// The installed-updates log: reading its recent part, writing temporary entries and adding one
// as the new first entry, each file in the encoding its byte-order mark names; the shared log of
// another owner through its set-group-id writer.
#include "core/catalog/UserLog.h"

#include "core/catalog/UserLogFile.h"
#include "core/platform/files/AtomicFile.h"
#include "core/platform/Clock.h"
#include "core/platform/files/FileLock.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/files/FolderEntries.h"
#include "core/platform/text/TextCodec.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/text/DateFormat.h"
#include "core/services/BasicProcs.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <chrono>
#include <string>
#include <string_view>

namespace {

const QString CRLF = QStringLiteral("\r\n");
const QString EntrySeparator = QString::fromLatin1(userlog::EntrySeparator);

// A temporary entry is the plain text of one update's description, a few kilobytes; what lies
// beyond the log entry's own bound is never needed.
constexpr qint64 MaxTempEntryRead = 4 * qint64(userlog::MaxEntryBytes);
// A module name is a few words; the bound leaves the entry room for its text.
constexpr qsizetype MaxModulBezLength = 4096;

// Adding an entry takes milliseconds; a writer that holds the lock far longer has hung.
constexpr std::chrono::seconds LogLockTimeout{30};

// The writer is waited for as long as it may wait for the lock, and a little more.
constexpr int WriterTimeoutMs = 60 * 1000;

struct TTextFile {
    // False for a missing file and for an empty one alike: zero bytes name no encoding.
    bool hasBytes = false;
    userlog::TLogEncoding encoding = userlog::TLogEncoding::Windows1252;
    QString text;
};

std::string_view View(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

// The first `maxSize` bytes of the file, cut after its last complete line when there is more.
// A missing file is no error; anything else under the name that cannot be read as a file is, a
// link among it: the log and the temporary entries lie in folders where a link could have been
// planted to show or copy somebody else's file.
QByteArray ReadHead(const QString& path, qint64 maxSize, bool& whole)
{
    whole = true;
    if (platform::NameMissing(path))
        return QByteArray();
    QByteArray bytes = platform::ReadRegularFileHead(path, maxSize, platform::TFileTrust::NoLinks, whole);
    return bytes;
}

TTextFile ReadTextFile(const QString& path, qint64 maxSize)
{
    bool whole = true;
    QByteArray bytes = ReadHead(path, maxSize, whole);
    if (!whole)
        bytes.truncate(qsizetype(userlog::CompleteLinesLength(View(bytes))));
    TTextFile result;
    result.hasBytes = !bytes.isEmpty();
    result.encoding = userlog::EncodingOf(View(bytes));
    result.text = platform::DecodeText(bytes);
    return result;
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

bool IsControl(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F);
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

// The log is plain text shown as it is: a control character (an escape sequence among them)
// becomes '?', as a character the log's code page cannot hold does. Line ends stay where
// `keepLineEnds` says so, tabs always.
QString WithoutControls(QString text, bool keepLineEnds)
{
    for (QChar& c : text) {
        const bool lineEnd = c == u'\r' || c == u'\n';
        if (IsControl(c) && c != u'\t' && !(lineEnd && keepLineEnds))
            c = u'?';
    }
    return text;
}

// The entry block as it stands in the log, in UTF-8, within the entry bound: the five header
// lines, the text, two empty lines. A text too long for the bound keeps its first lines.
QByteArray EntryBlock(const QString& ModulBez, qint32 Hauptversion, qint32 Nebenversion, qint32 Unterversion,
                      const QString& entryText)
{
    const QStringList header = {
        EntrySeparator,
        QStringLiteral("Installationsdatum: ") +
            WithoutControls(platform::DateToStr(platform::Clock::now().date()), false),
        QStringLiteral("Modul: ") + WithoutControls(ModulBez.left(MaxModulBezLength), false),
        QStringLiteral("Version: %1.%2.%3").arg(Hauptversion).arg(Nebenversion).arg(Unterversion),
        EntrySeparator,
    };
    const QByteArray head = LinesWithLineEnds(header).toUtf8();
    const QByteArray tail = QByteArrayLiteral("\r\n\r\n\r\n");

    QStringList lines = platform::SplitLines(entryText);
    QByteArray text = WithoutControls(TrimSpaceAndControls(lines.join(CRLF)), true).toUtf8();
    while (head.size() + text.size() + tail.size() > qsizetype(userlog::MaxEntryBytes) && !lines.isEmpty()) {
        lines.removeLast();
        text = WithoutControls(TrimSpaceAndControls(lines.join(CRLF)), true).toUtf8();
    }
    return head + text + tail;
}

// A log that is there and not this user's: neither replaced nor written by this process.
bool OwnedByAnother(const QString& path)
{
    return platform::OwnedByAnotherUser(path);
}

QString WriterPath()
{
    // The caller's own process: choosing another writer here gives no privilege.
    const QString chosen = qEnvironmentVariable("VORLANDT_USERLOG_WRITER");
    return chosen.isEmpty() ? QStringLiteral(VORLANDT_USERLOG_WRITER_PATH) : chosen;
}

// The shared log belongs to the system user vorlandt-log: a user's entry reaches it through the
// writer, which runs as that user, checks the entry and replaces the log whole.
void AddThroughWriter(const QString& logPath, const QByteArray& block, userlog::TLogEncoding fresh)
{
    const QString writer = WriterPath();
    QProcess process;
    process.setProgram(writer);
    process.setArguments(
        {QStringLiteral("--kodierung=") + QString::fromLatin1(userlog::EncodingName(fresh)), logPath});
    process.start();
    if (!process.waitForStarted(WriterTimeoutMs))
        platform::RaiseWriteError(logPath,
                                  QStringLiteral("Das Schreibprogramm \"%1\" lässt sich nicht starten: %2")
                                      .arg(writer, process.errorString()));
    process.write(block);
    process.closeWriteChannel();
    if (!process.waitForFinished(WriterTimeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        platform::RaiseWriteError(logPath, QStringLiteral("Das Schreibprogramm \"%1\" ist nach %2 Sekunden "
                                                          "nicht fertig.")
                                               .arg(writer)
                                               .arg(WriterTimeoutMs / 1000));
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return;
    const QString said = QString::fromUtf8(process.readAllStandardError().left(4096)).trimmed();
    if (!said.isEmpty())
        throw EVorlandtError(said, EVorlandtError::Kind::InOut);
    platform::RaiseWriteError(
        logPath, QStringLiteral("Das Schreibprogramm \"%1\" endete mit Status %2.")
                     .arg(writer)
                     .arg(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1));
}

}  // namespace

TUserLog::TUserLog()
{
    // Newest first: the front of the log is the recent history, and no more of it is read.
    const TTextFile log = ReadTextFile(LogFilePath(), qint64(userlog::MaxLogBytes));
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
    if (!platform::RemoveName(path).isEmpty())
        throw EVorlandtError(path + QStringLiteral(" konnte nicht gelöscht werden."),
                             EVorlandtError::Kind::InOut);
    platform::WriteFileAtomically(
        path, platform::EncodeWindows1252(LinesWithLineEnds(platform::SplitLines(LogText))),
        platform::FileModeShared, platform::TDurability::Scratch);
}

void TUserLog::AddLastTempEntry(const QString& ModulBez, qint32 ModulNr, qint32 Hauptversion,
                                qint32 Nebenversion, qint32 Unterversion)
{
    const TTextFile entry =
        ReadTextFile(TempEntryPath(ModulNr, Hauptversion, Nebenversion, Unterversion), MaxTempEntryRead);
    const QByteArray block = EntryBlock(ModulBez, Hauptversion, Nebenversion, Unterversion, entry.text);
    // A new log takes the encoding of the entry's file, so that characters beyond the code page
    // survive when the description had them.
    const userlog::TLogEncoding fresh = entry.hasBytes ? entry.encoding : userlog::TLogEncoding::Windows1252;

    const QString logPath = LogFilePath();
    if (!OwnedByAnother(logPath)) {
        // Read, change and write back under one lock: two installers adding at the same time
        // would otherwise each write the log without the other's entry. It is let go before
        // another's log is handed to the writer.
        const platform::TFileLock lock = platform::TFileLock::LockFolder(GetDataDir(), LogLockTimeout);
        if (!OwnedByAnother(logPath)) {
            bool whole = true;
            const QByteArray head = ReadHead(logPath, qint64(userlog::MaxLogBytes), whole);
            const std::string log = userlog::ComposeLog(View(head), whole, View(block), fresh);
            // Replaced whole, which survives a crash; an own file keeps its mode and group.
            platform::WriteFileAtomically(logPath, QByteArray::fromStdString(log));
            return;
        }
    }
    AddThroughWriter(logPath, block, fresh);
}
