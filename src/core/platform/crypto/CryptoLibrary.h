// libcrypto, loaded when the first signature is checked instead of at the start of every
// program: a run that checks nothing (nothing to do, the settings tools) does not resolve it.
// Ed25519 calls it through this table; types and constants still come from OpenSSL's headers.
#pragma once

#include <openssl/evp.h>

namespace platform {

// Debian's name of the library the package depends on (libssl3 holds it).
inline constexpr char CryptoLibraryName[] = "libcrypto.so.3";

// The libcrypto functions of the signature checks, named as OpenSSL names them.
struct TCryptoLibrary {
    int (*EVP_Digest)(const void* data, size_t count, unsigned char* md, unsigned int* size,
                      const EVP_MD* type, ENGINE* impl);
    const EVP_MD* (*EVP_sha512)();
    void (*ERR_clear_error)();
    EVP_PKEY* (*EVP_PKEY_new_raw_public_key)(int type, ENGINE* e, const unsigned char* pub, size_t length);
    void (*EVP_PKEY_free)(EVP_PKEY* key);
    EVP_MD_CTX* (*EVP_MD_CTX_new)();
    void (*EVP_MD_CTX_free)(EVP_MD_CTX* ctx);
    int (*EVP_DigestVerifyInit)(EVP_MD_CTX* ctx, EVP_PKEY_CTX** pctx, const EVP_MD* type, ENGINE* e,
                                EVP_PKEY* key);
    int (*EVP_DigestVerify)(EVP_MD_CTX* ctx, const unsigned char* signature, size_t signatureLength,
                            const unsigned char* data, size_t length);
};

// The table, libcrypto loaded by the first call from whichever thread comes first. Throws
// EVorlandtError with the reason when the library cannot be loaded or lacks a function; every
// later call throws the same.
const TCryptoLibrary& Crypto();

// Loads libcrypto from `fileName` into a table of its own, or throws as Crypto() does. Crypto()
// loads CryptoLibraryName; tests name others.
TCryptoLibrary LoadCryptoLibrary(const char* fileName);

}  // namespace platform
