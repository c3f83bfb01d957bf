// HTML writer for the document model. Paragraph spacing is written out because a text
// browser's own <p> margins would space every paragraph; white-space:pre-wrap keeps the blanks
// and tabs of the text as the rich-text control shows them, which is also why no line end
// stands between the blocks (it would show as a blank).
#include "core/platform/rtf/RtfHtml.h"

#include <array>

namespace platform {

namespace {

constexpr int kTwipsPerPixel = 15;  // at 96 dots per inch

void AppendEscaped(QString& html, QStringView text)
{
    for (QChar c : text) {
        switch (c.unicode()) {
            case u'&':
                html += u"&amp;";
                break;
            case u'<':
                html += u"&lt;";
                break;
            case u'>':
                html += u"&gt;";
                break;
            case u'"':
                html += u"&quot;";
                break;
            case u'\'':
                html += u"&#39;";
                break;
            case u'\t':
                html += u"&#9;";
                break;
            case u'\n':
                html += u"<br />";
                break;
            default:
                if (c.unicode() >= 0x20)
                    html += c;
                break;
        }
    }
}

QString ColorText(qint32 rgb)
{
    return QStringLiteral("#%1").arg(rgb & 0xFFFFFF, 6, 16, QLatin1Char('0'));
}

QString FontSizeText(int halfPoints)
{
    return halfPoints % 2 ? QStringLiteral("%1.5pt").arg(halfPoints / 2)
                          : QStringLiteral("%1pt").arg(halfPoints / 2);
}

// Where an address written as text starts; "www." addresses are opened as http.
constexpr std::array<QStringView, 6> kDetectedPrefixes = {
    u"http://", u"https://", u"ftp://", u"file://", u"mailto:", u"www.",
};

bool EndsAddress(QChar c)
{
    return c.isSpace() || c == u'<' || c == u'>' || c == u'"' || c.unicode() < 0x20;
}

bool IsTrailingPunctuation(QChar c)
{
    return c == u'.' || c == u',' || c == u';' || c == u':' || c == u'!' || c == u'?' || c == u')' ||
           c == u']' || c == u'}' || c == u'\'';
}

// Length of a link address written as text at the start of text; 0 when there is none.
qsizetype DetectedAddressLength(QStringView text)
{
    for (QStringView prefix : kDetectedPrefixes) {
        if (!text.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        qsizetype end = prefix.size();
        while (end < text.size() && !EndsAddress(text[end]))
            ++end;
        while (end > prefix.size() && IsTrailingPunctuation(text[end - 1]))
            --end;
        return end > prefix.size() ? end : 0;
    }
    return 0;
}

bool MayStartAddress(QChar c)
{
    const char16_t lower = c.toLower().unicode();
    return lower == u'h' || lower == u'f' || lower == u'm' || lower == u'w';
}

void AppendLink(QString& html, const QString& href, QStringView text)
{
    html += u"<a href=\"";
    AppendEscaped(html, href);
    html += u"\">";
    AppendEscaped(html, text);
    html += u"</a>";
}

void AppendWithDetectedLinks(QString& html, QStringView text)
{
    qsizetype done = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!MayStartAddress(text[i]) || (i > 0 && text[i - 1].isLetterOrNumber()))
            continue;
        const qsizetype length = DetectedAddressLength(text.mid(i));
        if (length == 0)
            continue;
        const QStringView address = text.mid(i, length);
        const QString href = SafeLinkTarget(address.toString());
        if (href.isEmpty())
            continue;
        AppendEscaped(html, text.mid(done, i - done));
        AppendLink(html, href, address);
        done = i + length;
        i = done - 1;
    }
    AppendEscaped(html, text.mid(done));
}

void AppendRun(QString& html, const TRtfRun& run, bool detectLinks)
{
    const TRtfCharFormat& f = run.format;
    QString style;
    if (f.fontSize > 0)
        style += QStringLiteral("font-size:%1;").arg(FontSizeText(f.fontSize));
    if (f.color >= 0)
        style += QStringLiteral("color:%1;").arg(ColorText(f.color));
    if (f.backColor >= 0)
        style += QStringLiteral("background-color:%1;").arg(ColorText(f.backColor));
    if (!style.isEmpty())
        html += QStringLiteral("<span style=\"%1\">").arg(style);
    if (f.bold)
        html += u"<b>";
    if (f.italic)
        html += u"<i>";
    if (f.underline)
        html += u"<u>";
    if (f.strike)
        html += u"<s>";
    if (f.vertical == TRtfCharFormat::TVertical::Super)
        html += u"<sup>";
    else if (f.vertical == TRtfCharFormat::TVertical::Sub)
        html += u"<sub>";
    if (detectLinks)
        AppendWithDetectedLinks(html, run.text);
    else
        AppendEscaped(html, run.text);
    if (f.vertical == TRtfCharFormat::TVertical::Super)
        html += u"</sup>";
    else if (f.vertical == TRtfCharFormat::TVertical::Sub)
        html += u"</sub>";
    if (f.strike)
        html += u"</s>";
    if (f.underline)
        html += u"</u>";
    if (f.italic)
        html += u"</i>";
    if (f.bold)
        html += u"</b>";
    if (!style.isEmpty())
        html += u"</span>";
}

void AppendRuns(QString& html, const TRtfParagraph& para, const TRtfHtmlOptions& options)
{
    QString openHref;
    for (const TRtfRun& run : para.runs) {
        const QString href = run.link.isEmpty() ? QString() : SafeLinkTarget(run.link);
        if (href != openHref) {
            if (!openHref.isEmpty())
                html += u"</a>";
            if (!href.isEmpty()) {
                html += u"<a href=\"";
                AppendEscaped(html, href);
                html += u"\">";
            }
            openHref = href;
        }
        AppendRun(html, run, options.detectLinks && href.isEmpty());
    }
    if (!openHref.isEmpty())
        html += u"</a>";
}

// An empty paragraph needs the browser's own marker and a line break, or it vanishes.
bool IsBlank(const TRtfParagraph& para)
{
    return para.runs.isEmpty() && (para.list != TRtfListKind::Numbered || para.marker.isEmpty());
}

QString BlockAttributes(const TRtfParagraph& para)
{
    QString attributes;
    switch (para.alignment) {
        case TRtfAlignment::Left:
            break;
        case TRtfAlignment::Center:
            attributes += u" align=\"center\"";
            break;
        case TRtfAlignment::Right:
            attributes += u" align=\"right\"";
            break;
        case TRtfAlignment::Justify:
            attributes += u" align=\"justify\"";
            break;
    }
    attributes += QStringLiteral(" style=\"margin-top:%1px; margin-bottom:%2px; ")
                      .arg(para.spaceBefore / kTwipsPerPixel)
                      .arg(para.spaceAfter / kTwipsPerPixel);
    if (para.list == TRtfListKind::Numbered)
        attributes += QStringLiteral("margin-left:%1px; ").arg(24 * (para.listLevel + 1));
    if (IsBlank(para))
        attributes += u"-qt-paragraph-type:empty; ";
    attributes += u"white-space:pre-wrap;\"";
    return attributes;
}

}  // namespace

QString SafeLinkTarget(const QString& target)
{
    const QString address = target.trimmed();
    for (QChar c : address) {
        if (c.unicode() < 0x20)
            return QString();
    }
    if (address.startsWith(u"www.", Qt::CaseInsensitive))
        return QStringLiteral("http://") + address;
    const qsizetype colon = address.indexOf(u':');
    if (colon <= 0)
        return QString();
    const QStringView scheme = QStringView(address).left(colon);
    for (QStringView allowed : {u"http", u"https", u"ftp", u"mailto", u"file"}) {
        if (scheme.compare(allowed, Qt::CaseInsensitive) == 0)
            return address;
    }
    return QString();
}

QString RtfDocumentToHtml(const TRtfDocument& document, const TRtfHtmlOptions& options)
{
    QString html;
    int openListLevel = -1;  // the level of the open <ul>; -1 when none is open
    for (const TRtfParagraph& para : document.paragraphs) {
        const bool bullet = para.list == TRtfListKind::Bullet;
        if (openListLevel >= 0 && (!bullet || para.listLevel != openListLevel)) {
            html += u"</ul>";
            openListLevel = -1;
        }
        if (bullet && openListLevel < 0) {
            html += QStringLiteral("<ul style=\"margin-top:0px; margin-bottom:0px; -qt-list-indent:%1;\">")
                        .arg(para.listLevel + 1);
            openListLevel = para.listLevel;
        }
        const QStringView tag = bullet ? u"li" : u"p";
        html += u'<';
        html += tag;
        html += BlockAttributes(para);
        html += u'>';
        if (para.list == TRtfListKind::Numbered && !para.marker.isEmpty()) {
            AppendEscaped(html, para.marker);
            html += u' ';
        }
        AppendRuns(html, para, options);
        if (IsBlank(para))
            html += u"<br />";
        html += u"</";
        html += tag;
        html += u'>';
    }
    if (openListLevel >= 0)
        html += u"</ul>";
    return html;
}

}  // namespace platform
