// One libcurl transfer handle with what every transfer of ours shares: libcurl set up once per
// process, the handle freed on every way out, a detailed error text, no signals, no redirects.
#pragma once

#include "core/platform/net/CurlLibrary.h"

#include <QString>

#include <curl/curl.h>

#include <memory>

namespace platform {

// curl_global_init, once per process, from whichever thread comes first; loads libcurl (and throws
// EVorlandtError when that fails).
void EnsureCurlInitialised();

class TCurlEasy {
public:
    // A new handle that speaks only `protocols` (libcurl's list, "https,http"; a literal, it is
    // kept) and never follows a redirect. Test with valid(): libcurl may fail to create one.
    explicit TCurlEasy(const char* protocols);
    // libcurl keeps the address of the error buffer: the object stays where it was made.
    TCurlEasy(const TCurlEasy&) = delete;
    TCurlEasy& operator=(const TCurlEasy&) = delete;

    bool valid() const { return FCurl != nullptr; }
    CURL* get() const { return FCurl.get(); }

    // Not even the environment's http_proxy, https_proxy or ALL_PROXY is consulted.
    void SetDirect();

    // Back to the state of a new handle, keeping what libcurl keeps across a reset: the open
    // connection, the loaded certificate store, the share. For a handle used again.
    void Reset();

    // Runs the transfer with the error text of an earlier one cleared.
    CURLcode Perform();
    // Clears the error text of an earlier transfer, for one that a multi handle runs.
    void ClearError() { FErrorBuffer[0] = '\0'; }
    // The status of the last answer, 0 when none came.
    long ResponseCode() const;
    // Why `code` failed: libcurl's detailed text ("SSL certificate problem: ...") where it left
    // one, else the generic text of the code.
    QString ErrorText(CURLcode code) const;

private:
    void SetCommonOptions();

    struct TDeleter {
        void operator()(CURL* curl) const { Curl().easy_cleanup(curl); }
    };
    std::unique_ptr<CURL, TDeleter> FCurl;
    char FErrorBuffer[CURL_ERROR_SIZE] = {};
    const char* FProtocols;
};

}  // namespace platform
