// An Ed25519 signing key for tests, made from a fixed seed so that every run signs alike; the
// suites that use it link OpenSSL::Crypto.
#pragma once

#include "core/platform/crypto/Ed25519.h"
#include "core/sources/SignatureCheck.h"

#include <QByteArray>
#include <QString>

#include <openssl/evp.h>

#include <memory>
#include <optional>

class TTestKey {
public:
    explicit TTestKey(char fill)
    {
        const QByteArray seed(32, fill);
        FKey.reset(EVP_PKEY_new_raw_private_key(
            EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(seed.constData()), 32));
        if (!FKey)
            qFatal("no Ed25519 key");
    }

    // The form the store holds: base64 of the 32 raw bytes.
    QString PublicBase64() const
    {
        QByteArray raw(32, '\0');
        size_t length = 32;
        EVP_PKEY_get_raw_public_key(FKey.get(), reinterpret_cast<unsigned char*>(raw.data()), &length);
        return QString::fromLatin1(raw.toBase64());
    }

    QByteArray Sign(const QByteArray& message) const
    {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        QByteArray signature(64, '\0');
        size_t length = 64;
        if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, FKey.get()) != 1 ||
            EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                           reinterpret_cast<const unsigned char*>(message.constData()),
                           size_t(message.size())) != 1)
            qFatal("cannot sign");
        return signature;
    }

    // The content of "FILE.sig" for `content` published as `name`, as the signing tool writes it.
    QByteArray SignatureFile(const QByteArray& content, const QString& name,
                             std::optional<qint64> expires = std::nullopt) const
    {
        const QByteArray message = TSignatureCheck::SignedMessage(name, expires, platform::Sha512(content));
        if (message.isEmpty())
            qFatal("no message to sign");
        return TSignatureFile{Sign(message), expires}.Text();
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> FKey{nullptr, EVP_PKEY_free};
};
