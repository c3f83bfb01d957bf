// Ed25519 and SHA-512 on OpenSSL's EVP interface (one-shot EVP_DigestVerify: Ed25519 hashes
// internally and has no separate digest step).
#include "core/platform/Ed25519.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <new>

namespace platform {

struct TEd25519PublicKey::TKeyHandle {
    EVP_PKEY* key = nullptr;
    ~TKeyHandle() { EVP_PKEY_free(key); }
};

namespace {

struct TMdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

}  // namespace

std::optional<QByteArray> DecodeBase64Exactly(QByteArrayView text, qsizetype size)
{
    // Refuse before decoding: a huge planted file must not be decoded just to be thrown away.
    if (text.size() != (size + 2) / 3 * 4)
        return std::nullopt;
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        text.toByteArray(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size)
        return std::nullopt;
    // Only one spelling per key or signature: what we print is what we accept.
    if (decoded.decoded.toBase64() != text)
        return std::nullopt;
    return decoded.decoded;
}

QByteArray Sha512(QByteArrayView bytes)
{
    static const unsigned char NoBytes = 0;  // an empty view may carry no pointer at all
    QByteArray digest(Sha512Size, '\0');
    unsigned int length = 0;
    if (EVP_Digest(bytes.isEmpty() ? &NoBytes : reinterpret_cast<const unsigned char*>(bytes.data()),
                   size_t(bytes.size()), reinterpret_cast<unsigned char*>(digest.data()), &length,
                   EVP_sha512(), nullptr) != 1 ||
        length != unsigned(Sha512Size)) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    return digest;
}

TEd25519PublicKey::TEd25519PublicKey(QByteArray raw, std::shared_ptr<TKeyHandle> key)
    : FRaw(std::move(raw)), FKey(std::move(key))
{
}

std::optional<TEd25519PublicKey> TEd25519PublicKey::FromBase64(QByteArrayView text)
{
    std::optional<QByteArray> raw = DecodeBase64Exactly(text, Ed25519PublicKeySize);
    if (!raw)
        return std::nullopt;
    auto handle = std::make_shared<TKeyHandle>();
    handle->key = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                              reinterpret_cast<const unsigned char*>(raw->constData()),
                                              size_t(raw->size()));
    if (!handle->key) {
        ERR_clear_error();
        return std::nullopt;
    }
    return TEd25519PublicKey(std::move(*raw), std::move(handle));
}

bool TEd25519PublicKey::Verify(QByteArrayView message, QByteArrayView signature) const
{
    if (signature.size() != Ed25519SignatureSize)
        return false;
    static const unsigned char NoBytes = 0;  // an empty view may carry no pointer at all
    const auto* messageBytes =
        message.isEmpty() ? &NoBytes : reinterpret_cast<const unsigned char*>(message.data());
    const std::unique_ptr<EVP_MD_CTX, TMdCtxFree> ctx(EVP_MD_CTX_new());
    // Only 1 is a good signature; 0 is a bad one and negative values are errors: both fail.
    const bool good = ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, FKey->key) == 1 &&
                      EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                                       size_t(signature.size()), messageBytes, size_t(message.size())) == 1;
    // A failed check leaves entries on the thread's OpenSSL error queue; the TLS code of the
    // downloader shares that queue and must not read our failure as its own.
    if (!good)
        ERR_clear_error();
    return good;
}

}  // namespace platform
