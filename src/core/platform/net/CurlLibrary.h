// libcurl, loaded at the first transfer instead of at the start of every program: resolving
// libcurl and the libraries it brings (HTTP/2, SSH, LDAP, Kerberos, ...) costs more than the rest
// of a start that transfers nothing. The functions of ours that run a transfer call libcurl
// through this table; its types and constants still come from <curl/curl.h>.
#pragma once

#include <curl/curl.h>
#include <openssl/types.h>

namespace platform {

// Debian's name of the library the package depends on (libcurl4, built with OpenSSL).
inline constexpr char CurlLibraryName[] = "libcurl.so.4";
// 7.85.0, the first to know CURLOPT_PROTOCOLS_STR: an older one would ignore the protocol list
// every handle is limited to.
inline constexpr unsigned CurlLeastVersion = 0x075500;
// The TLS library libcurl is built with; only asked which protocol a handshake chose (ALPN).
inline constexpr char SslLibraryName[] = "libssl.so.3";

// The libcurl functions our transfers use, named as libcurl names them without "curl_". The
// variadic ones take exactly the argument types libcurl documents for each option (long, a
// pointer, a function pointer or curl_off_t): nothing checks them at compile time here.
struct TCurlLibrary {
    CURLcode (*global_init)(long flags);
    CURL* (*easy_init)();
    void (*easy_cleanup)(CURL* curl);
    void (*easy_reset)(CURL* curl);
    CURLcode (*easy_setopt)(CURL* curl, CURLoption option, ...);
    CURLcode (*easy_getinfo)(CURL* curl, CURLINFO info, ...);
    CURLcode (*easy_perform)(CURL* curl);
    const char* (*easy_strerror)(CURLcode code);
    CURLSH* (*share_init)();
    CURLSHcode (*share_setopt)(CURLSH* share, CURLSHoption option, ...);
    CURLSHcode (*share_cleanup)(CURLSH* share);
    CURLM* (*multi_init)();
    CURLMcode (*multi_setopt)(CURLM* multi, CURLMoption option, ...);
    CURLMcode (*multi_cleanup)(CURLM* multi);
    CURLMcode (*multi_add_handle)(CURLM* multi, CURL* curl);
    CURLMcode (*multi_remove_handle)(CURLM* multi, CURL* curl);
    CURLMcode (*multi_perform)(CURLM* multi, int* running);
    CURLMsg* (*multi_info_read)(CURLM* multi, int* queued);
    CURLMcode (*multi_poll)(CURLM* multi, struct curl_waitfd* extra, unsigned int count, int timeoutMs,
                            int* numfds);

    // From the TLS library libcurl runs on; null where it is not there (then no handshake can
    // be asked, as with another TLS back end).
    int (*SSL_is_init_finished)(const SSL* ssl);
    void (*SSL_get0_alpn_selected)(const SSL* ssl, const unsigned char** data, unsigned int* length);
};

// The table, libcurl loaded by the first call from whichever thread comes first. Throws
// EVorlandtError with the reason when the library cannot be loaded or lacks a function; every
// later call throws the same.
const TCurlLibrary& Curl();

// Loads libcurl from `fileName` into a table of its own, or throws as Curl() does. Curl() loads
// CurlLibraryName; tests name others.
TCurlLibrary LoadCurlLibrary(const char* fileName);

}  // namespace platform
