// The shared part of every libcurl transfer.
#include "core/platform/net/CurlEasy.h"

#include <mutex>

namespace platform {

void EnsureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { Curl().global_init(CURL_GLOBAL_DEFAULT); });
}

TCurlEasy::TCurlEasy(const char* protocols) : FProtocols(protocols)
{
    EnsureCurlInitialised();
    FCurl.reset(Curl().easy_init());
    if (FCurl)
        SetCommonOptions();
}

void TCurlEasy::Reset()
{
    Curl().easy_reset(FCurl.get());
    FErrorBuffer[0] = '\0';
    SetCommonOptions();
}

void TCurlEasy::SetCommonOptions()
{
    CURL* curl = FCurl.get();
    Curl().easy_setopt(curl, CURLOPT_ERRORBUFFER, FErrorBuffer);
    // Signals cannot carry libcurl's time limits on a worker thread.
    Curl().easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // A redirect could point anywhere; our servers name their addresses directly.
    Curl().easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    Curl().easy_setopt(curl, CURLOPT_PROTOCOLS_STR, FProtocols);
}

void TCurlEasy::SetDirect()
{
    Curl().easy_setopt(FCurl.get(), CURLOPT_PROXY, "");
    Curl().easy_setopt(FCurl.get(), CURLOPT_NOPROXY, "*");
}

CURLcode TCurlEasy::Perform()
{
    FErrorBuffer[0] = '\0';
    return Curl().easy_perform(FCurl.get());
}

long TCurlEasy::ResponseCode() const
{
    long status = 0;
    Curl().easy_getinfo(FCurl.get(), CURLINFO_RESPONSE_CODE, &status);
    return status;
}

QString TCurlEasy::ErrorText(CURLcode code) const
{
    if (FErrorBuffer[0] != '\0')
        return QString::fromUtf8(FErrorBuffer).trimmed();
    return QString::fromUtf8(Curl().easy_strerror(code));
}

}  // namespace platform
