// Chooses between RTF and plain text and hands the document to the rendering asked for.
#include "core/platform/rtf/RtfReader.h"

#include "core/platform/rtf/RtfParser.h"
#include "core/platform/text/TextCodec.h"

#include <array>

namespace platform {

namespace {

template <typename View>
qsizetype RtfStart(View text, qsizetype bomLength)
{
    qsizetype i = 0;
    if (bomLength > 0)
        i = bomLength;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\r' || text[i] == u'\n'))
        ++i;
    return i;
}

// The 27 characters Windows-1252 places in 0x80..0x9F (and the five bytes it leaves undefined,
// which map to the C1 control of the same number).
const std::array<char16_t, 32>& HighRange()
{
    static const std::array<char16_t, 32> range = [] {
        QByteArray bytes;
        for (int b = 0x80; b < 0xA0; ++b)
            bytes.append(char(b));
        const QString text = DecodeWindows1252(bytes);
        std::array<char16_t, 32> result{};
        for (int i = 0; i < 32; ++i)
            result[i] = text.at(i).unicode();
        return result;
    }();
    return range;
}

bool InWindows1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return true;
    for (char16_t mapped : HighRange()) {
        if (mapped == c)
            return true;
    }
    return false;
}

QString NormalizedLineEnds(const QString& text)
{
    QString result;
    result.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            result += u"\r\n";
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n') {
            result += u"\r\n";
        } else {
            result += c;
        }
    }
    return result;
}

TRtfDocument PlainDocument(const QString& text)
{
    TRtfDocument document;
    for (const QString& line : SplitLines(text)) {
        TRtfParagraph para;
        if (!line.isEmpty())
            para.runs.append(TRtfRun{line, {}, {}});
        document.paragraphs.append(std::move(para));
    }
    return document;
}

}  // namespace

bool IsRtf(QByteArrayView bytes)
{
    const qsizetype bom = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    return bytes.sliced(RtfStart(bytes, bom)).startsWith("{\\rtf");
}

bool IsRtf(QStringView text)
{
    const qsizetype bom = text.startsWith(u'\uFEFF') ? 1 : 0;
    return text.sliced(RtfStart(text, bom)).startsWith(u"{\\rtf");
}

QByteArray RtfBytes(const QString& text)
{
    QByteArray bytes;
    qsizetype done = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (InWindows1252(c))
            continue;
        bytes += EncodeWindows1252(text.mid(done, i - done));
        // In a group of its own with no fallback, the escape leaves the reading state around it
        // as it was. Both halves of a surrogate pair share the group.
        bytes += "{\\uc0";
        const qsizetype units =
            QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        for (qsizetype k = 0; k < units; ++k) {
            const int unit = text[i + k].unicode();
            bytes += "\\u" + QByteArray::number(unit > 0x7FFF ? unit - 0x10000 : unit);
        }
        bytes += '}';
        i += units - 1;
        done = i + 1;
    }
    bytes += EncodeWindows1252(text.mid(done));
    return bytes;
}

TRtfDocument ReadRichText(const QByteArray& bytes)
{
    if (IsRtf(bytes))
        return ParseRtf(bytes);
    return ReadRichText(DecodeText(bytes));
}

TRtfDocument ReadRichText(const QString& text)
{
    if (IsRtf(text))
        return ParseRtf(RtfBytes(text));
    return PlainDocument(text);
}

QString RtfToPlainText(const QByteArray& bytes, const TRtfTextOptions& options)
{
    if (IsRtf(bytes))
        return RtfDocumentToPlainText(ParseRtf(bytes), options);
    return RtfToPlainText(DecodeText(bytes), options);
}

QString RtfToPlainText(const QString& text, const TRtfTextOptions& options)
{
    if (IsRtf(text))
        return RtfDocumentToPlainText(ParseRtf(RtfBytes(text)), options);
    return NormalizedLineEnds(text);
}

QString RtfToHtml(const QByteArray& bytes, const TRtfHtmlOptions& options)
{
    return RtfDocumentToHtml(ReadRichText(bytes), options);
}

QString RtfToHtml(const QString& text, const TRtfHtmlOptions& options)
{
    return RtfDocumentToHtml(ReadRichText(text), options);
}

QByteArray RichTextFileBytes(const QString& text)
{
    const bool rtf = IsRtf(text);
    QByteArray bytes;
    for (const QString& line : SplitLines(text)) {
        bytes += rtf ? RtfBytes(line) : EncodeWindows1252(line);
        bytes += "\r\n";
    }
    return bytes;
}

}  // namespace platform

QString ConvertRTFToText(const QString& RTF)
{
    return platform::RtfToPlainText(RTF);
}
