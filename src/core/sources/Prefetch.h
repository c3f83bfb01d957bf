// Fetching ahead: while a run goes through its registrations one by one, the files it is going to
// fetch are already on their way, a few at a time per server over the pooled connections. The
// run takes each body when it gets to that file, so what it logs and writes happens where it
// always did; a file that could not be fetched ahead is simply fetched again then.
#pragma once

#include "core/sources/Download.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class QEventLoop;
class QObject;

namespace sources {

struct TPrefetched {
    QByteArray Body;
    int ResponseCode = 0;
    bool Complete = false;  // a 200 and the whole body
};

class TPrefetch {
public:
    // A body larger than this is left to the run's own download.
    static constexpr qint64 MaxBodySize = 4 * 1024 * 1024;
    // Fetching ahead stops once the bodies waiting for the run hold this much.
    static constexpr qint64 MaxKeptBytes = 64 * 1024 * 1024;

    // Starts fetching `urls`, in this order, under `settings`.
    TPrefetch(const QStringList& urls, TConnectionSettings settings);
    // Drops what has not begun and waits for the transfers under way.
    ~TPrefetch();
    TPrefetch(const TPrefetch&) = delete;
    TPrefetch& operator=(const TPrefetch&) = delete;

    // The complete body of URL, when it was fetched ahead under exactly `settings`; waits (in a
    // local event loop when there is an application) while it is still coming. Nothing when it
    // was not asked for, failed, or was taken before. Other settings than at the start mean
    // nothing fetched ahead is used any more.
    std::optional<TPrefetched> Take(const QString& url, const TConnectionSettings& settings);

private:
    enum class TState { Queued, InFlight, Done, Taken };
    struct TItem {
        QString Url;
        QByteArray Origin;
        TState State = TState::Queued;
        TPrefetched Result;
    };

    void Work(const QByteArray& origin);
    void GiveUpQueued(const QByteArray* origin);
    void Wake();

    const TConnectionSettings FSettings;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<TItem> FItems;
    std::map<QString, size_t> FIndex;
    qint64 FKeptBytes = 0;
    bool FStop = false;
    std::vector<std::thread> FWorkers;
    // Lives on the thread that made the prefetch; workers post their wake-ups to it.
    std::unique_ptr<QObject> FRelay;
    QEventLoop* FWaitLoop = nullptr;  // only touched on the relay's thread
};

}  // namespace sources
