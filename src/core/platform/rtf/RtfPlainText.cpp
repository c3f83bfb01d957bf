// Paragraphs joined with CR LF. A line break (\line) also becomes CR LF rather than the vertical
// tab or lone CR a rich-text control would return, since every reader of these texts (log files,
// the installer) splits lines at CR LF.
#include "core/platform/rtf/RtfPlainText.h"

namespace platform {

QString RtfDocumentToPlainText(const TRtfDocument& document, const TRtfTextOptions& options)
{
    QString text;
    bool first = true;
    for (const TRtfParagraph& para : document.paragraphs) {
        if (!first)
            text += u"\r\n";
        first = false;
        if (options.listMarkers) {
            if (para.list == TRtfListKind::Bullet)
                text += u"\u2022 ";
            else if (para.list == TRtfListKind::Numbered && !para.marker.isEmpty())
                text += para.marker + u' ';
        }
        for (const TRtfRun& run : para.runs) {
            if (!run.text.contains(u'\n')) {
                text += run.text;
                continue;
            }
            for (QChar c : run.text) {
                if (c == u'\n')
                    text += u"\r\n";
                else
                    text += c;
            }
        }
    }
    return text;
}

}  // namespace platform
