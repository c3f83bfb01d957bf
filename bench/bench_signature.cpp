// What the signature check adds to reading a descriptor of 10,000 updates: verifying its bytes
// (with one configured key, and with two where the second one signed, as during key rotation)
// against the whole evaluation of the same file (fetch from a local source, load, catalog),
// without keys and with one key configured and the signature beside the descriptor.
// Argument of BM_Verify: number of configured keys.
#include "BenchDescriptor.h"

#include "core/catalog/Updates.h"
#include "core/platform/crypto/Ed25519.h"
#include "core/sources/SignatureCheck.h"
#include "core/sources/UpdateCheck.h"

#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using TPkey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

TPkey KeyFromSeed(char fill)
{
    const QByteArray seed(32, fill);
    return TPkey(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                              reinterpret_cast<const unsigned char*>(seed.constData()), 32),
                 EVP_PKEY_free);
}

QString PublicBase64(EVP_PKEY* key)
{
    QByteArray raw(32, '\0');
    size_t length = 32;
    EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &length);
    return QString::fromLatin1(raw.toBase64());
}

// The signature file for `content` published as `name`, as vorlandt-sign writes it.
QByteArray SignatureFile(EVP_PKEY* key, const QByteArray& content, const QString& name)
{
    const QByteArray message = TSignatureCheck::SignedMessage(name, std::nullopt, platform::Sha512(content));
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    QByteArray signature(64, '\0');
    size_t length = 64;
    if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key) != 1 ||
        EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(message.constData()),
                       size_t(message.size())) != 1)
        std::abort();
    return TSignatureFile{signature, std::nullopt}.Text();
}

void BM_Verify(benchmark::State& state)
{
    const QByteArray descriptor = DescriptorText();
    const TPkey oldKey = KeyFromSeed('o');
    const TPkey newKey = KeyFromSeed('n');
    // The signing key is the last one configured: with two keys, both are tried.
    const QString keys = state.range(0) == 1 ? PublicBase64(newKey.get())
                                             : PublicBase64(oldKey.get()) + u' ' + PublicBase64(newKey.get());
    const TSignatureCheck check = TSignatureCheck::FromKeyText(keys);
    const QString name = QStringLiteral("update_12_3.xml");
    const std::optional<QByteArray> signature = SignatureFile(newKey.get(), descriptor, name);
    for (auto _ : state) {
        if (check.Check(descriptor, name, signature) != TSignatureCheck::Result::Good)
            std::abort();
    }
    state.SetBytesProcessed(state.iterations() * descriptor.size());
}
BENCHMARK(BM_Verify)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// With `key`, its public key is the machine's only configured key and the descriptor in the local
// source is signed with it; without, no key is configured.
void Evaluate(benchmark::State& state, EVP_PKEY* key)
{
    Fixture();
    WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, false);
    const QString signaturePath = TSignatureCheck::SignatureFileName(Fixture().descriptor);
    if (key) {
        QFile descriptor(Fixture().descriptor);
        QFile signature(signaturePath);
        if (!descriptor.open(QIODevice::ReadOnly) || !signature.open(QIODevice::WriteOnly) ||
            signature.write(SignatureFile(key, descriptor.readAll(), QFileInfo(descriptor).fileName())) < 0)
            std::abort();
        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                         PublicBase64(key));
    } else {
        QFile::remove(signaturePath);
        if (ValueExists(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys))
            DeleteValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys);
    }
    TUpdates updates;
    TUpdateCheck check(&updates);
    for (auto _ : state) {
        state.PauseTiming();
        updates.Clear();
        state.ResumeTiming();
        if (!check.ReadVersionTree(QStringLiteral("Kasse"), 12, 3, true))
            std::abort();
    }
    if (updates.UpdateDictionary().size() != kMinorVersions * kUpdatesPerMinor)
        std::abort();
    state.SetBytesProcessed(state.iterations() * QFile(Fixture().descriptor).size());
}

void BM_Evaluate(benchmark::State& state)
{
    Evaluate(state, nullptr);
}
BENCHMARK(BM_Evaluate)->Unit(benchmark::kMillisecond);

void BM_EvaluateSigned(benchmark::State& state)
{
    const TPkey key = KeyFromSeed('n');
    Evaluate(state, key.get());
}
BENCHMARK(BM_EvaluateSigned)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
