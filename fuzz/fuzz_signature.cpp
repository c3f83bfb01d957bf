// libFuzzer entry for signature files and key lists: any bytes give a result and never a good
// one, whatever parses as a signature file holds exactly 64 signature bytes and has one spelling
// (it writes back as the same line), and the bytes as a key list lose no entry.
#include "core/platform/crypto/Ed25519.h"
#include "core/sources/SignatureCheck.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const std::optional<TSignatureFile> parsed = TSignatureFile::Parse(bytes)) {
        if (parsed->Signature.size() != platform::Ed25519SignatureSize)
            std::abort();
        QByteArray line = bytes;
        while (!line.isEmpty() &&
               (line.back() == ' ' || line.back() == '\t' || line.back() == '\r' || line.back() == '\n'))
            line.chop(1);
        if (parsed->Text() != line + '\n')
            std::abort();
    }
    // A fixed key (all-zero seed), so that a random signature file cannot verify, under either name.
    static const TSignatureCheck Check =
        TSignatureCheck::FromKeyText(QStringLiteral("O2onvM62pC1io6jQKm8Nc2UyFXcd4kOmOsBIoYtZ2ik="));
    if (Check.KeyCount() != 1)
        std::abort();
    for (const QString& name : {QStringLiteral("update_12_5.xml"), QStringLiteral("news.xml")}) {
        const TSignatureCheck::Result result = Check.Check("<modul/>", name, bytes);
        if (result == TSignatureCheck::Result::Good || result == TSignatureCheck::Result::Expired)
            std::abort();
    }
    // The same bytes as a key list: entries are keys or named as bad, nothing is lost.
    const TSignatureCheck fromText = TSignatureCheck::FromKeyText(QString::fromUtf8(bytes));
    if (fromText.Enabled() != (fromText.KeyCount() + fromText.BadEntries().size() > 0))
        std::abort();
    return 0;
}
