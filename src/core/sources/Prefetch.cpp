// TPrefetch: worker threads per server that take the next queued file in order, and the run's
// side that waits for the one it needs.
#include "core/sources/Prefetch.h"

#include "core/platform/CurlPool.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <system_error>

namespace sources {

namespace {

QByteArray ServerOf(const QString& url)
{
    const QUrl parsed(url, QUrl::TolerantMode);
    return (parsed.scheme() + QStringLiteral("://") + parsed.authority()).toUtf8();
}

}  // namespace

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
        for (int i = 0; i < workers; ++i) {
            try {
                FWorkers.emplace_back([this, origin = origin] { Work(origin); });
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

        TFetchedAhead result =
            FetchAhead(next->File.Url, next->File.Destination, FSettings, FLimits, MaxBodySize);
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
