// Code pages through Windows' own tables (MultiByteToWideChar).
#include "core/platform/text/CodePageDecoder.h"

#include "core/platform/WinApi.h"

#include <algorithm>

namespace platform {

bool KnownCodePage(int codePage)
{
    return std::find(kDecodedCodePages.begin(), kDecodedCodePages.end(), codePage) != kDecodedCodePages.end();
}

struct TCodePageDecoder::TState {
    UINT codePage = 0;
};

TCodePageDecoder::TCodePageDecoder(int codePage)
    : FState(KnownCodePage(codePage) && ::IsValidCodePage(UINT(codePage))
                 ? std::make_unique<TState>(TState{UINT(codePage)})
                 : nullptr)
{
}

TCodePageDecoder::~TCodePageDecoder() = default;

bool TCodePageDecoder::isValid() const
{
    return FState != nullptr;
}

QString TCodePageDecoder::decode(QByteArrayView bytes)
{
    if (!FState || bytes.isEmpty() || bytes.size() > 0x7FFFFFFF)
        return QString();
    // Without MB_ERR_INVALID_CHARS bytes the page does not define become the page's default
    // character rather than failing the whole run.
    const int length = ::MultiByteToWideChar(FState->codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    QString text(length, Qt::Uninitialized);
    if (length > 0)
        ::MultiByteToWideChar(FState->codePage, 0, bytes.data(), int(bytes.size()),
                              reinterpret_cast<wchar_t*>(text.data()), length);
    return text;
}

}  // namespace platform
