// Ed25519 signatures and the SHA-512 digest of a file, with the text form keys travel in: a
// public key is base64 of its 32 raw bytes. OpenSSL stays behind this header.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <optional>

namespace platform {

inline constexpr qsizetype Ed25519PublicKeySize = 32;
inline constexpr qsizetype Ed25519SignatureSize = 64;
inline constexpr qsizetype Sha512Size = 64;

// The raw bytes of canonical padded base64 that decodes to exactly `size` bytes; nullopt for
// anything else (other characters, missing padding, another length, unused bits set).
std::optional<QByteArray> DecodeBase64Exactly(QByteArrayView text, qsizetype size);

// The 64-byte SHA-512 digest of `bytes`.
QByteArray Sha512(QByteArrayView bytes);

// One public key, parsed once so that checking many files does not repeat the set-up.
class TEd25519PublicKey {
public:
    // nullopt unless `text` is exactly one key in base64 (see DecodeBase64Exactly).
    static std::optional<TEd25519PublicKey> FromBase64(QByteArrayView text);

    // True when `signature` (64 raw bytes) is this key's signature over exactly `message`.
    bool Verify(QByteArrayView message, QByteArrayView signature) const;

    const QByteArray& RawBytes() const { return FRaw; }

private:
    struct TKeyHandle;
    TEd25519PublicKey(QByteArray raw, std::shared_ptr<TKeyHandle> key);

    QByteArray FRaw;
    // Shared: OpenSSL key objects are reference-counted and read-only once made.
    std::shared_ptr<TKeyHandle> FKey;
};

}  // namespace platform
