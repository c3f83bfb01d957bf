// TPrefetch: worker threads per server that take the next queued file in order, and the run's
// side that waits for the one it needs.
#include "core/sources/Prefetch.h"

#include "core/platform/net/CurlPool.h"
#include "core/sources/SignatureCheck.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <system_error>

namespace sources {

namespace {

QByteArray ServerOf(const QString& url)
{
    const QUrl parsed(url, QUrl::TolerantMode);
    return (parsed.scheme() + QStringLiteral("://") + parsed.authority()).toUtf8();
}

// What the process learnt about each server (under each connection setting): whether it takes
// several requests at once on a connection. A later search starts at full speed at once.
class TServerMemory {
public:
    std::optional<bool> Multiplexing(const QByteArray& key)
    {
        const std::lock_guard lock(FMutex);
        const auto found = FKnown.find(key);
        return found == FKnown.end() ? std::nullopt : std::optional<bool>(found->second);
    }
    void Remember(const QByteArray& key, bool multiplexing)
    {
        const std::lock_guard lock(FMutex);
        FKnown[key] = multiplexing;
    }

private:
    std::mutex FMutex;
    std::map<QByteArray, bool> FKnown;
};

TServerMemory& ServerMemory()
{
    static TServerMemory memory;
    return memory;
}

}  // namespace

TDownloadLimits TPrefetch::LimitsFor(const QString& url) const
{
    // A signature is a line; one larger than that is refused by the run, and its transfer ends at
    // the same bound when made ahead, with the same verdict.
    TDownloadLimits limits = FLimits;
    if (url.endsWith(QLatin1String(".sig")))
        limits.MaxBytes = TSignatureCheck::MaxSignatureFileSize;
    return limits;
}

TPrefetch::TPrefetch(const std::vector<TAheadFile>& files, TConnectionSettings settings,
                     const TDownloadLimits& limits)
    : FSettings(std::move(settings)), FLimits(limits)
{
    if (QCoreApplication::instance())
        FRelay = std::make_unique<QObject>();

    std::map<QByteArray, int> perServer;
    for (const TAheadFile& file : files) {
        if (FIndex.count(file.Url) != 0)
            continue;
        FIndex.emplace(file.Url, FItems.size());
        TItem item;
        item.File = file;
        item.Origin = ServerOf(file.Url);
        ++perServer[item.Origin];
        FItems.push_back(std::move(item));
    }

    for (const auto& [origin, count] : perServer) {
        const int workers = std::min(count, platform::MaxConnectionsPerOrigin);
        const std::optional<bool> multiplexing =
            ServerMemory().Multiplexing(FSettings.ConnectionKey() + origin);
        if (multiplexing)
            FMultiplexing[origin] = *multiplexing;
        for (int i = 0; i < workers; ++i) {
            try {
                if (multiplexing && !*multiplexing)
                    FWorkers.emplace_back([this, origin = origin] { Work(origin); });
                else if (i == 0)
                    FWorkers.emplace_back([this, origin = origin, known = multiplexing.has_value()] {
                        WorkMultiplexed(origin, known);
                    });
                else if (!multiplexing)
                    FWorkers.emplace_back([this, origin = origin] { WorkUnlessMultiplexed(origin); });
            } catch (const std::system_error&) {
                // Without a thread the run fetches these files itself.
                if (i == 0) {
                    const std::lock_guard lock(FMutex);
                    GiveUpQueued(&origin);
                }
                break;
            }
        }
    }
}

TPrefetch::~TPrefetch()
{
    {
        const std::lock_guard lock(FMutex);
        FStop = true;
        GiveUpQueued(nullptr);
    }
    for (std::thread& worker : FWorkers)
        worker.join();
}

// Marks the files no worker will fetch as failed, so nobody waits for them. Called locked.
void TPrefetch::GiveUpQueued(const QByteArray* origin)
{
    for (TItem& item : FItems)
        if (item.State == TState::Queued && (!origin || item.Origin == *origin))
            item.State = TState::Done;
    FChanged.notify_all();
}

void TPrefetch::Work(const QByteArray& origin)
{
    for (;;) {
        TItem* next = nullptr;
        {
            const std::lock_guard lock(FMutex);
            if (FStop)
                return;
            if (FKeptBytes >= MaxKeptBytes) {
                GiveUpQueued(&origin);
                break;
            }
            const auto it = std::find_if(FItems.begin(), FItems.end(), [&](const TItem& item) {
                return item.State == TState::Queued && item.Origin == origin;
            });
            if (it == FItems.end())
                return;
            it->State = TState::InFlight;
            next = &*it;  // the vector never changes its size after the start
        }

        TFetchedAhead result = FetchAhead(next->File.Url, next->File.Destination, FSettings,
                                          LimitsFor(next->File.Url), MaxBodySize);
        {
            const std::lock_guard lock(FMutex);
            FKeptBytes += result.Body.size();
            next->Result = std::move(result);
            next->Fetched = true;
            next->State = TState::Done;
        }
        FChanged.notify_all();
        Wake();
    }
    Wake();
}

void TPrefetch::Decide(const QByteArray& origin, bool multiplexing)
{
    {
        const std::lock_guard lock(FMutex);
        if (FMultiplexing.count(origin) != 0)
            return;
        FMultiplexing[origin] = multiplexing;
    }
    ServerMemory().Remember(FSettings.ConnectionKey() + origin, multiplexing);
    FChanged.notify_all();
}

void TPrefetch::WorkUnlessMultiplexed(const QByteArray& origin)
{
    {
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [&] { return FStop || FMultiplexing.count(origin) != 0; });
        if (FStop || FMultiplexing[origin])
            return;
    }
    Work(origin);
}

void TPrefetch::WorkMultiplexed(const QByteArray& origin, bool known)
{
    std::optional<TMultiplexedFetch> fetch;
    try {
        fetch.emplace(FSettings, MaxBodySize);
    } catch (const std::exception&) {
        Decide(origin, false);
        Work(origin);
        return;
    }
    for (;;) {
        {
            const std::lock_guard lock(FMutex);
            if (FStop)
                break;
            const auto decided = FMultiplexing.find(origin);
            // Until the first answer shows what the server speaks, one file at a time.
            const int allowed = decided != FMultiplexing.end() && decided->second ? MaxStreams : 1;
            while (fetch->Running() < allowed) {
                if (FKeptBytes >= MaxKeptBytes) {
                    GiveUpQueued(&origin);
                    break;
                }
                const auto next = std::find_if(FItems.begin(), FItems.end(), [&](const TItem& item) {
                    return item.State == TState::Queued && item.Origin == origin;
                });
                if (next == FItems.end())
                    break;
                next->State = TState::InFlight;
                fetch->Add(static_cast<size_t>(next - FItems.begin()), LimitsFor(next->File.Url), next->File.Url,
                           next->File.Destination);
            }
            if (fetch->Running() == 0)
                break;
        }
        std::vector<std::pair<size_t, TFetchedAhead>> done = fetch->Proceed(std::chrono::milliseconds(100));
        if (!known && fetch->Multiplexing()) {
            known = true;
            Decide(origin, *fetch->Multiplexing());
        }
        if (done.empty())
            continue;
        {
            const std::lock_guard lock(FMutex);
            for (auto& [index, result] : done) {
                TItem& item = FItems[index];
                FKeptBytes += result.Body.size();
                item.Result = std::move(result);
                item.Fetched = true;
                item.State = TState::Done;
            }
        }
        FChanged.notify_all();
        Wake();
    }
    // No answer came at all: the other workers need not wait any longer.
    if (!known)
        Decide(origin, false);
    Wake();
}

void TPrefetch::Wake()
{
    if (!FRelay)
        return;
    QMetaObject::invokeMethod(
        FRelay.get(),
        [this] {
            if (FWaitLoop)
                FWaitLoop->quit();
        },
        Qt::QueuedConnection);
}

std::optional<TFetchedAhead> TPrefetch::Take(const QString& url, const QString& destination,
                                             const TConnectionSettings& settings)
{
    std::unique_lock lock(FMutex);
    if (settings != FSettings) {
        // Another proxy or other trusted authorities now: what came under the old ones is void.
        FStop = true;
        GiveUpQueued(nullptr);
        for (TItem& item : FItems)
            if (item.State == TState::Done) {
                item.State = TState::Taken;
                item.Result = TFetchedAhead();
            }
        FKeptBytes = 0;
        return std::nullopt;
    }
    const auto found = FIndex.find(url);
    if (found == FIndex.end())
        return std::nullopt;
    TItem& item = FItems[found->second];
    while (item.State == TState::Queued || item.State == TState::InFlight) {
        if (FRelay && FRelay->thread() == QThread::currentThread()) {
            lock.unlock();
            {
                // A wake-up posted before exec() waits in the queue and ends the loop at once.
                QEventLoop loop;
                QEventLoop* const outer = std::exchange(FWaitLoop, &loop);
                loop.exec();
                FWaitLoop = outer;
            }
            lock.lock();
        } else {
            FChanged.wait(lock);
        }
    }
    if (item.State == TState::Taken)
        return std::nullopt;
    item.State = TState::Taken;
    FKeptBytes -= item.Result.Body.size();
    // A body kept beside another name than the run's is of no use to it (the run names each
    // file as it did when the list was made, so this does not happen).
    if (!item.Fetched || (item.Result.Spilled && item.File.Destination != destination))
        return std::nullopt;
    return std::move(item.Result);
}

}  // namespace sources
