// Editing a descriptor's text in place: the bytes on disk mapped to the text the parser read,
// the places of nodes in it, and one element inserted the way its neighbours are written.
#include "DescriptorText.h"

#include "core/platform/VorlandtError.h"
#include "core/platform/text/TextCodec.h"
#include "core/sources/XmlDecoding.h"
#include "core/sources/XmlLoad.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace publish {

namespace {

[[noreturn]] void Fail(const QString& message)
{
    throw EVorlandtError(message);
}

// The encoding named in the declaration at the top of the text, in lower case.
QByteArray DeclaredEncoding(const QString& text)
{
    static const QRegularExpression Declaration(
        QStringLiteral("^<\\?xml\\s[^>]*?encoding\\s*=\\s*[\"']([^\"']*)[\"']"));
    const QRegularExpressionMatch match = Declaration.match(text.left(1024));
    return match.hasMatch() ? match.captured(1).toLatin1().toLower() : QByteArray();
}

bool IsWindows1252Name(const QByteArray& name)
{
    static const QByteArrayView names[] = {"windows-1252", "cp1252",    "x-cp1252", "iso-8859-1",
                                           "iso_8859-1",   "iso8859-1", "latin1",   "latin-1",
                                           "l1",           "us-ascii",  "ascii"};
    for (const QByteArrayView known : names) {
        if (name == known)
            return true;
    }
    return false;
}

}  // namespace

std::optional<TFileText> TFileText::Of(const QByteArray& bytes)
{
    TFileText file;
    file.FBytes = bytes;
    QString encodingError;
    file.FInput = sources::ParserInput(bytes, encodingError);
    if (!encodingError.isEmpty())
        return std::nullopt;
    file.FText = QString::fromUtf8(file.FInput);
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        file.FPrefix = bytes.first(3);
        file.FEncode = [](const QString& text) { return text.toUtf8(); };
    } else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        file.FPrefix = bytes.first(2);
        const auto encoding =
            bytes.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
        file.FEncode = [encoding](const QString& text) {
            QStringEncoder encoder(encoding);
            return QByteArray(encoder(text));
        };
        file.FDecode = [encoding](const QByteArray& data) {
            QStringDecoder decoder(encoding);
            return QString(decoder(data));
        };
    } else {
        const QByteArray declared = DeclaredEncoding(file.FText);
        if (declared.isEmpty() || declared == "utf-8" || declared == "utf8") {
            file.FEncode = [](const QString& text) { return text.toUtf8(); };
        } else if (IsWindows1252Name(declared)) {
            file.FEncode = platform::EncodeWindows1252;
            file.FDecode = platform::DecodeWindows1252;
        } else {
            QStringEncoder probe(declared.constData());
            if (!probe.isValid())
                return std::nullopt;
            file.FEncode = [declared](const QString& text) {
                QStringEncoder encoder(declared.constData(), QStringEncoder::Flag::Stateless);
                return QByteArray(encoder(text));
            };
            file.FDecode = [declared](const QByteArray& data) {
                QStringDecoder decoder(declared.constData(), QStringDecoder::Flag::Stateless);
                return QString(decoder(data));
            };
        }
    }
    if (!file.FDecode)
        file.FDecode = [](const QByteArray& data) { return QString::fromUtf8(data); };
    // Whatever was guessed above, the text must come back to exactly these bytes.
    if (file.FPrefix + file.FEncode(file.FText) != bytes)
        return std::nullopt;
    return file;
}

qsizetype TFileText::Index(std::ptrdiff_t offset) const
{
    return QString::fromUtf8(FInput.first(std::clamp<qsizetype>(offset, 0, FInput.size()))).size();
}

QByteArray TFileText::Replaced(qsizetype from, qsizetype to, const QString& replacement) const
{
    const QByteArray encoded = FEncode(replacement);
    if (FDecode(encoded) != replacement)
        Fail(
            QStringLiteral("Der neue Eintrag enthält Zeichen, die in der Kodierung der Datei nicht "
                           "vorkommen."));
    const qsizetype byteFrom = FPrefix.size() + FEncode(FText.left(from)).size();
    const qsizetype byteTo = FPrefix.size() + FEncode(FText.left(to)).size();
    return FBytes.left(byteFrom) + encoded + FBytes.mid(byteTo);
}

qsizetype TDescriptorDocument::NodeStart(const pugi::xml_node& node) const
{
    const qsizetype at = File.Index(node.offset_debug());
    switch (node.type()) {
        case pugi::node_element:
            return at - 1;
        case pugi::node_comment:
            return at - 4;  // "<!--"
        case pugi::node_cdata:
            return at - 9;  // "<![CDATA["
        case pugi::node_pcdata:
            return at;
        default:
            Fail(QStringLiteral("Die Datei enthält einen Knoten, den add nicht zu ergänzen weiß."));
    }
}

std::optional<QString> TDescriptorDocument::LineIndent(qsizetype position) const
{
    const QString& text = File.Text();
    qsizetype i = position;
    while (i > 0 && (text.at(i - 1) == u' ' || text.at(i - 1) == u'\t'))
        --i;
    if (i > 0 && text.at(i - 1) != u'\n')
        return std::nullopt;
    return text.mid(i, position - i);
}

std::pair<qsizetype, bool> TDescriptorDocument::StartTagEnd(const pugi::xml_node& element) const
{
    const QString& text = File.Text();
    QChar quote;
    for (qsizetype i = NodeStart(element) + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'>') {
            return {i, text.at(i - 1) == u'/'};
        }
    }
    Fail(QStringLiteral("Das Start-Tag von \"%1\" ist nicht abgeschlossen.")
             .arg(QString::fromUtf8(element.name())));
}

// The last "</name" before whatever follows the element: only blanks stand between the two.
qsizetype TDescriptorDocument::EndTagStart(const pugi::xml_node& element) const
{
    qsizetype limit = File.Text().size();
    for (pugi::xml_node node = element; node; node = node.parent()) {
        if (const pugi::xml_node next = node.next_sibling()) {
            limit = NodeStart(next);
            break;
        }
        if (node.parent() && node.parent().type() == pugi::node_element) {
            limit = EndTagStart(node.parent());
            break;
        }
    }
    const QString tag = QStringLiteral("</") + QString::fromUtf8(element.name());
    const qsizetype at = File.Text().lastIndexOf(tag, limit - 1);
    if (at < StartTagEnd(element).first)
        Fail(QStringLiteral("Das End-Tag von \"%1\" ist nicht zu finden.")
                 .arg(QString::fromUtf8(element.name())));
    return at;
}

TLayout TDescriptorDocument::Layout() const
{
    TLayout layout;
    const QString& text = File.Text();
    layout.Eol = text.contains(QStringLiteral("\r\n")) ? QStringLiteral("\r\n") : QStringLiteral("\n");
    const pugi::xml_node root = Document.document_element();
    layout.RootName = QString::fromUtf8(root.name());
    const std::optional<QString> rootIndent = LineIndent(NodeStart(root));
    bool unitKnown = false;
    bool updateSeen = false;
    for (const pugi::xml_node minor : root.children()) {
        if (minor.type() != pugi::node_element)
            continue;
        if (!unitKnown) {
            layout.MinorName = QString::fromUtf8(minor.name());
            const std::optional<QString> indent = LineIndent(NodeStart(minor));
            if (indent && rootIndent && indent->startsWith(*rootIndent) &&
                indent->size() > rootIndent->size()) {
                layout.Unit = indent->mid(rootIndent->size());
                unitKnown = true;
            }
        }
        if (const pugi::xml_node update =
                minor.find_child([](const pugi::xml_node& n) { return n.type() == pugi::node_element; });
            update && !updateSeen) {
            updateSeen = true;
            layout.UpdateName = QString::fromUtf8(update.name());
            if (const pugi::xml_node beschreibung = update.child("beschreibung")) {
                const qsizetype from = StartTagEnd(update).first;
                layout.InlineBeschreibung = !text.mid(from, NodeStart(beschreibung) - from).contains(u'\n');
            }
        }
        if (unitKnown && updateSeen)
            break;
    }
    return layout;
}

std::optional<TDescriptorDocument> ParseForEditing(const QByteArray& bytes)
{
    std::optional<TFileText> file = TFileText::Of(bytes);
    if (!file)
        return std::nullopt;
    TDescriptorDocument parsed{std::move(*file), {}};
    if (!sources::LoadXml(parsed.Document, bytes).Error.isEmpty())
        return std::nullopt;
    return parsed;
}

QByteArray InsertChild(const TDescriptorDocument& doc, const TLayout& layout, const pugi::xml_node& parent,
                       const pugi::xml_node& before, const TMakeElement& make)
{
    const QString& eol = layout.Eol;
    if (before) {
        const qsizetype start = doc.NodeStart(before);
        if (const std::optional<QString> indent = doc.LineIndent(start))
            return doc.File.Replaced(start - indent->size(), start - indent->size(),
                                     *indent + make(*indent) + eol);
        return doc.File.Replaced(start, start, make(std::nullopt));
    }
    const std::optional<QString> parentIndent = doc.LineIndent(doc.NodeStart(parent));
    if (parent.first_child()) {
        const qsizetype end = doc.EndTagStart(parent);
        const std::optional<QString> endIndent = doc.LineIndent(end);
        if (!endIndent)
            return doc.File.Replaced(end, end, make(std::nullopt));
        const std::optional<QString> lastIndent = doc.LineIndent(doc.NodeStart(parent.last_child()));
        const QString indent = lastIndent ? *lastIndent : *endIndent + layout.Unit;
        const qsizetype lineStart = end - endIndent->size();
        return doc.File.Replaced(lineStart, lineStart, indent + make(indent) + eol);
    }
    // An empty element: "<x ...></x>", "<x ...>  </x>" or "<x .../>".
    const auto [tagEnd, selfClosing] = doc.StartTagEnd(parent);
    const std::optional<QString> indent =
        parentIndent ? std::optional<QString>(*parentIndent + layout.Unit) : std::nullopt;
    const QString content = indent ? eol + *indent + make(*indent) + eol + *parentIndent : make(std::nullopt);
    if (selfClosing) {
        qsizetype slash = tagEnd - 1;
        while (slash > 0 && doc.File.Text().at(slash - 1).isSpace())
            --slash;
        return doc.File.Replaced(
            slash, tagEnd + 1,
            u'>' + content + QStringLiteral("</") + QString::fromUtf8(parent.name()) + u'>');
    }
    return doc.File.Replaced(tagEnd + 1, doc.EndTagStart(parent), content);
}

}  // namespace publish
