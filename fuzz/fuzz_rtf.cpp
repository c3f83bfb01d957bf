// libFuzzer entry for the RTF reader: any bytes must give both renderings without a crash, and
// nothing of the input may reach the HTML as markup.
#include "core/platform/rtf/RtfReader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = platform::RtfToPlainText(bytes);
    platform::TRtfHtmlOptions options;
    options.detectLinks = (size & 1) != 0;
    const QString html = platform::RtfToHtml(bytes, options);
    // Every character of the plain text comes from at least one byte of RTF; plain-text input
    // may grow by the CR of each line end.
    if (text.size() > 2 * qsizetype(size))
        std::abort();
    // The writer only ever emits these tags; anything else came from the input unescaped.
    for (qsizetype i = html.indexOf(u'<'); i >= 0; i = html.indexOf(u'<', i + 1)) {
        const QStringView tag = QStringView(html).mid(i + 1, 6);
        bool known = false;
        for (QStringView name :
             {u"p ",    u"/p>",  u"ul ",   u"/ul>",  u"li ",    u"/li>",   u"br />", u"b>",
              u"/b>",   u"i>",   u"/i>",   u"u>",    u"/u>",    u"s>",     u"/s>",   u"sup>",
              u"/sup>", u"sub>", u"/sub>", u"span ", u"/span>", u"a href", u"/a>"}) {
            if (tag.startsWith(name)) {
                known = true;
                break;
            }
        }
        if (!known)
            std::abort();
    }
    // ConvertRTFToText takes the same bytes as the descriptor's text.
    ConvertRTFToText(QString::fromLatin1(bytes));
    return 0;
}
