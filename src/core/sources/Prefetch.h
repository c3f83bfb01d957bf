// Fetching ahead: while a run goes through its registrations one by one, the files it is going to
// fetch are already on their way: as streams side by side over one connection to a server that
// speaks HTTP/2, else a few at a time per server over the pooled connections. The
// run takes each outcome when it gets to that file, so what it logs and writes happens where it
// always did. Whatever the server answered ahead is final for the run: no file is asked for
// twice, and a file's time limits count once, from its first request.
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

// One file to fetch ahead, and where the run is going to put it.
struct TAheadFile {
    QString Url;
    QString Destination;
};

class TPrefetch {
public:
    // A larger body waits for the run in a scratch file beside its destination, not in memory.
    static constexpr qint64 MaxBodySize = 4 * 1024 * 1024;
    // Fetching ahead stops once the bodies waiting in memory for the run hold this much; the
    // files not begun by then are left to the run.
    static constexpr qint64 MaxKeptBytes = 64 * 1024 * 1024;
    // Files under way at once over a connection that takes several (each a HEAD, then a GET).
    static constexpr int MaxStreams = 100;

    // Starts fetching `files`, in this order, under `settings` and `limits`.
    TPrefetch(const std::vector<TAheadFile>& files, TConnectionSettings settings,
              const TDownloadLimits& limits = TDownloadLimits());
    // Drops what has not begun and waits for the transfers under way.
    ~TPrefetch();
    TPrefetch(const TPrefetch&) = delete;
    TPrefetch& operator=(const TPrefetch&) = delete;

    // What came of URL (for `destination`) when it was fetched ahead under exactly `settings`,
    // failures included; waits (in a local event loop when there is an application) while it is
    // still coming. Nothing when it was not asked for, never begun, or taken before. Other
    // settings than at the start mean nothing fetched ahead is used any more.
    std::optional<TFetchedAhead> Take(const QString& url, const QString& destination,
                                      const TConnectionSettings& settings);

private:
    enum class TState { Queued, InFlight, Done, Taken };
    struct TItem {
        TAheadFile File;
        QByteArray Origin;
        TState State = TState::Queued;
        bool Fetched = false;  // false: given up before it began
        TFetchedAhead Result;
    };

    // The limits of one file's transfer: the run's, with a signature's own size bound.
    TDownloadLimits LimitsFor(const QString& url) const;
    void Work(const QByteArray& origin);
    // Fetches over one connection: side by side once the server showed it speaks HTTP/2, else
    // one file after the other beside the pool's workers.
    void WorkMultiplexed(const QByteArray& origin, bool known);
    // A pool worker that starts once the first answer showed the server takes one request per
    // connection.
    void WorkUnlessMultiplexed(const QByteArray& origin);
    void Decide(const QByteArray& origin, bool multiplexing);
    void GiveUpQueued(const QByteArray* origin);
    void Wake();

    const TConnectionSettings FSettings;
    const TDownloadLimits FLimits;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<TItem> FItems;
    std::map<QString, size_t> FIndex;
    std::map<QByteArray, bool> FMultiplexing;  // per server, once known
    qint64 FKeptBytes = 0;
    bool FStop = false;
    std::vector<std::thread> FWorkers;
    // Lives on the thread that made the prefetch; workers post their wake-ups to it.
    std::unique_ptr<QObject> FRelay;
    QEventLoop* FWaitLoop = nullptr;  // only touched on the relay's thread
};

}  // namespace sources
