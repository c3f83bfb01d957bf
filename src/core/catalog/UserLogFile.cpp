// The log's bytes in plain C++ (no Qt): the set-group-id writer links this file alone, and a
// set-id program must stay small enough to read in one sitting.
#include "core/catalog/UserLogFile.h"

#include <array>
#include <cstdint>

namespace userlog {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LEBom = "\xFF\xFE";
constexpr std::string_view Utf16BEBom = "\xFE\xFF";

// Windows-1252's 0x80..0x9F; the five bytes it leaves undefined keep the C1 control of their
// number, as the updater's own conversion does.
constexpr std::array<char32_t, 32> HighRange = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char Windows1252Byte(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < HighRange.size(); ++i) {
        if (HighRange[i] == c)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

// The next code point of strict UTF-8 at `i` (advanced past it); nullopt for a broken, overlong
// or surrogate sequence.
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& i)
{
    const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char first = byte(i);
    if (first < 0x80) {
        ++i;
        return first;
    }
    std::size_t length = 0;
    char32_t c = 0;
    char32_t least = 0;
    if ((first & 0xE0) == 0xC0) {
        length = 2;
        c = first & 0x1F;
        least = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        c = first & 0x0F;
        least = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        c = first & 0x07;
        least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - i < length)
        return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return std::nullopt;
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return std::nullopt;
    i += length;
    return c;
}

void AppendUnit(std::string& out, char32_t unit, TLogEncoding encoding)
{
    const char high = static_cast<char>((unit >> 8) & 0xFF);
    const char low = static_cast<char>(unit & 0xFF);
    if (encoding == TLogEncoding::Utf16BE) {
        out += high;
        out += low;
    } else if (encoding == TLogEncoding::Utf16LE) {
        out += low;
        out += high;
    } else {
        out += low;
    }
}

bool IsUtf16(TLogEncoding encoding)
{
    return encoding == TLogEncoding::Utf16LE || encoding == TLogEncoding::Utf16BE;
}

// A text in one encoding read as a sequence of code units (bytes, or 16-bit units for UTF-16):
// enough to find line ends and to compare a line with ASCII text.
struct TUnits {
    std::string_view bytes;
    TLogEncoding encoding;

    std::size_t Width() const { return IsUtf16(encoding) ? 2 : 1; }
    std::size_t Count() const { return bytes.size() / Width(); }
    char32_t At(std::size_t k) const
    {
        const auto b = [this](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
        if (encoding == TLogEncoding::Utf16LE)
            return char32_t(b(2 * k)) | (char32_t(b(2 * k + 1)) << 8);
        if (encoding == TLogEncoding::Utf16BE)
            return (char32_t(b(2 * k)) << 8) | char32_t(b(2 * k + 1));
        return b(k);
    }
    bool StartsWith(std::size_t from, std::size_t length, std::string_view ascii) const
    {
        if (length < ascii.size())
            return false;
        for (std::size_t k = 0; k < ascii.size(); ++k) {
            if (At(from + k) != static_cast<unsigned char>(ascii[k]))
                return false;
        }
        return true;
    }
    bool Equals(std::size_t from, std::size_t length, std::string_view ascii) const
    {
        return length == ascii.size() && StartsWith(from, length, ascii);
    }
    // Units up to and including the last line break.
    std::size_t CompleteLines() const
    {
        for (std::size_t k = Count(); k > 0; --k) {
            const char32_t c = At(k - 1);
            if (c == u'\n' || c == u'\r')
                return k;
        }
        return 0;
    }
};

std::string_view WithoutByteOrderMark(std::string_view bytes, TLogEncoding encoding)
{
    return bytes.substr(ByteOrderMark(encoding).size());
}

std::string EntryLineProblem(std::string_view entry)
{
    std::size_t start = 0;
    const auto line = [&entry, &start]() {
        const std::size_t end = entry.find("\r\n", start);
        const std::string_view text = entry.substr(start, end == std::string_view::npos ? 0 : end - start);
        start = end == std::string_view::npos ? entry.size() : end + 2;
        return text;
    };
    if (line() != EntrySeparator)
        return "Die erste Zeile ist nicht die Trennlinie.";
    if (line().substr(0, 20) != "Installationsdatum: ")
        return "Die zweite Zeile beginnt nicht mit \"Installationsdatum: \".";
    if (line().substr(0, 7) != "Modul: ")
        return "Die dritte Zeile beginnt nicht mit \"Modul: \".";
    if (line().substr(0, 9) != "Version: ")
        return "Die vierte Zeile beginnt nicht mit \"Version: \".";
    if (line() != EntrySeparator)
        return "Die fünfte Zeile ist nicht die Trennlinie.";
    // The text (possibly none), its two empty lines and the last line's end.
    const std::string_view rest = entry.substr(start);
    const std::string_view end = "\r\n\r\n\r\n";
    if (rest.size() < end.size() || rest.substr(rest.size() - end.size()) != end)
        return "Der Eintrag endet nicht mit zwei Leerzeilen.";
    return {};
}

}  // namespace

TLogEncoding EncodingOf(std::string_view bytes)
{
    if (bytes.substr(0, 3) == Utf8Bom)
        return TLogEncoding::Utf8;
    if (bytes.substr(0, 2) == Utf16LEBom)
        return TLogEncoding::Utf16LE;
    if (bytes.substr(0, 2) == Utf16BEBom)
        return TLogEncoding::Utf16BE;
    return TLogEncoding::Windows1252;
}

std::string_view ByteOrderMark(TLogEncoding encoding)
{
    switch (encoding) {
        case TLogEncoding::Utf8:
            return Utf8Bom;
        case TLogEncoding::Utf16LE:
            return Utf16LEBom;
        case TLogEncoding::Utf16BE:
            return Utf16BEBom;
        case TLogEncoding::Windows1252:
            break;
    }
    return {};
}

std::string_view EncodingName(TLogEncoding encoding)
{
    switch (encoding) {
        case TLogEncoding::Utf8:
            return "utf-8";
        case TLogEncoding::Utf16LE:
            return "utf-16le";
        case TLogEncoding::Utf16BE:
            return "utf-16be";
        case TLogEncoding::Windows1252:
            break;
    }
    return "windows-1252";
}

std::optional<TLogEncoding> EncodingNamed(std::string_view name)
{
    for (const TLogEncoding encoding :
         {TLogEncoding::Windows1252, TLogEncoding::Utf8, TLogEncoding::Utf16LE, TLogEncoding::Utf16BE}) {
        if (EncodingName(encoding) == name)
            return encoding;
    }
    return std::nullopt;
}

std::string EntryProblem(std::string_view entry)
{
    if (entry.empty())
        return "Der Eintrag ist leer.";
    if (entry.size() > MaxEntryBytes)
        return "Der Eintrag ist größer als " + std::to_string(MaxEntryBytes) + " Bytes.";
    for (std::size_t i = 0; i < entry.size();) {
        const std::size_t at = i;
        const std::optional<char32_t> c = NextCodePoint(entry, i);
        if (!c)
            return "Der Eintrag ist kein gültiges UTF-8 (Byte " + std::to_string(at) + ").";
        if (*c == U'\r' && (i == entry.size() || entry[i] != '\n'))
            return "Ein Zeilenende ist nicht CR LF (Byte " + std::to_string(at) + ").";
        if (*c == U'\n' && (at == 0 || entry[at - 1] != '\r'))
            return "Ein Zeilenende ist nicht CR LF (Byte " + std::to_string(at) + ").";
        const bool control = *c < 0x20 || (*c >= 0x7F && *c <= 0x9F);
        if (control && *c != U'\t' && *c != U'\r' && *c != U'\n') {
            static constexpr char Hex[] = "0123456789ABCDEF";
            std::string code = "U+00";
            code += Hex[(*c >> 4) & 0xF];
            code += Hex[*c & 0xF];
            return "Der Eintrag enthält das Steuerzeichen " + code + " (Byte " + std::to_string(at) + ").";
        }
    }
    return EntryLineProblem(entry);
}

std::string Encode(std::string_view utf8, TLogEncoding encoding)
{
    if (encoding == TLogEncoding::Utf8)
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size() * (IsUtf16(encoding) ? 2 : 1));
    for (std::size_t i = 0; i < utf8.size();) {
        // Valid input is promised; a broken byte still becomes one '?' rather than a stop.
        const std::size_t at = i;
        std::optional<char32_t> c = NextCodePoint(utf8, i);
        if (!c) {
            i = at + 1;
            c = U'?';
        }
        if (encoding == TLogEncoding::Windows1252) {
            out += Windows1252Byte(*c);
        } else if (*c >= 0x10000) {
            AppendUnit(out, 0xD800 + ((*c - 0x10000) >> 10), encoding);
            AppendUnit(out, 0xDC00 + ((*c - 0x10000) & 0x3FF), encoding);
        } else {
            AppendUnit(out, *c, encoding);
        }
    }
    return out;
}

std::size_t CompleteLinesLength(std::string_view bytes)
{
    const TLogEncoding encoding = EncodingOf(bytes);
    const TUnits body{WithoutByteOrderMark(bytes, encoding), encoding};
    const std::size_t units = body.CompleteLines();
    if (units == 0)
        return 0;
    return ByteOrderMark(encoding).size() + units * body.Width();
}

TLogLines NormalizedLines(std::string_view body, TLogEncoding encoding, bool whole)
{
    TUnits old{body, encoding};
    old.bytes = old.bytes.substr(0, old.Count() * old.Width());  // half a UTF-16 unit is no text
    const std::size_t units = whole ? old.Count() : old.CompleteLines();
    std::string lineEnd;
    AppendUnit(lineEnd, U'\r', encoding);
    AppendUnit(lineEnd, U'\n', encoding);

    TLogLines lines;
    std::size_t separatorAt = std::string::npos;
    for (std::size_t start = 0; start < units;) {
        std::size_t end = start;
        while (end < units && old.At(end) != U'\r' && old.At(end) != U'\n')
            ++end;
        const std::size_t lineAt = lines.bytes.size();
        if (separatorAt != std::string::npos && old.StartsWith(start, end - start, "Installationsdatum: "))
            lines.entryStarts.push_back(separatorAt);
        separatorAt = old.Equals(start, end - start, EntrySeparator) ? lineAt : std::string::npos;
        lines.bytes.append(old.bytes.substr(start * old.Width(), (end - start) * old.Width()));
        lines.bytes += lineEnd;
        start = end;
        if (start < units)
            start += old.At(start) == U'\r' && start + 1 < units && old.At(start + 1) == U'\n' ? 2 : 1;
    }
    return lines;
}

std::string ComposeLog(std::string_view oldHead, bool oldIsWhole, std::string_view entry, TLogEncoding fresh,
                       std::size_t cap)
{
    const TLogEncoding encoding = oldHead.empty() ? fresh : EncodingOf(oldHead);
    std::string out(ByteOrderMark(encoding));
    out += Encode(entry, encoding);
    if (oldHead.empty())
        return out;

    TUnits old{WithoutByteOrderMark(oldHead, encoding), encoding};
    old.bytes = old.bytes.substr(0, old.Count() * old.Width());  // half a UTF-16 unit is no text
    std::size_t units = old.Count();
    if (!oldIsWhole)
        units = old.CompleteLines();

    std::string lineEnd;
    AppendUnit(lineEnd, U'\r', encoding);
    AppendUnit(lineEnd, U'\n', encoding);

    // The old lines, each ended by CR LF, up to the first that no longer fits; where an entry
    // starts and where a line ends within the budget is remembered on the way.
    const std::size_t budget = cap > out.size() ? cap - out.size() : 0;
    std::string kept;
    std::size_t lastLineEnd = 0;
    std::size_t lastEntryStart = 0;
    std::size_t separatorAt = std::string::npos;
    bool overflow = false;
    for (std::size_t start = 0; start < units;) {
        std::size_t end = start;
        while (end < units && old.At(end) != U'\r' && old.At(end) != U'\n')
            ++end;
        const std::size_t lineAt = kept.size();
        kept.append(old.bytes.substr(start * old.Width(), (end - start) * old.Width()));
        kept += lineEnd;
        if (separatorAt != std::string::npos && old.StartsWith(start, end - start, "Installationsdatum: "))
            lastEntryStart = separatorAt;
        separatorAt =
            old.Equals(start, end - start, EntrySeparator) && lineAt <= budget ? lineAt : std::string::npos;
        if (kept.size() <= budget) {
            lastLineEnd = kept.size();
        } else {
            overflow = true;
            // Only a separator within the budget can still turn out to start an entry.
            if (separatorAt == std::string::npos)
                break;
        }
        start = end;
        if (start < units)
            start += old.At(start) == U'\r' && start + 1 < units && old.At(start + 1) == U'\n' ? 2 : 1;
    }
    if (!overflow)
        out += kept;
    else
        out.append(kept, 0, lastEntryStart > 0 ? lastEntryStart : lastLineEnd);
    return out;
}

}  // namespace userlog
