// Fetching a module's update descriptor and the news file into the temporary directory, from
// the download server or a local source folder, and loading them into the checker's documents.
#include "core/sources/UpdateCheck.h"

#include "core/platform/FileRead.h"
#include "core/platform/TextCodec.h"
#include "core/services/BasicProcs.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/Download.h"

#include <QByteArrayView>
#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The page the download server sends, with status 200, for a file it does not have.
constexpr QByteArrayView kNotAvailableMarker("Datei steht nicht zur Verf&uuml;gung.");

// Comments and CDATA stay nodes (the descriptor counts every child); whitespace-only text
// between elements is dropped. No DTD is processed, so declared entities are never expanded
// and an entity bomb stays a few bytes of literal text.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments;

// Real descriptors and news files are a few hundred kilobytes. The parser needs 64 bytes per
// element, text or comment and 40 per attribute whatever their length, so a file of nothing
// but "<a/>" would cost sixteen times its size; both limits together keep a damaged or
// hostile file below a few hundred megabytes.
constexpr qint64 kMaxXmlFileSize = 64 * 1024 * 1024;
constexpr qsizetype kMaxMarkup = 4 * 1024 * 1024;

QString UrlWithSlash(const QString& base)
{
    return base.endsWith(u'/') ? base : base + u'/';
}

// Admins coming from Windows store the local source with a trailing "\"; it means the same
// as "/" here.
QString FolderWithSlash(const QString& folder)
{
    if (folder.endsWith(u'/'))
        return folder;
    if (folder.endsWith(u'\\'))
        return folder.chopped(1) + u'/';
    return folder + u'/';
}

// Restores the cursor on every way out, exceptions included.
class TWaitCursor {
public:
    TWaitCursor() : FFrontEnd(FrontEnd()) { FFrontEnd.BeginWaitCursor(); }
    ~TWaitCursor() { FFrontEnd.EndWaitCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

private:
    TFrontEnd& FFrontEnd;
};

class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : FFd(fd) {}
    ~TFileDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    int get() const { return FFd; }
    // Closes now, so that a failure to flush is seen; errno tells why.
    bool close()
    {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }

private:
    int FFd;
};

bool WriteAll(int fd, const char* data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// Copies source over destination. The copy goes to a temporary file beside the destination
// that is renamed over it at the end: a failed copy never leaves half a file, a symbolic link
// planted under the destination's name is replaced rather than written through, and a source
// that is the destination itself survives. Empty on success, else the system's text for the
// error.
QString CopyReplacing(const QString& source, const QString& destination)
{
    // Non-blocking open: a pipe under the source's name must not stop the program.
    TFileDescriptor in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (in.get() < 0)
        return qt_error_string(errno);
    struct stat info {};
    if (::fstat(in.get(), &info) != 0)
        return qt_error_string(errno);
    if (S_ISDIR(info.st_mode))
        return qt_error_string(EISDIR);
    // Pipes and devices could block or never end.
    if (!S_ISREG(info.st_mode))
        return qt_error_string(EINVAL);

    QByteArray temporary = QFile::encodeName(destination) + QByteArrayLiteral(".XXXXXX");
    TFileDescriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (out.get() < 0)
        return qt_error_string(errno);

    int error = 0;
    // The kernel copies without the data passing through this process where it can; another
    // file system or an old kernel leaves the rest to plain reads and writes.
    for (;;) {
        const ssize_t copied = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, 1 << 30, 0);
        if (copied > 0)
            continue;
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            error = errno;
        break;
    }
    std::array<char, 64 * 1024> buffer;
    for (; error == 0;) {
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || (got > 0 && !WriteAll(out.get(), buffer.data(), got))) {
            error = errno;
            break;
        }
        if (got == 0)
            break;
    }
    if (!out.close() && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), QFile::encodeName(destination).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return qt_error_string(error);
    }
    return QString();
}

bool StartsWith(QByteArrayView bytes, std::initializer_list<unsigned char> prefix)
{
    if (bytes.size() < static_cast<qsizetype>(prefix.size()))
        return false;
    qsizetype i = 0;
    for (const unsigned char c : prefix) {
        if (static_cast<unsigned char>(bytes[i++]) != c)
            return false;
    }
    return true;
}

bool HasUtf16ByteOrderMark(QByteArrayView bytes)
{
    return StartsWith(bytes, {0xFF, 0xFE}) || StartsWith(bytes, {0xFE, 0xFF});
}

// The marker is plain ASCII, which Windows-1252 and UTF-8 store byte for byte, so only a
// UTF-16 file needs decoding before the search.
bool ContainsNotAvailableMarker(const QByteArray& bytes)
{
    if (HasUtf16ByteOrderMark(bytes))
        return platform::DecodeText(bytes).contains(QLatin1String(kNotAvailableMarker));
    return ::memmem(bytes.constData(), static_cast<size_t>(bytes.size()), kNotAvailableMarker.data(),
                    static_cast<size_t>(kNotAvailableMarker.size())) != nullptr;
}

// The encoding the XML declaration names, in lower case; empty without a declaration.
QByteArray DeclaredEncoding(QByteArrayView bytes)
{
    if (!bytes.startsWith("<?xml") || bytes.size() < 6 || !QChar::isSpace(uchar(bytes[5])))
        return {};
    QByteArrayView declaration = bytes.first(std::min<qsizetype>(bytes.size(), 1024));
    const qsizetype end = declaration.indexOf("?>");
    if (end < 0)
        return {};
    declaration = declaration.first(end);
    qsizetype i = declaration.indexOf("encoding");
    if (i < 0)
        return {};
    i += 8;
    auto skipBlanks = [&] {
        while (i < declaration.size() && QChar::isSpace(uchar(declaration[i])))
            ++i;
    };
    skipBlanks();
    if (i >= declaration.size() || declaration[i] != '=')
        return {};
    ++i;
    skipBlanks();
    if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\''))
        return {};
    const char quote = declaration[i++];
    const qsizetype close = declaration.indexOf(quote, i);
    if (close < 0)
        return {};
    return declaration.sliced(i, close - i).toByteArray().toLower();
}

// Windows editors write "ISO-8859-1" where they mean their own code page, and the two agree
// on every letter a descriptor uses; the parser itself knows neither.
bool IsWindows1252Family(const QByteArray& encoding)
{
    static const QByteArrayView names[] = {"windows-1252", "cp1252",    "x-cp1252", "iso-8859-1",
                                           "iso_8859-1",   "iso8859-1", "latin1",   "latin-1",
                                           "l1",           "us-ascii",  "ascii"};
    for (const QByteArrayView name : names) {
        if (encoding == name)
            return true;
    }
    return false;
}

// The two byte loops below run over whole descriptors before every parse; eight bytes at a
// time they cost a fraction of the parse instead of a multiple of it.
constexpr quint64 kHighBits = 0x8080808080808080ull;

quint64 Word(const char* p)
{
    quint64 word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// 0x01 in every byte of `word` that equals `c`, 0x00 in every other one; exact, without a
// branch per byte.
quint64 ByteMatches(quint64 word, unsigned char c)
{
    constexpr quint64 low7 = 0x7F7F7F7F7F7F7F7Full;
    const quint64 t = word ^ (0x0101010101010101ull * c);
    return (~(((t & low7) + low7) | t | low7)) >> 7;
}

// Windows-1252 straight to UTF-8: descriptors are mostly ASCII, which is copied as it is; a
// detour through UTF-16 would convert the whole file twice.
QByteArray Windows1252ToUtf8(const QByteArray& bytes)
{
    static const std::array<QByteArray, 128> upperHalf = [] {
        std::array<QByteArray, 128> table;
        for (int i = 0; i < 128; ++i)
            table[i] = platform::DecodeWindows1252(QByteArray(1, static_cast<char>(0x80 + i))).toUtf8();
        return table;
    }();
    const char* in = bytes.constData();
    const qsizetype n = bytes.size();
    qsizetype length = 0;
    qsizetype i = 0;
    for (; i < n; ++i) {
        if (i + 8 <= n && (Word(in + i) & kHighBits) == 0) {
            length += 8;
            i += 7;
            continue;
        }
        const auto byte = static_cast<unsigned char>(in[i]);
        length += byte < 0x80 ? 1 : upperHalf[byte - 0x80].size();
    }
    QByteArray result(length, Qt::Uninitialized);
    char* out = result.data();
    for (i = 0; i < n; ++i) {
        if (i + 8 <= n && (Word(in + i) & kHighBits) == 0) {
            std::memcpy(out, in + i, 8);
            out += 8;
            i += 7;
            continue;
        }
        const auto byte = static_cast<unsigned char>(in[i]);
        if (byte < 0x80) {
            *out++ = in[i];
        } else {
            const QByteArray& sequence = upperHalf[byte - 0x80];
            out = std::copy(sequence.cbegin(), sequence.cend(), out);
        }
    }
    return result;
}

// The file as UTF-8 for the parser: a byte-order mark wins, else a declared Windows-1252 or
// Latin-1 is decoded here, else the bytes are taken as UTF-8.
QByteArray ParserInput(const QByteArray& bytes)
{
    if (StartsWith(bytes, {0xEF, 0xBB, 0xBF}))
        return bytes.sliced(3);
    if (HasUtf16ByteOrderMark(bytes))
        return platform::DecodeText(bytes).toUtf8();
    if (IsWindows1252Family(DeclaredEncoding(bytes)))
        return Windows1252ToUtf8(bytes);
    return bytes;
}

// An upper bound of the nodes and attributes the parser would create.
qsizetype MarkupCount(const QByteArray& bytes)
{
    const char* p = bytes.constData();
    const qsizetype n = bytes.size();
    qsizetype count = 0;
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        const quint64 word = Word(p + i);
        // No byte matches both, so every byte of the sum is 0 or 1; the multiplication adds
        // them up in the top byte.
        const quint64 matches = ByteMatches(word, '<') + ByteMatches(word, '=');
        count += static_cast<qsizetype>((matches * 0x0101010101010101ull) >> 56);
    }
    for (; i < n; ++i)
        count += (p[i] == '<') + (p[i] == '=');
    return count;
}

QString ParseStatusText(pugi::xml_parse_status status)
{
    switch (status) {
        case pugi::status_out_of_memory:
            return QStringLiteral("Nicht genug Arbeitsspeicher");
        case pugi::status_unrecognized_tag:
            return QStringLiteral("Unbekanntes Tag");
        case pugi::status_bad_pi:
            return QStringLiteral("Fehlerhafte Verarbeitungsanweisung");
        case pugi::status_bad_comment:
            return QStringLiteral("Fehlerhafter Kommentar");
        case pugi::status_bad_cdata:
            return QStringLiteral("Fehlerhafter CDATA-Abschnitt");
        case pugi::status_bad_doctype:
            return QStringLiteral("Fehlerhafte Dokumenttyp-Deklaration");
        case pugi::status_bad_pcdata:
            return QStringLiteral("Fehlerhafter Text");
        case pugi::status_bad_start_element:
            return QStringLiteral("Fehlerhaftes Start-Tag");
        case pugi::status_bad_attribute:
            return QStringLiteral("Fehlerhaftes Attribut");
        case pugi::status_bad_end_element:
            return QStringLiteral("Fehlerhaftes End-Tag");
        case pugi::status_end_element_mismatch:
            return QStringLiteral("Start- und End-Tag passen nicht zusammen");
        case pugi::status_no_document_element:
            return QStringLiteral("Kein Wurzelelement gefunden");
        default:
            return QStringLiteral("Die Datei kann nicht gelesen werden");
    }
}

// Loads the fetched file into `document`, which keeps its earlier content unless the load
// succeeds. Empty on success, else why the file is not an XML document we read.
QString LoadXml(pugi::xml_document& document, const std::optional<QByteArray>& bytes)
{
    if (!bytes)
        return QStringLiteral("Die Datei ist größer als %1 MB").arg(kMaxXmlFileSize / (1024 * 1024));
    const QByteArray input = ParserInput(*bytes);
    if (MarkupCount(input) > kMaxMarkup)
        return QStringLiteral("Die Datei enthält mehr als %1 Elemente und Attribute").arg(kMaxMarkup);

    pugi::xml_document parsed;
    const pugi::xml_parse_result result = parsed.load_buffer(
        input.constData(), static_cast<size_t>(input.size()), kParseOptions, pugi::encoding_utf8);
    if (!result) {
        const qsizetype offset = std::clamp<qsizetype>(result.offset, 0, input.size());
        const qsizetype line = QByteArrayView(input).first(offset).count('\n') + 1;
        return QStringLiteral("%1 (Zeile %2)").arg(ParseStatusText(result.status)).arg(line);
    }
    // The parser accepts a few things XML forbids at the top level; a file with two roots or
    // a CDATA section beside the root is no document either.
    int elements = 0;
    for (const pugi::xml_node node : parsed.children()) {
        if (node.type() == pugi::node_element)
            ++elements;
        else if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            return QStringLiteral("Text außerhalb des Wurzelelements");
    }
    if (elements != 1)
        return QStringLiteral("Mehr als ein Wurzelelement");
    document = std::move(parsed);
    return QString();
}

// Where one file comes from and goes to.
struct TSource {
    QString Procedure;  // the fetch operation, first word of its log lines
    QString URL;        // over HTTPS
    QString LocalFile;  // in the local source folder; empty: over HTTPS
    QString LocalSource;
    QString Destination;
};

// Copies or downloads the file; false when that failed (the destination is then not read).
bool FetchFile(const TSource& source)
{
    if (!source.LocalSource.isEmpty()) {
        WriteLog(2,
                 source.Procedure + QStringLiteral(" - LocalSource wird verwendet: ") + source.LocalSource);
        const QString error = CopyReplacing(source.LocalFile, source.Destination);
        if (error.isEmpty())
            return true;
        WriteLog(2, source.Procedure + QStringLiteral(" - Fehler beim Kopieren: \"") + error + u'"');
        return false;
    }
    WriteLog(2, source.Procedure + QStringLiteral(" - HTTPS-Quelle wird verwendet: ") + source.URL);
    TDownload download;
    return download.StartDownload(source.URL, source.Destination, nullptr, nullptr);
}

QString LocalSourceSetting()
{
    return ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                           QString());
}

QString UpdateURLSetting(const QString& defaultURL)
{
    return ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                           defaultURL);
}

QString TempDirWithSlash()
{
    return FolderWithSlash(GetTempDir());
}

// Runs a fetch operation between its start line and its end line; the end line is written
// on every way out, with False when an error leaves.
template <typename Body>
bool Logged(const QString& procedure, const QString& startLine, Body body)
{
    return LoggedCall<bool>(startLine, procedure + QStringLiteral(" - Ende - Result: "), body);
}

}  // namespace

TUpdateCheck::TUpdateCheck(TUpdates* Updates) : FUpdates(Updates)
{
    WriteLog(2, QStringLiteral("Create - Start"));
    WriteLog(2, QStringLiteral("Create - Ende"));
}

bool TUpdateCheck::DownloadUpdateXML(int ModulID, int ModulHauptversion)
{
    const QString procedure = QStringLiteral("DownloadUpdateXML");
    return Logged(
        procedure,
        procedure + QStringLiteral(" - Start; Parameter: %1, %2").arg(ModulID).arg(ModulHauptversion), [&] {
            const QString folder = QStringLiteral("Modul_%1").arg(ModulID);
            const QString baseURL =
                UrlWithSlash(UrlWithSlash(UpdateURLSetting(SettingsKeys::UpdateURLDefault)) + folder);
            const QString fileName = QStringLiteral("update_%1_%2.xml").arg(ModulID).arg(ModulHauptversion);
            FxmlVersionenFilename = TempDirWithSlash() + fileName;

            const TWaitCursor cursor;
            TSource source;
            source.Procedure = procedure;
            source.URL = baseURL + fileName;
            source.LocalSource = LocalSourceSetting();
            source.LocalFile = FolderWithSlash(source.LocalSource) + folder + u'/' + fileName;
            source.Destination = FxmlVersionenFilename;
            if (!FetchFile(source))
                return false;
            const std::optional<QByteArray> bytes =
                platform::ReadRegularFileWithin(FxmlVersionenFilename, kMaxXmlFileSize);
            if (bytes && ContainsNotAvailableMarker(*bytes))
                return false;
            // A descriptor that is no XML just skips the module; the run goes on.
            return LoadXml(FxmlVersionen, bytes).isEmpty();
        });
}

bool TUpdateCheck::DownloadNewsXML()
{
    const QString procedure = QStringLiteral("DownloadNewsXML");
    return Logged(procedure, procedure + QStringLiteral(" - Start"), [&] {
        const QString fileName = QStringLiteral("news.xml");
        const QString destination = TempDirWithSlash() + fileName;

        QString error;
        {
            const TWaitCursor cursor;
            TSource source;
            source.Procedure = procedure;
            source.URL = UrlWithSlash(UpdateURLSetting(SettingsKeys::NewsURLDefault)) + fileName;
            source.LocalSource = LocalSourceSetting();
            source.LocalFile = FolderWithSlash(source.LocalSource) + QStringLiteral("news/") + fileName;
            source.Destination = destination;
            if (!FetchFile(source))
                return false;
            const std::optional<QByteArray> bytes =
                platform::ReadRegularFileWithin(destination, kMaxXmlFileSize);
            if (bytes && ContainsNotAvailableMarker(*bytes))
                return false;
            error = LoadXml(FxmlNews, bytes);
            if (error.isEmpty())
                return true;
        }
        // The cursor is back to normal before the box asks for a click.
        const QString text =
            QStringLiteral("Exception beim Laden aus dem Tempverzeichnis: \"") + error + u'"';
        WriteLog(2, procedure + QStringLiteral(" - ") + text);
        MessageDialog(text, TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
        return false;
    });
}
