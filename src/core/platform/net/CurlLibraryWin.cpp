// libcurl on Windows: linked statically into every program (the Windows programs ship as single
// files), so the table is filled with libcurl's own functions and nothing is loaded.
#include "core/platform/net/CurlLibrary.h"

namespace platform {

TCurlLibrary LoadCurlLibrary(const char*)
{
    TCurlLibrary curl{};
    curl.global_init = &curl_global_init;
    curl.easy_init = &curl_easy_init;
    curl.easy_cleanup = &curl_easy_cleanup;
    curl.easy_reset = &curl_easy_reset;
    curl.easy_setopt = &curl_easy_setopt;
    curl.easy_getinfo = &curl_easy_getinfo;
    curl.easy_perform = &curl_easy_perform;
    curl.easy_strerror = &curl_easy_strerror;
    curl.share_init = &curl_share_init;
    curl.share_setopt = &curl_share_setopt;
    curl.share_cleanup = &curl_share_cleanup;
    curl.multi_init = &curl_multi_init;
    curl.multi_setopt = &curl_multi_setopt;
    curl.multi_cleanup = &curl_multi_cleanup;
    curl.multi_add_handle = &curl_multi_add_handle;
    curl.multi_remove_handle = &curl_multi_remove_handle;
    curl.multi_perform = &curl_multi_perform;
    curl.multi_info_read = &curl_multi_info_read;
    curl.multi_poll = &curl_multi_poll;
    // TLS is Schannel's: no OpenSSL handshake to ask which protocol was chosen.
    curl.SSL_is_init_finished = nullptr;
    curl.SSL_get0_alpn_selected = nullptr;
    return curl;
}

const TCurlLibrary& Curl()
{
    static const TCurlLibrary library = LoadCurlLibrary(nullptr);
    return library;
}

}  // namespace platform
