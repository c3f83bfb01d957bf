// Code pages through ICU's converters, by the names QStringDecoder knows them.
#include "core/platform/text/CodePageDecoder.h"

#include <QStringDecoder>

#include <algorithm>

namespace platform {

namespace {

const char* ConverterName(int codePage)
{
    switch (codePage) {
        case 437:
            return "IBM437";
        case 850:
            return "IBM850";
        case 852:
            return "IBM852";
        case 866:
            return "IBM866";
        case 874:
            return "windows-874";
        case 932:
            return "windows-31j";
        case 936:
            return "windows-936";
        case 949:
            return "windows-949";
        case 950:
            return "windows-950";
        case 1250:
            return "windows-1250";
        case 1251:
            return "windows-1251";
        case 1253:
            return "windows-1253";
        case 1254:
            return "windows-1254";
        case 1255:
            return "windows-1255";
        case 1256:
            return "windows-1256";
        case 1257:
            return "windows-1257";
        case 1258:
            return "windows-1258";
        case 10000:
            return "macintosh";
        case 65001:
            return "UTF-8";
        default:
            return nullptr;
    }
}

}  // namespace

bool KnownCodePage(int codePage)
{
    return std::find(kDecodedCodePages.begin(), kDecodedCodePages.end(), codePage) != kDecodedCodePages.end();
}

struct TCodePageDecoder::TState {
    QStringDecoder decoder;
};

TCodePageDecoder::TCodePageDecoder(int codePage)
    : FState(ConverterName(codePage) ? std::make_unique<TState>(TState{QStringDecoder(ConverterName(codePage))})
                                     : nullptr)
{
}

TCodePageDecoder::~TCodePageDecoder() = default;

bool TCodePageDecoder::isValid() const
{
    return FState && FState->decoder.isValid();
}

QString TCodePageDecoder::decode(QByteArrayView bytes)
{
    if (!isValid())
        return QString();
    FState->decoder.resetState();
    return FState->decoder.decode(bytes);
}

}  // namespace platform
