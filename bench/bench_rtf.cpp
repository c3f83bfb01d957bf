// RTF reader throughput: parsing a large Word-like document (MB/s), and the plain-text and HTML
// conversions of a release note of typical size (microseconds each).
#include "core/platform/rtf/RtfParser.h"
#include "core/platform/rtf/RtfReader.h"

#include <benchmark/benchmark.h>

namespace {

const QByteArray kHeader =
    "{\\rtf1\\ansi\\ansicpg1252\\uc1\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 "
    "Calibri;}{\\f1\\froman\\fcharset2 "
    "Symbol;}{\\f2\\fswiss\\fcharset238 Calibri "
    "CE;}}\n{\\colortbl;\\red0\\green0\\blue0;\\red5\\green99\\blue193;}\n"
    "{\\stylesheet{\\ql \\f0\\fs22 Normal;}{\\*\\cs15 \\ul\\cf2 Hyperlink;}}\n"
    "{\\info{\\title Versionshinweise}{\\author Vorlandt Entwicklung}}\n";

// One section of a release note as Word writes it: heading, paragraphs with escapes and
// Unicode, a bulleted list, a link and a small picture.
const QByteArray kSection =
    "\\pard\\plain \\ltrpar\\s1\\sb240\\sa60\\keepn \\rtlch\\fcs1 \\ab\\af0 \\ltrch\\fcs0 \\b\\f0\\fs32 "
    "{\\insrsid6029 Vorlandt Kasse 7.1}\\par\n"
    "\\pard\\plain \\ltrpar\\ql \\sa160\\sl259\\slmult1 \\f0\\fs22 {\\insrsid6029 Diese Version bringt "
    "folgende "
    "\\'c4nderungen f\\'fcr Filialen und Zentrale: schnellere Abschl\\'fcsse, gr\\'f6\\'dfere Belege und "
    "\\u8364\\'80 "
    "als W\\'e4hrungszeichen in allen Berichten.}\\par\n"
    "{\\listtext\\pard\\plain \\f1\\fs22 \\'b7\\tab}\\pard\\plain \\s20\\fi-360\\li720\\sa160\\ls1 "
    "\\f0\\fs22 "
    "{\\insrsid6029 Kassenbons mit QR-Code und \\i kursivem\\i0  Hinweis}\\par\n"
    "{\\listtext\\pard\\plain \\f1\\fs22 \\'b7\\tab}{\\insrsid6029 Polnische Filialen: \\f2 Zak\\'b3ad "
    "\\'a3\\'f3d\\'9f\\f0 "
    "}\\par\n"
    "\\pard\\plain \\ql \\sa160 \\f0\\fs22 {Mehr unter }{\\field{\\*\\fldinst {HYPERLINK "
    "\"https://www.vorlandt.example/kasse/neu?v=7.1\" }}{\\fldrslt {\\cs15\\ul\\cf2 "
    "Versionshinweise}}}{.}\\par\n"
    "{\\*\\shppict{\\pict\\pngblip\\picw16\\pich16 89504e470d0a1a0a0000000d494844520000001000000010080600000"
    "01ff3ff610000000467414d410000b18f0bfc6105}}\\par\n";

QByteArray Document(qsizetype targetSize)
{
    QByteArray rtf = kHeader;
    while (rtf.size() < targetSize)
        rtf += kSection;
    rtf += '}';
    return rtf;
}

void BM_ParseLargeDocument(benchmark::State& state)
{
    const QByteArray rtf = Document(5 * 1024 * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::ParseRtf(rtf));
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_ParseLargeDocument)->Unit(benchmark::kMillisecond);

void BM_HtmlOfLargeDocument(benchmark::State& state)
{
    const QByteArray rtf = Document(5 * 1024 * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::RtfToHtml(rtf));
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_HtmlOfLargeDocument)->Unit(benchmark::kMillisecond);

void BM_ReleaseNotePlainText(benchmark::State& state)
{
    const QByteArray rtf = Document(5 * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::RtfToPlainText(rtf));
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_ReleaseNotePlainText)->Unit(benchmark::kMicrosecond);

void BM_ReleaseNoteHtml(benchmark::State& state)
{
    const QByteArray rtf = Document(5 * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::RtfToHtml(rtf));
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_ReleaseNoteHtml)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
