// Loading libcrypto by name: once per process, the outcome (the table or why it failed) kept.
#include "core/platform/crypto/CryptoLibrary.h"

#include "core/platform/VorlandtError.h"

#include <dlfcn.h>

#include <optional>
#include <type_traits>

namespace platform {

namespace {

struct TLoaded {
    std::optional<TCryptoLibrary> Library;
    QString Failure;
};

}  // namespace

TCryptoLibrary LoadCryptoLibrary(const char* fileName)
{
    // Never unloaded: keys made by it live as long as their owners.
    void* library = dlopen(fileName, RTLD_LAZY | RTLD_LOCAL);
    if (!library) {
        const char* reason = dlerror();
        throw EVorlandtError(QStringLiteral("Die Bibliothek %1 für die Signaturen lässt sich nicht laden: %2")
                                 .arg(QLatin1String(fileName), QString::fromLocal8Bit(reason ? reason : "")));
    }
    TCryptoLibrary crypto{};
    const char* missing = nullptr;
    const auto need = [&](const char* name, auto& target) {
        void* address = missing ? nullptr : dlsym(library, name);
        target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(address);
        if (!address && !missing)
            missing = name;
    };
    need("EVP_Digest", crypto.EVP_Digest);
    need("EVP_sha512", crypto.EVP_sha512);
    need("ERR_clear_error", crypto.ERR_clear_error);
    need("EVP_PKEY_new_raw_public_key", crypto.EVP_PKEY_new_raw_public_key);
    need("EVP_PKEY_free", crypto.EVP_PKEY_free);
    need("EVP_MD_CTX_new", crypto.EVP_MD_CTX_new);
    need("EVP_MD_CTX_free", crypto.EVP_MD_CTX_free);
    need("EVP_DigestVerifyInit", crypto.EVP_DigestVerifyInit);
    need("EVP_DigestVerify", crypto.EVP_DigestVerify);
    if (missing)
        throw EVorlandtError(
            QStringLiteral("Die Bibliothek %1 für die Signaturen ist zu alt: ihr fehlt die Funktion %2")
                .arg(QLatin1String(fileName), QLatin1String(missing)));
    return crypto;
}

const TCryptoLibrary& Crypto()
{
    // Never destroyed: handles and keys held by other statics are freed through it at exit.
    static const TLoaded& loaded = *[] {
        auto* result = new TLoaded;
        try {
            result->Library = LoadCryptoLibrary(CryptoLibraryName);
        } catch (const EVorlandtError& error) {
            result->Failure = error.message();
        }
        return result;
    }();
    if (!loaded.Library)
        throw EVorlandtError(loaded.Failure);
    return *loaded.Library;
}

}  // namespace platform
