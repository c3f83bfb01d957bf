// A descriptor opened for a small edit of its text: where its nodes stand in the text, how it
// writes its entries (element names, line ends, indentation), and one element inserted as a child
// while every other byte of the file stays as it was, in the file's own encoding.
#pragma once

#include <QByteArray>
#include <QString>

#include <pugixml.hpp>

#include <cstddef>
#include <functional>
#include <optional>
#include <utility>

namespace publish {

// The file as the parser read it (UTF-8; Text as a string) beside its bytes on disk, and the way
// back from a place in the text to a place in the bytes.
class TFileText {
public:
    // nullopt when the text cannot be written back byte for byte in the file's own encoding.
    static std::optional<TFileText> Of(const QByteArray& bytes);

    const QString& Text() const { return FText; }
    // The place in Text of a node's offset_debug (an offset into the parser's UTF-8 input).
    qsizetype Index(std::ptrdiff_t offset) const;
    // Text[from, to) replaced by `replacement`, as the file's bytes. Raises EVorlandtError when
    // the replacement holds a character the file's encoding cannot hold.
    QByteArray Replaced(qsizetype from, qsizetype to, const QString& replacement) const;

private:
    QByteArray FBytes;
    QByteArray FPrefix;  // the byte-order mark
    QByteArray FInput;
    QString FText;
    std::function<QByteArray(const QString&)> FEncode;
    std::function<QString(const QByteArray&)> FDecode;
};

// Element names, line ends and indentation as the file has them, for a new entry that looks
// like its neighbours.
struct TLayout {
    QString RootName = QStringLiteral("modul");
    QString MinorName = QStringLiteral("version");
    QString UpdateName = QStringLiteral("update");
    QString Eol = QStringLiteral("\n");
    QString Unit = QStringLiteral("  ");
    bool InlineBeschreibung = false;  // "<update ...><beschreibung>" on one line
};

// A parsed descriptor together with its text.
struct TDescriptorDocument {
    TFileText File;
    pugi::xml_document Document;

    // Where a node begins in the text: its "<", or the first character of a text.
    qsizetype NodeStart(const pugi::xml_node& node) const;
    // The blanks in front of `position` when nothing else stands before it on its line.
    std::optional<QString> LineIndent(qsizetype position) const;
    // The '>' that ends the element's start tag (quoted values skipped), and whether it is "/>".
    std::pair<qsizetype, bool> StartTagEnd(const pugi::xml_node& element) const;
    // Where the element's end tag "</name" begins.
    qsizetype EndTagStart(const pugi::xml_node& element) const;
    TLayout Layout() const;
};

// The descriptor's bytes parsed as the updater parses them; nullopt when they are no document it
// reads or cannot be written back byte for byte.
std::optional<TDescriptorDocument> ParseForEditing(const QByteArray& bytes);

// An element's text; `indent` is its own when it stands on a line of its own, none inline.
using TMakeElement = std::function<QString(const std::optional<QString>& indent)>;

// The file's bytes with `make`'s element inserted as a child of `parent`: before `before`, or
// after the last child when there is none to go before. It goes on a line of its own when its
// neighbours stand on lines of their own, else inline.
QByteArray InsertChild(const TDescriptorDocument& doc, const TLayout& layout, const pugi::xml_node& parent,
                       const pugi::xml_node& before, const TMakeElement& make);

}  // namespace publish
