// The handle pool: idle handles by settings and server, a count of the handles out per server,
// and per settings one share object for TLS sessions and resolved names. Connections stay with
// their handles: libcurl's shared connection cache is not safe across threads in the versions
// we build against, a handle of our own is.
#include "core/platform/net/CurlPool.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// TLS sessions and the name cache of the handles made under one settings key; transfers on
// several threads use them at once, so every kind of data gets a lock of its own.
struct TShare {
    CURLSH* Share = nullptr;
    std::mutex Locks[CURL_LOCK_DATA_LAST];

    TShare()
    {
        Share = Curl().share_init();
        if (!Share)
            return;
        Curl().share_setopt(Share, CURLSHOPT_USERDATA, this);
        Curl().share_setopt(Share, CURLSHOPT_LOCKFUNC, &Lock);
        Curl().share_setopt(Share, CURLSHOPT_UNLOCKFUNC, &Unlock);
        Curl().share_setopt(Share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        Curl().share_setopt(Share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    }
    ~TShare()
    {
        if (Share)
            Curl().share_cleanup(Share);
    }
    TShare(const TShare&) = delete;
    TShare& operator=(const TShare&) = delete;

    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user)
    {
        static_cast<TShare*>(user)->Locks[data].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* user)
    {
        static_cast<TShare*>(user)->Locks[data].unlock();
    }
};

}  // namespace

// The share is declared first: the handle using it goes before it.
struct TCurlPoolEntry {
    std::shared_ptr<TShare> Share;
    std::unique_ptr<TCurlEasy> Handle;
    QByteArray Key;
    QByteArray Origin;
    const char* Protocols = nullptr;
};

namespace {

class TPool {
public:
    std::unique_ptr<TCurlPoolEntry> Borrow(const QByteArray& key, const QByteArray& origin,
                                           const char* protocols)
    {
        EnsureCurlInitialised();
        std::vector<std::unique_ptr<TCurlPoolEntry>> retired;  // freed after the lock
        std::unique_lock lock(FMutex);
        FFreed.wait(lock, [&] { return FInUse[origin] < MaxConnectionsPerOrigin; });
        ++FInUse[origin];
        if (!FShare || key != FKey) {
            FKey = key;
            FShare = std::make_shared<TShare>();
            retired = std::move(FIdle);
            FIdle.clear();
        }
        // The most recently used first: its connection is the least likely to have timed out.
        for (auto it = FIdle.rbegin(); it != FIdle.rend(); ++it) {
            if ((*it)->Origin == origin && std::strcmp((*it)->Protocols, protocols) == 0) {
                std::unique_ptr<TCurlPoolEntry> entry = std::move(*it);
                FIdle.erase(std::next(it).base());
                return entry;
            }
        }
        auto entry = std::make_unique<TCurlPoolEntry>();
        entry->Share = FShare;
        entry->Key = key;
        entry->Origin = origin;
        entry->Protocols = protocols;
        entry->Handle = std::make_unique<TCurlEasy>(protocols);
        if (entry->Handle->valid() && FShare->Share)
            Curl().easy_setopt(entry->Handle->get(), CURLOPT_SHARE, FShare->Share);
        return entry;
    }

    void Return(std::unique_ptr<TCurlPoolEntry> entry)
    {
        if (entry->Handle->valid())
            entry->Handle->Reset();
        std::unique_ptr<TCurlPoolEntry> retired;  // freed after the lock
        {
            const std::lock_guard lock(FMutex);
            --FInUse[entry->Origin];
            const auto sameOrigin = std::count_if(
                FIdle.begin(), FIdle.end(), [&](const auto& idle) { return idle->Origin == entry->Origin; });
            if (entry->Handle->valid() && entry->Key == FKey && sameOrigin < MaxConnectionsPerOrigin)
                FIdle.push_back(std::move(entry));
            else
                retired = std::move(entry);
        }
        FFreed.notify_all();
    }

private:
    std::mutex FMutex;
    std::condition_variable FFreed;
    QByteArray FKey;
    std::shared_ptr<TShare> FShare;
    std::vector<std::unique_ptr<TCurlPoolEntry>> FIdle;
    std::map<QByteArray, int> FInUse;
};

TPool& Pool()
{
    static TPool pool;
    return pool;
}

}  // namespace

TCurlLease::TCurlLease(std::unique_ptr<TCurlPoolEntry> entry) : FEntry(std::move(entry)) {}

TCurlLease::~TCurlLease()
{
    if (FEntry)
        Pool().Return(std::move(FEntry));
}

TCurlLease::TCurlLease(TCurlLease&& other) noexcept = default;

bool TCurlLease::valid() const
{
    return FEntry && FEntry->Handle->valid();
}

TCurlEasy& TCurlLease::operator*() const
{
    return *FEntry->Handle;
}

TCurlLease BorrowCurl(const QByteArray& settingsKey, const QByteArray& origin, const char* protocols)
{
    return TCurlLease(Pool().Borrow(settingsKey, origin, protocols));
}

}  // namespace platform
