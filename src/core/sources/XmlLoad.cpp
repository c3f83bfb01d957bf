// Parsing a fetched XML file: size and markup limits, the parser's options, its errors in German.
#include "core/sources/XmlLoad.h"

#include "core/sources/XmlDecoding.h"

#include <QByteArrayView>

#include <algorithm>

namespace sources {

namespace {

// Comments and CDATA stay nodes (the descriptor counts every child); whitespace-only text
// between elements is dropped. No DTD is processed, so declared entities are never expanded
// and an entity bomb stays a few bytes of literal text.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments;

// Beside kMaxXmlFileSize: the nodes and attributes a file may make the parser create.
constexpr qsizetype kMaxMarkup = 4 * 1024 * 1024;

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

}  // namespace

QString FileTooLargeText(qint64 limit)
{
    constexpr qint64 MB = 1024 * 1024;
    if (limit % MB == 0)
        return QStringLiteral("Die Datei ist größer als %1 MB").arg(limit / MB);
    return QStringLiteral("Die Datei ist größer als %1 Bytes").arg(limit);
}

TXmlLoadResult LoadXml(pugi::xml_document& document, const std::optional<QByteArray>& bytes)
{
    if (!bytes)
        return {FileTooLargeText()};
    QString encodingError;
    const QByteArray input = ParserInput(*bytes, encodingError);
    if (!encodingError.isEmpty())
        return {encodingError};
    if (MarkupCount(input) > kMaxMarkup)
        return {QStringLiteral("Die Datei enthält mehr als %1 Elemente und Attribute").arg(kMaxMarkup)};

    pugi::xml_document parsed;
    const pugi::xml_parse_result result = parsed.load_buffer(
        input.constData(), static_cast<size_t>(input.size()), kParseOptions, pugi::encoding_utf8);
    if (!result) {
        const qsizetype offset = std::clamp<qsizetype>(result.offset, 0, input.size());
        const qsizetype line = QByteArrayView(input).first(offset).count('\n') + 1;
        return {QStringLiteral("%1 (Zeile %2)").arg(ParseStatusText(result.status)).arg(line), line};
    }
    // The parser accepts a few things XML forbids at the top level; a file with two roots or
    // a CDATA section beside the root is no document either.
    int elements = 0;
    for (const pugi::xml_node node : parsed.children()) {
        if (node.type() == pugi::node_element)
            ++elements;
        else if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            return {QStringLiteral("Text außerhalb des Wurzelelements")};
    }
    if (elements != 1)
        return {QStringLiteral("Mehr als ein Wurzelelement")};
    document = std::move(parsed);
    return {};
}

}  // namespace sources
