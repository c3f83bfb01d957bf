// Character sets to code pages, and byte decoding through per-page tables or converters.
#include "core/platform/rtf/RtfCodePage.h"

#include "core/platform/text/CodePageDecoder.h"
#include "core/platform/text/TextCodec.h"

#include <array>
#include <mutex>

namespace platform {

namespace {

// 0 in a table: the byte yields no character (a control character).
using TByteTable = std::array<char16_t, 256>;

bool IsDroppedControl(char16_t c)
{
    return (c < 0x20 && c != u'\t') || (c >= 0x7F && c < 0xA0);
}

// Pages nobody can decode here collapse onto Windows-1252 before any cache sees them, so that
// no input can grow a cache with made-up page numbers.
int Supported(int codePage)
{
    if (codePage == kRtfSymbolCodePage || codePage == kRtfAnsiCodePage)
        return codePage;
    return KnownCodePage(codePage) ? codePage : kRtfAnsiCodePage;
}

bool IsMultiByte(int codePage)
{
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 || codePage == 65001;
}

TByteTable MakeWindows1252Table()
{
    QByteArray all(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b)
        all[b] = static_cast<char>(b);
    const QString text = DecodeWindows1252(all);
    TByteTable table{};
    for (int b = 0; b < 256; ++b) {
        const char16_t c = text.at(b).unicode();
        table[b] = IsDroppedControl(c) ? 0 : c;
    }
    return table;
}

// Each byte on its own: a single-byte page has no state between bytes.
TByteTable MakeConverterTable(TCodePageDecoder& decoder)
{
    TByteTable table{};
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        const QString text = decoder.decode(QByteArrayView(&byte, 1));
        char16_t c = text.size() == 1 ? text.at(0).unicode() : u'\uFFFD';
        table[b] = IsDroppedControl(c) ? 0 : c;
    }
    return table;
}

// Symbol fonts number their glyphs; the one glyph that matters for text is the bullet that
// list markers are written with. The rest reads as Windows-1252 rather than as nothing.
TByteTable MakeSymbolTable()
{
    TByteTable table = MakeWindows1252Table();
    table[0xB7] = u'\u2022';
    return table;
}

// Tables live for the whole process: built once per page on first use, never changed after.
const TByteTable& TableFor(int codePage)
{
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<const TByteTable>> tables;
    const std::lock_guard<std::mutex> lock(mutex);
    auto found = tables.find(codePage);
    if (found != tables.end())
        return *found->second;
    TByteTable table;
    TCodePageDecoder decoder(codePage);
    if (codePage == kRtfSymbolCodePage)
        table = MakeSymbolTable();
    else if (codePage != kRtfAnsiCodePage && decoder.isValid())
        table = MakeConverterTable(decoder);
    else
        table = MakeWindows1252Table();
    return *tables.emplace(codePage, std::make_unique<const TByteTable>(table)).first->second;
}

}  // namespace

int CodePageOfCharset(int charset)
{
    switch (charset) {
        case 2:
            return kRtfSymbolCodePage;
        case 77:
            return 10000;
        case 128:
            return 932;
        case 129:
            return 949;
        case 134:
            return 936;
        case 136:
            return 950;
        case 161:
            return 1253;
        case 162:
            return 1254;
        case 163:
            return 1258;
        case 177:
            return 1255;
        case 178:
            return 1256;
        case 186:
            return 1257;
        case 204:
            return 1251;
        case 222:
            return 874;
        case 238:
            return 1250;
        case 254:
            return 437;
        case 255:
            return 850;
        default:
            return 0;
    }
}

TRtfTextDecoder::TRtfTextDecoder() = default;
TRtfTextDecoder::~TRtfTextDecoder() = default;

TCodePageDecoder* TRtfTextDecoder::converter(int codePage)
{
    auto found = FConverters.find(codePage);
    if (found == FConverters.end()) {
        auto decoder = std::make_unique<TCodePageDecoder>(codePage);
        if (!decoder->isValid())
            decoder.reset();
        found = FConverters.emplace(codePage, std::move(decoder)).first;
    }
    return found->second.get();
}

void TRtfTextDecoder::decode(int codePage, QByteArrayView bytes, QString& out)
{
    if (bytes.isEmpty())
        return;
    codePage = Supported(codePage);
    if (IsMultiByte(codePage)) {
        if (TCodePageDecoder* decoder = converter(codePage)) {
            // Each run stands alone: a lead byte cut off by a format change must not swallow
            // the first byte of the next run.
            const QString text = decoder->decode(bytes);
            out.reserve(out.size() + text.size());
            for (QChar c : text) {
                if (!IsDroppedControl(c.unicode()))
                    out.append(c);
            }
            return;
        }
        codePage = kRtfAnsiCodePage;
    }
    if (!FTable || FTablePage != codePage) {
        FTable = &TableFor(codePage);
        FTablePage = codePage;
    }
    const TByteTable& table = *static_cast<const TByteTable*>(FTable);
    const qsizetype start = out.size();
    out.resize(start + bytes.size());
    char16_t* dest = reinterpret_cast<char16_t*>(out.data()) + start;
    for (const char byte : bytes) {
        const char16_t c = table[static_cast<unsigned char>(byte)];
        if (c)
            *dest++ = c;
    }
    out.truncate(dest - reinterpret_cast<const char16_t*>(out.constData()));
}

}  // namespace platform
