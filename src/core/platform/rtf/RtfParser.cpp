// A single pass over the bytes with a bounded stack of group states. Text is gathered as bytes
// and decoded in the code page of its font whenever the state is about to change, so that the
// two bytes of a double-byte character written as two \'hh escapes stay together.
#include "core/platform/rtf/RtfParser.h"

#include "core/platform/rtf/RtfCodePage.h"
#include "core/platform/rtf/RtfField.h"

#include <QHash>

#include <algorithm>
#include <climits>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Real documents nest a dozen groups deep; deeper groups are counted but not read, so that no
// input can make the state stack grow without bound.
constexpr qsizetype kMaxGroupDepth = 256;
constexpr std::size_t kMaxWordLength = 32;
constexpr qsizetype kMaxMarkerLength = 64;
constexpr int kMaxFontSize = 3276;  // half points: 1638 pt, the largest size Word offers
constexpr int kMaxListLevel = 8;

enum class TDest : quint8 {
    Text,              // document text
    Skip,              // a destination whose content is not text (pictures, style sheet, ...)
    FontTable,         // \fonttbl: which code page each font's text is written in
    ColorTable,        // \colortbl
    FieldInstruction,  // \fldinst: collected for the hyperlink target
    ListText,          // \pntext, \listtext: the bullet or number in front of a list paragraph
    ListDefinition,    // \pn: whether the paragraph is a bulleted or numbered one
    Upr,               // \upr: its ANSI part is skipped in favour of the Unicode part \ud
};

enum class TWord : quint8 {
    Unknown,
    SkipDestination,
    Character,  // a word standing for one character (\emdash, \bullet, ...)
    Nothing,    // a word that yields nothing here but ends a fallback like any other
    Par,
    Line,
    Tab,
    Cell,
    Row,
    Pard,
    Plain,
    Bold,
    Italic,
    Underline,
    UnderlineNone,
    Strike,
    Hidden,
    Super,
    Sub,
    NoSuperSub,
    FontSize,
    Color,
    BackColor,
    Font,
    DefaultFont,
    Ansi,
    Mac,
    Pc,
    Pca,
    AnsiCodePage,
    UnicodeSkip,
    Unicode,
    AlignLeft,
    AlignCenter,
    AlignRight,
    AlignJustify,
    SpaceBefore,
    SpaceAfter,
    ListOverride,
    ListLevel,
    Field,
    FieldInstruction,
    FieldResult,
    FontTable,
    ColorTable,
    Red,
    Green,
    Blue,
    Charset,
    CodePage,
    ListText,
    ListDefinition,
    BulletLevel,
    NumberLevel,
    Upr,
    Ud,
};

struct TWordInfo {
    TWord word;
    char16_t character = 0;
};

using TWordTable = std::unordered_map<std::string_view, TWordInfo>;

const TWordTable& Words()
{
    static const TWordTable table = [] {
        TWordTable t;
        const auto add = [&t](std::string_view name, TWord word, char16_t character = 0) {
            t.emplace(name, TWordInfo{word, character});
        };
        add("par", TWord::Par);
        add("line", TWord::Line);
        add("lbr", TWord::Line);
        add("softline", TWord::Line);
        add("tab", TWord::Tab);
        add("cell", TWord::Cell);
        add("nestcell", TWord::Cell);
        add("row", TWord::Row);
        add("nestrow", TWord::Row);
        add("pard", TWord::Pard);
        add("plain", TWord::Plain);
        add("b", TWord::Bold);
        add("i", TWord::Italic);
        for (std::string_view ul :
             {"ul", "uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave", "ulldash", "ulth", "ulthd",
              "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash", "ululdbwave", "ulw", "ulwave"})
            add(ul, TWord::Underline);
        add("ulnone", TWord::UnderlineNone);
        add("strike", TWord::Strike);
        add("striked", TWord::Strike);
        add("v", TWord::Hidden);
        add("super", TWord::Super);
        add("sub", TWord::Sub);
        add("nosupersub", TWord::NoSuperSub);
        add("fs", TWord::FontSize);
        add("cf", TWord::Color);
        add("cb", TWord::BackColor);
        add("highlight", TWord::BackColor);
        add("f", TWord::Font);
        add("deff", TWord::DefaultFont);
        add("ansi", TWord::Ansi);
        add("mac", TWord::Mac);
        add("pc", TWord::Pc);
        add("pca", TWord::Pca);
        add("ansicpg", TWord::AnsiCodePage);
        add("uc", TWord::UnicodeSkip);
        add("u", TWord::Unicode);
        add("ql", TWord::AlignLeft);
        add("qc", TWord::AlignCenter);
        add("qr", TWord::AlignRight);
        add("qj", TWord::AlignJustify);
        add("qd", TWord::AlignJustify);
        add("sb", TWord::SpaceBefore);
        add("sa", TWord::SpaceAfter);
        add("ls", TWord::ListOverride);
        add("ilvl", TWord::ListLevel);
        add("field", TWord::Field);
        add("fldinst", TWord::FieldInstruction);
        add("fldrslt", TWord::FieldResult);
        add("fonttbl", TWord::FontTable);
        add("colortbl", TWord::ColorTable);
        add("red", TWord::Red);
        add("green", TWord::Green);
        add("blue", TWord::Blue);
        add("fcharset", TWord::Charset);
        add("cpg", TWord::CodePage);
        add("pntext", TWord::ListText);
        add("listtext", TWord::ListText);
        add("pn", TWord::ListDefinition);
        add("pnlvlblt", TWord::BulletLevel);
        add("pnlvlbody", TWord::NumberLevel);
        add("pnlvl", TWord::NumberLevel);
        add("upr", TWord::Upr);
        add("ud", TWord::Ud);
        add("emdash", TWord::Character, u'\u2014');
        add("endash", TWord::Character, u'\u2013');
        add("emspace", TWord::Character, u'\u2003');
        add("enspace", TWord::Character, u'\u2002');
        add("qmspace", TWord::Character, u'\u2005');
        add("bullet", TWord::Character, u'\u2022');
        add("lquote", TWord::Character, u'\u2018');
        add("rquote", TWord::Character, u'\u2019');
        add("ldblquote", TWord::Character, u'\u201C');
        add("rdblquote", TWord::Character, u'\u201D');
        add("zwj", TWord::Character, u'\u200D');
        add("zwnj", TWord::Character, u'\u200C');
        add("zwbo", TWord::Character, u'\u200B');
        // Destinations whose content is no text of the document, also where a writer leaves
        // out the \* in front of them.
        for (std::string_view skip : {"stylesheet",
                                      "info",
                                      "pict",
                                      "object",
                                      "header",
                                      "headerl",
                                      "headerr",
                                      "headerf",
                                      "footer",
                                      "footerl",
                                      "footerr",
                                      "footerf",
                                      "footnote",
                                      "annotation",
                                      "atnid",
                                      "atnauthor",
                                      "atndate",
                                      "atnref",
                                      "atntime",
                                      "atrfstart",
                                      "atrfend",
                                      "xe",
                                      "tc",
                                      "txe",
                                      "rxe",
                                      "filetbl",
                                      "revtbl",
                                      "listtable",
                                      "listoverridetable",
                                      "rsidtbl",
                                      "themedata",
                                      "colorschememapping",
                                      "latentstyles",
                                      "datastore",
                                      "xmlnstbl",
                                      "generator",
                                      "mmathPr",
                                      "pgdsctbl",
                                      "template",
                                      "userprops",
                                      "docvar",
                                      "ftnsep",
                                      "ftnsepc",
                                      "ftncn",
                                      "aftnsep",
                                      "aftnsepc",
                                      "aftncn",
                                      "objdata",
                                      "nonshppict",
                                      "shp",
                                      "shpinst",
                                      "shptxt",
                                      "do",
                                      "fldtype",
                                      "bkmkstart",
                                      "bkmkend",
                                      "mmath",
                                      "pntxta",
                                      "pntxtb",
                                      "pnseclvl",
                                      "private",
                                      "background",
                                      "formfield",
                                      "datafield",
                                      "htmltag",
                                      "mhtmltag",
                                      "chftn",
                                      "chatn"})
            add(skip, TWord::SkipDestination);
        for (std::string_view nothing : {"page", "sect", "chpgn", "chdate", "chtime", "ltrmark", "rtlmark"})
            add(nothing, TWord::Nothing);
        return t;
    }();
    return table;
}

struct TParaFormat {
    TRtfAlignment alignment = TRtfAlignment::Left;
    TRtfListKind list = TRtfListKind::None;  // from a \pn definition
    bool inList = false;                     // from \ls
    int listLevel = 0;
    int spaceBefore = 0;
    int spaceAfter = 0;
};

struct TState {
    TRtfCharFormat format;
    TParaFormat para;
    int font = -1;
    int uc = 1;
    int link = -1;  // index into TRtfParser::FLinks
    TDest dest = TDest::Text;
    TDest uprOuter = TDest::Text;
    bool hidden = false;
};

struct TFont {
    int charsetPage = 0;
    int codePage = 0;  // \cpg, which wins over the character set
};

struct TField {
    QString instruction;
    qsizetype depth = 0;  // stack size of the group that holds \field
    int link = -1;
    bool resolved = false;
};

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsBulletMarker(QStringView marker)
{
    return marker.isEmpty() || (marker.size() == 1 && !marker[0].isDigit());
}

class TRtfParser {
public:
    explicit TRtfParser(QByteArrayView data) : FPos(data.data()), FEnd(data.data() + data.size())
    {
        FDoc.paragraphs.append(TRtfParagraph());
    }

    TRtfDocument run();

private:
    void openGroup();
    void closeGroup();
    void readControl();
    void readText();
    void handleWord(std::string_view name, bool hasParam, int param);
    void handleSymbol(char symbol);
    void handleByte(unsigned char byte);
    void skipBinary(int count);

    void flush();
    void emitText(QStringView text);
    void emitCharacter(char16_t c) { emitText(QStringView(&c, 1)); }
    void emitUnicode(int value);
    void resolveSurrogate();
    void paragraphBreak();
    void finishParagraph();
    void finish();

    bool textual() const
    {
        const TDest dest = FStack.back().dest;
        return dest == TDest::Text || dest == TDest::FieldInstruction || dest == TDest::ListText;
    }
    int currentCodePage() const;
    qint32 colorAt(int index) const;

    const char* FPos;
    const char* FEnd;
    std::vector<TState> FStack;
    qsizetype FOverflow = 0;  // groups opened beyond kMaxGroupDepth and not closed yet
    bool FDone = false;
    bool FIgnorable = false;  // a \* came right before this word
    qint64 FSkipFallback = 0;
    char16_t FHighSurrogate = 0;

    QByteArray FPending;  // text bytes not decoded yet, all in the current state
    QString FDecoded;
    TRtfTextDecoder FDecoder;

    int FAnsiCodePage = kRtfAnsiCodePage;
    int FDefaultFont = -1;
    int FDefiningFont = -1;
    QHash<int, TFont> FFonts;
    QList<qint32> FColors;
    int FRed = -1, FGreen = -1, FBlue = -1;
    std::vector<TField> FFields;
    QList<QString> FLinks;
    int FLastRunLink = -1;
    QString FMarker;

    TRtfDocument FDoc;
};

TRtfDocument TRtfParser::run()
{
    while (FPos < FEnd && !FDone) {
        const char c = *FPos;
        if (c == '{') {
            ++FPos;
            openGroup();
        } else if (c == '}') {
            ++FPos;
            closeGroup();
        } else if (c == '\\') {
            readControl();
        } else if (FStack.empty() || FOverflow > 0) {
            ++FPos;  // outside the document or inside groups too deep to read
        } else {
            readText();
        }
    }
    finish();
    return std::move(FDoc);
}

void TRtfParser::openGroup()
{
    FIgnorable = false;
    FSkipFallback = 0;
    if (FOverflow > 0 || qsizetype(FStack.size()) >= kMaxGroupDepth) {
        ++FOverflow;
        return;
    }
    flush();
    FStack.push_back(FStack.empty() ? TState() : FStack.back());
}

void TRtfParser::closeGroup()
{
    FIgnorable = false;
    FSkipFallback = 0;
    if (FOverflow > 0) {
        --FOverflow;
        return;
    }
    if (FStack.empty())
        return;
    flush();
    if (FStack.size() == 1) {
        FDone = true;  // the document ends with its outermost group; what follows is not read
        return;
    }
    const TState closed = FStack.back();
    FStack.pop_back();
    TState& outer = FStack.back();
    if (closed.dest == TDest::ListDefinition && outer.dest != TDest::ListDefinition &&
        closed.para.list != TRtfListKind::None)
        outer.para.list = closed.para.list;
    if (closed.dest == TDest::ColorTable && (FRed >= 0 || FGreen >= 0 || FBlue >= 0)) {
        // A last entry without its ";"
        FColors.append((std::max(FRed, 0) << 16) | (std::max(FGreen, 0) << 8) | std::max(FBlue, 0));
        FRed = FGreen = FBlue = -1;
    }
    while (!FFields.empty() && FFields.back().depth > qsizetype(FStack.size()))
        FFields.pop_back();
}

void TRtfParser::readText()
{
    if (FSkipFallback > 0) {
        // Fallback characters of a \u: one at a time, line ends do not count.
        if (*FPos != '\r' && *FPos != '\n')
            --FSkipFallback;
        ++FPos;
        return;
    }
    FIgnorable = false;
    const char* start = FPos;
    while (FPos < FEnd && *FPos != '\\' && *FPos != '{' && *FPos != '}')
        ++FPos;
    const TDest dest = FStack.back().dest;
    if (dest == TDest::ColorTable) {
        for (const char* p = start; p < FPos; ++p) {
            if (*p == ';') {
                FColors.append(FRed < 0 && FGreen < 0 && FBlue < 0
                                   ? -1
                                   : (std::max(FRed, 0) << 16) | (std::max(FGreen, 0) << 8) |
                                         std::max(FBlue, 0));
                FRed = FGreen = FBlue = -1;
            }
        }
    } else if (textual()) {
        FPending.append(start, FPos - start);
    }
}

void TRtfParser::readControl()
{
    ++FPos;  // the backslash
    if (FPos >= FEnd)
        return;
    const char c = *FPos;
    if (!IsLetter(c)) {
        ++FPos;
        if (c == '\'') {
            const int high = FPos < FEnd ? HexValue(*FPos) : -1;
            const int low = FPos + 1 < FEnd ? HexValue(FPos[1]) : -1;
            if (high < 0 || low < 0)
                return;  // a broken escape yields nothing
            FPos += 2;
            if (FOverflow == 0 && !FStack.empty())
                handleByte(static_cast<unsigned char>(high * 16 + low));
            return;
        }
        if (FOverflow == 0 && !FStack.empty())
            handleSymbol(c);
        return;
    }
    const char* nameStart = FPos;
    while (FPos < FEnd && IsLetter(*FPos))
        ++FPos;
    const std::string_view name(nameStart, std::size_t(FPos - nameStart));
    bool hasParam = false;
    bool negative = false;
    qint64 value = 0;
    if (FPos < FEnd && *FPos == '-' && FPos + 1 < FEnd && IsDigit(FPos[1])) {
        negative = true;
        ++FPos;
    }
    // Every digit is read, however many there are, but the value stops growing at the 32-bit
    // range that RTF parameters are limited to.
    while (FPos < FEnd && IsDigit(*FPos)) {
        hasParam = true;
        value = std::min<qint64>(value * 10 + (*FPos - '0'), qint64(INT_MAX) + 1);
        ++FPos;
    }
    if (FPos < FEnd && *FPos == ' ')
        ++FPos;  // the delimiter belongs to the word
    const int param = negative ? int(-value) : int(std::min<qint64>(value, INT_MAX));
    if (name == "bin") {
        // The data must be passed over wherever it stands, or its bytes would read as RTF.
        skipBinary(hasParam ? param : 0);
        if (FSkipFallback > 0)
            --FSkipFallback;
        return;
    }
    if (FOverflow > 0 || FStack.empty())
        return;
    if (name.size() > kMaxWordLength) {
        FIgnorable = false;
        return;
    }
    handleWord(name, hasParam, param);
}

void TRtfParser::skipBinary(int count)
{
    if (count <= 0)
        return;
    FPos += std::min<qint64>(count, FEnd - FPos);
}

void TRtfParser::handleByte(unsigned char byte)
{
    FIgnorable = false;
    if (FSkipFallback > 0) {
        --FSkipFallback;
        return;
    }
    if (textual())
        FPending.append(char(byte));
}

void TRtfParser::handleSymbol(char symbol)
{
    FIgnorable = false;
    if (FSkipFallback > 0) {
        --FSkipFallback;
        return;
    }
    if (symbol == '*') {
        FIgnorable = true;
        return;
    }
    if (!textual())
        return;
    switch (symbol) {
        case '\\':
        case '{':
        case '}':
            // Kept with the pending bytes: in a double-byte code page they can be the second
            // byte of a character.
            FPending.append(symbol);
            return;
        case '~':
            flush();
            emitCharacter(u'\u00A0');
            return;
        case '_':
            flush();
            emitCharacter(u'\u2011');
            return;
        case '\t':
            flush();
            emitCharacter(u'\t');
            return;
        case '\r':
        case '\n':
            flush();
            if (FStack.back().dest == TDest::Text)
                paragraphBreak();
            return;
        default:
            return;  // \- (optional hyphen), \: and \| show nothing
    }
}

void TRtfParser::handleWord(std::string_view name, bool hasParam, int param)
{
    const bool ignorable = std::exchange(FIgnorable, false);
    if (FSkipFallback > 0) {
        --FSkipFallback;
        return;
    }
    const TWordTable& words = Words();
    const auto found = words.find(name);
    const TWordInfo info = found == words.end() ? TWordInfo{TWord::Unknown} : found->second;
    flush();
    TState& state = FStack.back();
    if (state.dest == TDest::Skip)
        return;
    if (state.dest == TDest::Upr) {
        if (info.word == TWord::Ud)
            state.dest = state.uprOuter;
        return;
    }
    const bool on = !hasParam || param != 0;
    switch (info.word) {
        case TWord::Unknown:
            if (ignorable)
                state.dest = TDest::Skip;
            return;
        case TWord::SkipDestination:
            state.dest = TDest::Skip;
            return;
        case TWord::Nothing:
            return;
        case TWord::Character:
            if (textual())
                emitCharacter(info.character);
            return;
        case TWord::Par:
            if (state.dest == TDest::Text)
                paragraphBreak();
            return;
        case TWord::Line:
            if (state.dest == TDest::Text)
                emitCharacter(u'\n');
            return;
        case TWord::Tab:
            if (textual())
                emitCharacter(state.dest == TDest::FieldInstruction ? u' ' : u'\t');
            return;
        case TWord::Cell:
            if (state.dest == TDest::Text)
                emitCharacter(u'\t');
            return;
        case TWord::Row:
            if (state.dest == TDest::Text) {
                // The cells of a row read as one line; the last cell needs no separator.
                TRtfParagraph& para = FDoc.paragraphs.back();
                if (!para.runs.isEmpty() && para.runs.back().text.endsWith(u'\t')) {
                    para.runs.back().text.chop(1);
                    if (para.runs.back().text.isEmpty())
                        para.runs.removeLast();
                }
                paragraphBreak();
            }
            return;
        case TWord::Pard:
            state.para = TParaFormat();
            return;
        case TWord::Plain:
            state.format = TRtfCharFormat();
            state.hidden = false;
            state.font = FDefaultFont;
            return;
        case TWord::Bold:
            state.format.bold = on;
            return;
        case TWord::Italic:
            state.format.italic = on;
            return;
        case TWord::Underline:
            state.format.underline = on;
            return;
        case TWord::UnderlineNone:
            state.format.underline = false;
            return;
        case TWord::Strike:
            state.format.strike = on;
            return;
        case TWord::Hidden:
            state.hidden = on;
            return;
        case TWord::Super:
            state.format.vertical = TRtfCharFormat::TVertical::Super;
            return;
        case TWord::Sub:
            state.format.vertical = TRtfCharFormat::TVertical::Sub;
            return;
        case TWord::NoSuperSub:
            state.format.vertical = TRtfCharFormat::TVertical::Normal;
            return;
        case TWord::FontSize:
            state.format.fontSize = hasParam ? std::clamp(param, 0, kMaxFontSize) : 0;
            return;
        case TWord::Color:
            state.format.color = colorAt(hasParam ? param : 0);
            return;
        case TWord::BackColor:
            state.format.backColor = hasParam && param > 0 ? colorAt(param) : -1;
            return;
        case TWord::Font:
            if (state.dest == TDest::FontTable) {
                FDefiningFont = param;
                FFonts.insert(param, TFont());
            } else {
                state.font = param;
            }
            return;
        case TWord::DefaultFont:
            FDefaultFont = param;
            state.font = param;
            return;
        case TWord::Ansi:
            FAnsiCodePage = kRtfAnsiCodePage;
            return;
        case TWord::Mac:
            FAnsiCodePage = 10000;
            return;
        case TWord::Pc:
            FAnsiCodePage = 437;
            return;
        case TWord::Pca:
            FAnsiCodePage = 850;
            return;
        case TWord::AnsiCodePage:
            FAnsiCodePage = param > 0 ? param : kRtfAnsiCodePage;
            return;
        case TWord::Charset:
            if (state.dest == TDest::FontTable && FFonts.contains(FDefiningFont))
                FFonts[FDefiningFont].charsetPage = CodePageOfCharset(param);
            return;
        case TWord::CodePage:
            if (state.dest == TDest::FontTable && FFonts.contains(FDefiningFont))
                FFonts[FDefiningFont].codePage = std::max(param, 0);
            return;
        case TWord::UnicodeSkip:
            state.uc = std::max(param, 0);
            return;
        case TWord::Unicode:
            if (textual())
                emitUnicode(param);
            FSkipFallback = state.uc;
            return;
        case TWord::AlignLeft:
            state.para.alignment = TRtfAlignment::Left;
            return;
        case TWord::AlignCenter:
            state.para.alignment = TRtfAlignment::Center;
            return;
        case TWord::AlignRight:
            state.para.alignment = TRtfAlignment::Right;
            return;
        case TWord::AlignJustify:
            state.para.alignment = TRtfAlignment::Justify;
            return;
        case TWord::SpaceBefore:
            state.para.spaceBefore = std::clamp(param, 0, 31680);  // 22 inches, Word's limit
            return;
        case TWord::SpaceAfter:
            state.para.spaceAfter = std::clamp(param, 0, 31680);
            return;
        case TWord::ListOverride:
            state.para.inList = param > 0;
            return;
        case TWord::ListLevel:
            state.para.listLevel = std::clamp(param, 0, kMaxListLevel);
            return;
        case TWord::Field:
            if (state.dest != TDest::Text && state.dest != TDest::FieldInstruction)
                return;
            // One field per group: a repeated \field starts it over instead of stacking up.
            if (!FFields.empty() && FFields.back().depth == qsizetype(FStack.size()))
                FFields.back() = TField();
            else
                FFields.push_back(TField());
            FFields.back().depth = qsizetype(FStack.size());
            return;
        case TWord::FieldInstruction:
            state.dest = FFields.empty() ? TDest::Skip : TDest::FieldInstruction;
            return;
        case TWord::FieldResult:
            if (!FFields.empty()) {
                TField& field = FFields.back();
                if (!field.resolved) {
                    field.resolved = true;
                    const QString target = HyperlinkTarget(field.instruction);
                    if (!target.isEmpty()) {
                        field.link = int(FLinks.size());
                        FLinks.append(target);
                    }
                }
                if (field.link >= 0)
                    state.link = field.link;
            }
            return;
        case TWord::FontTable:
            state.dest = TDest::FontTable;
            return;
        case TWord::ColorTable:
            state.dest = TDest::ColorTable;
            FColors.clear();
            FRed = FGreen = FBlue = -1;
            return;
        case TWord::Red:
            if (state.dest == TDest::ColorTable)
                FRed = std::clamp(param, 0, 255);
            return;
        case TWord::Green:
            if (state.dest == TDest::ColorTable)
                FGreen = std::clamp(param, 0, 255);
            return;
        case TWord::Blue:
            if (state.dest == TDest::ColorTable)
                FBlue = std::clamp(param, 0, 255);
            return;
        case TWord::ListText:
            state.dest = TDest::ListText;
            FMarker.clear();
            return;
        case TWord::ListDefinition:
            state.dest = TDest::ListDefinition;
            return;
        case TWord::BulletLevel:
            if (state.dest == TDest::ListDefinition)
                state.para.list = TRtfListKind::Bullet;
            return;
        case TWord::NumberLevel:
            if (state.dest == TDest::ListDefinition && state.para.list != TRtfListKind::Bullet)
                state.para.list = TRtfListKind::Numbered;
            return;
        case TWord::Upr:
            state.uprOuter = state.dest;
            state.dest = TDest::Upr;
            return;
        case TWord::Ud:
            return;  // outside \upr its content is ordinary text
    }
}

int TRtfParser::currentCodePage() const
{
    const TState& state = FStack.back();
    const auto font = FFonts.constFind(state.font);
    if (font != FFonts.constEnd()) {
        if (font->codePage > 0)
            return font->codePage;
        if (font->charsetPage > 0)
            return font->charsetPage;
    }
    return FAnsiCodePage;
}

qint32 TRtfParser::colorAt(int index) const
{
    return index >= 0 && index < FColors.size() ? FColors[index] : -1;
}

void TRtfParser::flush()
{
    if (FPending.isEmpty())
        return;
    FDecoded.clear();
    FDecoder.decode(currentCodePage(), FPending, FDecoded);
    FPending.clear();
    if (!FDecoded.isEmpty())
        emitText(FDecoded);
}

void TRtfParser::emitUnicode(int value)
{
    if (value < 0)
        value += 65536;  // RTF writes 16-bit values signed
    if (value < 0 || value > 0x10FFFF) {
        emitCharacter(u'\uFFFD');
        return;
    }
    if (value > 0xFFFF) {
        // Not how RTF writes such a character, but unambiguous where a writer does it.
        const char32_t codePoint = char32_t(value);
        const QString text = QString::fromUcs4(&codePoint, 1);
        emitText(text);
        return;
    }
    const char16_t unit = char16_t(value);
    if (QChar::isHighSurrogate(unit)) {
        resolveSurrogate();
        FHighSurrogate = unit;
        return;
    }
    if (QChar::isLowSurrogate(unit)) {
        if (!FHighSurrogate) {
            emitCharacter(u'\uFFFD');
            return;
        }
        const char16_t pair[2] = {FHighSurrogate, unit};
        FHighSurrogate = 0;
        emitText(QStringView(pair, 2));
        return;
    }
    if (unit == u'\t' || unit >= 0x20)
        emitCharacter(unit);
}

// A high surrogate that no low one followed is no character.
void TRtfParser::resolveSurrogate()
{
    if (!FHighSurrogate)
        return;
    FHighSurrogate = 0;
    emitCharacter(u'\uFFFD');
}

void TRtfParser::emitText(QStringView text)
{
    resolveSurrogate();
    const TState& state = FStack.back();
    switch (state.dest) {
        case TDest::Text: {
            if (state.hidden)
                return;
            TRtfParagraph& para = FDoc.paragraphs.back();
            if (!para.runs.isEmpty() && FLastRunLink == state.link &&
                para.runs.back().format == state.format) {
                para.runs.back().text.append(text);
                return;
            }
            TRtfRun run;
            run.text = text.toString();
            run.format = state.format;
            if (state.link >= 0)
                run.link = FLinks[state.link];
            para.runs.append(std::move(run));
            FLastRunLink = state.link;
            return;
        }
        case TDest::FieldInstruction:
            if (!FFields.empty())
                FFields.back().instruction.append(text);
            return;
        case TDest::ListText:
            if (FMarker.size() < kMaxMarkerLength)
                FMarker.append(text.left(kMaxMarkerLength - FMarker.size()));
            return;
        default:
            return;
    }
}

void TRtfParser::finishParagraph()
{
    TRtfParagraph& para = FDoc.paragraphs.back();
    const TParaFormat& format = FStack.back().para;
    para.alignment = format.alignment;
    para.spaceBefore = format.spaceBefore;
    para.spaceAfter = format.spaceAfter;
    const QString marker = FMarker.simplified();
    FMarker.clear();
    TRtfListKind kind = format.list;
    if (kind == TRtfListKind::None && (format.inList || !marker.isEmpty()))
        kind = IsBulletMarker(marker) ? TRtfListKind::Bullet : TRtfListKind::Numbered;
    para.list = kind;
    if (kind != TRtfListKind::None)
        para.listLevel = format.listLevel;
    if (kind == TRtfListKind::Numbered)
        para.marker = marker;
}

void TRtfParser::paragraphBreak()
{
    resolveSurrogate();
    finishParagraph();
    FDoc.paragraphs.append(TRtfParagraph());
}

void TRtfParser::finish()
{
    if (!FStack.empty()) {
        flush();
        resolveSurrogate();
        finishParagraph();
    }
    // The mark of the last paragraph is the control's own: a final \par adds no empty one.
    if (!FDoc.paragraphs.isEmpty() && FDoc.paragraphs.back().isEmpty())
        FDoc.paragraphs.removeLast();
}

}  // namespace

TRtfDocument ParseRtf(QByteArrayView rtf)
{
    return TRtfParser(rtf).run();
}

}  // namespace platform
