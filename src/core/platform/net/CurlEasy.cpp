// The shared part of every libcurl transfer.
#include "core/platform/net/CurlEasy.h"

#include <mutex>

namespace platform {

void EnsureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

TCurlEasy::TCurlEasy(const char* protocols) : FProtocols(protocols)
{
    EnsureCurlInitialised();
    FCurl.reset(curl_easy_init());
    if (FCurl)
        SetCommonOptions();
}

void TCurlEasy::Reset()
{
    curl_easy_reset(FCurl.get());
    FErrorBuffer[0] = '\0';
    SetCommonOptions();
}

void TCurlEasy::SetCommonOptions()
{
    CURL* curl = FCurl.get();
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, FErrorBuffer);
    // Signals cannot carry libcurl's time limits on a worker thread.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // A redirect could point anywhere; our servers name their addresses directly.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, FProtocols);
}

void TCurlEasy::SetDirect()
{
    curl_easy_setopt(FCurl.get(), CURLOPT_PROXY, "");
    curl_easy_setopt(FCurl.get(), CURLOPT_NOPROXY, "*");
}

CURLcode TCurlEasy::Perform()
{
    FErrorBuffer[0] = '\0';
    return curl_easy_perform(FCurl.get());
}

long TCurlEasy::ResponseCode() const
{
    long status = 0;
    curl_easy_getinfo(FCurl.get(), CURLINFO_RESPONSE_CODE, &status);
    return status;
}

QString TCurlEasy::ErrorText(CURLcode code) const
{
    if (FErrorBuffer[0] != '\0')
        return QString::fromUtf8(FErrorBuffer).trimmed();
    return QString::fromUtf8(curl_easy_strerror(code));
}

}  // namespace platform
