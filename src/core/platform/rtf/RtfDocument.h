// The small document model the RTF reader produces and both renderings (plain text, HTML) read:
// paragraphs of formatted runs, nothing about fonts or pages.
#pragma once

#include <QList>
#include <QString>

namespace platform {

struct TRtfCharFormat {
    enum class TVertical : quint8 { Normal, Super, Sub };

    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    TVertical vertical = TVertical::Normal;
    int fontSize = 0;       // half points; 0 leaves the size to the window
    qint32 color = -1;      // 0xRRGGBB; -1 leaves the colour to the window
    qint32 backColor = -1;  // 0xRRGGBB; -1 for none

    bool operator==(const TRtfCharFormat&) const = default;
};

// A run's text holds '\t' for a tab and '\n' for a line break inside the paragraph; no other
// control characters reach it.
struct TRtfRun {
    QString text;
    TRtfCharFormat format;
    QString link;  // the target of a hyperlink field, as written; empty outside links
};

enum class TRtfAlignment : quint8 { Left, Center, Right, Justify };
enum class TRtfListKind : quint8 { None, Bullet, Numbered };

struct TRtfParagraph {
    QList<TRtfRun> runs;
    TRtfAlignment alignment = TRtfAlignment::Left;
    TRtfListKind list = TRtfListKind::None;
    int listLevel = 0;    // 0 for the outermost level
    QString marker;       // the number a numbered paragraph shows ("1.", "a)"); empty for bullets
    int spaceBefore = 0;  // twips
    int spaceAfter = 0;   // twips

    bool isEmpty() const { return runs.isEmpty(); }
};

struct TRtfDocument {
    QList<TRtfParagraph> paragraphs;
};

}  // namespace platform
