// Loading libcurl by name: once per process, the outcome (the table or why it failed) kept.
#include "core/platform/net/CurlLibrary.h"

#include "core/platform/VorlandtError.h"

#include <dlfcn.h>

#include <optional>

namespace platform {

namespace {

struct TLoaded {
    std::optional<TCurlLibrary> Library;
    QString Failure;
};

QString LastLoadError()
{
    const char* text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QString();
}

// Fills `target` with the address of `name` in `library`; false when it has none.
template <typename TFunction>
bool Resolve(void* library, const char* name, TFunction& target)
{
    void* address = dlsym(library, name);
    target = reinterpret_cast<TFunction>(address);
    return address != nullptr;
}

}  // namespace

TCurlLibrary LoadCurlLibrary(const char* fileName)
{
    // Never unloaded: handles and the global set-up live until the process ends. Lazily bound:
    // of the functions the libraries it brings call each other with, a run needs few, and every
    // function of ours is looked up below. (RTLD_DEEPBIND would save more, but the sanitizers
    // refuse it and it splits data the program holds a copy of, such as stderr.)
    void* library = dlopen(fileName, RTLD_LAZY | RTLD_LOCAL);
    if (!library)
        throw EVorlandtError(
            QStringLiteral("Die Bibliothek %1 für die Übertragungen lässt sich nicht laden: %2")
                .arg(QLatin1String(fileName), LastLoadError()));
    curl_version_info_data* (*versionInfo)(CURLversion) = nullptr;
    const curl_version_info_data* version =
        Resolve(library, "curl_version_info", versionInfo) ? versionInfo(CURLVERSION_NOW) : nullptr;
    if (!version || version->version_num < CurlLeastVersion)
        throw EVorlandtError(
            QStringLiteral("Die Bibliothek %1 für die Übertragungen ist zu alt (Version %2), "
                           "gebraucht wird mindestens %3.%4.%5")
                .arg(QLatin1String(fileName),
                     version ? QLatin1String(version->version) : QLatin1String("unbekannt"))
                .arg(CurlLeastVersion >> 16)
                .arg((CurlLeastVersion >> 8) & 0xff)
                .arg(CurlLeastVersion & 0xff));
    TCurlLibrary curl{};
    const char* missing = nullptr;
    const auto need = [&](const char* name, auto& target) {
        if (!missing && !Resolve(library, name, target))
            missing = name;
    };
    need("curl_global_init", curl.global_init);
    need("curl_easy_init", curl.easy_init);
    need("curl_easy_cleanup", curl.easy_cleanup);
    need("curl_easy_reset", curl.easy_reset);
    need("curl_easy_setopt", curl.easy_setopt);
    need("curl_easy_getinfo", curl.easy_getinfo);
    need("curl_easy_perform", curl.easy_perform);
    need("curl_easy_strerror", curl.easy_strerror);
    need("curl_share_init", curl.share_init);
    need("curl_share_setopt", curl.share_setopt);
    need("curl_share_cleanup", curl.share_cleanup);
    need("curl_multi_init", curl.multi_init);
    need("curl_multi_setopt", curl.multi_setopt);
    need("curl_multi_cleanup", curl.multi_cleanup);
    need("curl_multi_add_handle", curl.multi_add_handle);
    need("curl_multi_remove_handle", curl.multi_remove_handle);
    need("curl_multi_perform", curl.multi_perform);
    need("curl_multi_info_read", curl.multi_info_read);
    need("curl_multi_poll", curl.multi_poll);
    if (missing)
        throw EVorlandtError(
            QStringLiteral("Die Bibliothek %1 für die Übertragungen ist zu alt: ihr fehlt die Funktion %2")
                .arg(QLatin1String(fileName), QLatin1String(missing)));
    // libcurl brought the TLS library in already; this only finds it.
    if (void* ssl = dlopen(SslLibraryName, RTLD_NOW | RTLD_LOCAL)) {
        if (!Resolve(ssl, "SSL_is_init_finished", curl.SSL_is_init_finished) ||
            !Resolve(ssl, "SSL_get0_alpn_selected", curl.SSL_get0_alpn_selected)) {
            curl.SSL_is_init_finished = nullptr;
            curl.SSL_get0_alpn_selected = nullptr;
        }
    }
    return curl;
}

const TCurlLibrary& Curl()
{
    // Never destroyed: handles and keys held by other statics are freed through it at exit.
    static const TLoaded& loaded = *[] {
        auto* result = new TLoaded;
        try {
            result->Library = LoadCurlLibrary(CurlLibraryName);
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
