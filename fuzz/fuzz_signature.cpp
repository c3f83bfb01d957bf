// libFuzzer entry for signature files and key lists: any bytes give a result and never a good
// one, and whatever decodes as a signature decodes to exactly 64 bytes.
#include "core/platform/Ed25519.h"
#include "core/sources/SignatureCheck.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto signature = platform::DecodeSignatureFile(bytes)) {
        if (signature->size() != platform::Ed25519SignatureSize)
            std::abort();
    }
    // A fixed key (all-zero seed), so that a random signature file cannot verify.
    static const TSignatureCheck Check =
        TSignatureCheck::FromKeyText(QStringLiteral("O2onvM62pC1io6jQKm8Nc2UyFXcd4kOmOsBIoYtZ2ik="));
    if (Check.KeyCount() != 1 || Check.Check("<modul/>", bytes) == TSignatureCheck::Result::Good)
        std::abort();
    // The same bytes as a key list: entries are keys or named as bad, nothing is lost.
    const TSignatureCheck fromText = TSignatureCheck::FromKeyText(QString::fromUtf8(bytes));
    if (fromText.Enabled() != (fromText.KeyCount() + fromText.BadEntries().size() > 0))
        std::abort();
    return 0;
}
