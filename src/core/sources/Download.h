// TDownload: one HTTPS transfer into a local file, run on a worker thread while the calling
// thread waits in a local event loop (windows stay responsive, no CPU is burnt while waiting).
#pragma once

#include "core/sources/XmlLoad.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QObject;

namespace platform {
class TAtomicFile;
}

// One descriptor or news file may take this long, from the HEAD's first byte to the GET's last:
// a server that trickles a byte now and then must not hold a run (or a machine's unattended
// console run) for ever.
inline constexpr std::chrono::milliseconds kDownloadTimeLimit = std::chrono::minutes(5);

// The bounds of one transfer. The product uses the defaults; tests pass smaller ones.
struct TDownloadLimits {
    // A larger body is refused as soon as it announces or passes this size: nothing larger would
    // be read anyway, and it must not fill the temporary folder first.
    qint64 MaxBytes = sources::kMaxXmlFileSize;
    std::chrono::milliseconds TotalTime = kDownloadTimeLimit;
    // A request that receives less than a byte a second for this long is given up.
    std::chrono::seconds StallTime = std::chrono::seconds(60);
};

namespace sources {
class TPrefetch;
}

// What the settings store says about how to reach the servers, read once on the calling thread
// so that a transfer (and the connection it reuses) is made under exactly these values.
struct TConnectionSettings {
    QByteArray UserAgent;
    bool ProxyActive = false;
    QByteArray ProxyAddress;
    QByteArray ProxyUser;
    QByteArray ProxyPassword;
    QByteArray CaFile;  // trusted authorities named by the environment
    QByteArray CaPath;

    bool operator==(const TConnectionSettings&) const = default;
    // Everything that shapes a connection, as one value: connections made under another value
    // are never used again.
    QByteArray ConnectionKey() const;
};

// Reads the settings for the next transfer.
TConnectionSettings ReadConnectionSettings();

// What a transfer made ahead of its time came to. It is final for the run: the run's own download
// of the file takes it (and logs what it says) instead of asking the server again.
struct TFetchedAhead {
    int ResponseCode = 0;   // the last status, 0 when none came
    bool Complete = false;  // a 200 and the whole body
    bool TooLarge = false;  // given up for passing the limits' MaxBytes
    QString TransportFailure;  // why no server answered at all, as TDownload tells it
    QString StoreFailure;      // why the body could not be kept in this machine's folder
    // The body, when it fits the memory bound given to FetchAhead ...
    QByteArray Body;
    // ... else written beside its destination and not yet renamed to it; the file goes when the
    // last owner lets go without committing it.
    std::shared_ptr<platform::TAtomicFile> Spilled;
    // What the run's download logs about the transfer (each after its usual prefix).
    QStringList Failures;
};

// HEAD and GET of URL on the calling thread, silently (nothing logged, no progress), for a
// transfer made ahead of its time under `limits`. A body above `memoryBound` bytes goes into a
// scratch file beside `destination` instead of memory.
TFetchedAhead FetchAhead(const QString& URL, const QString& destination, const TConnectionSettings& settings,
                         const TDownloadLimits& limits, qint64 memoryBound);

// Files fetched ahead from one server over one connection, driven on the calling thread. When
// the server speaks HTTP/2 (chosen in the TLS handshake), the files' requests travel side by side
// as streams of that connection; over HTTP/1.1 one request follows the other. Each file is asked
// for with HEAD, and with GET only after a 200, as TDownload does; the outcome is a
// TFetchedAhead as FetchAhead gives.
class TMultiplexedFetch {
public:
    TMultiplexedFetch(const TConnectionSettings& settings, qint64 memoryBound);
    // Drops the transfers under way and what they wrote.
    ~TMultiplexedFetch();
    TMultiplexedFetch(const TMultiplexedFetch&) = delete;
    TMultiplexedFetch& operator=(const TMultiplexedFetch&) = delete;

    // Starts a file under `limits`; `tag` comes back with its outcome.
    void Add(std::size_t tag, const TDownloadLimits& limits, const QString& url, const QString& destination);
    // Lets the transfers go on for at most about `wait`; the files that came to an end meanwhile.
    std::vector<std::pair<std::size_t, TFetchedAhead>> Proceed(std::chrono::milliseconds wait);
    // Files begun and not yet handed back by Proceed.
    int Running() const;
    // Whether the connection carries several requests at once, once a first answer came.
    std::optional<bool> Multiplexing() const { return FMultiplexing; }

private:
    struct TStream;
    void Finish(TStream& stream);

    TConnectionSettings FSettings;
    qint64 FMemoryBound;
    void* FMulti = nullptr;  // CURLM
    std::vector<std::unique_ptr<TStream>> FStreams;
    std::vector<std::pair<std::size_t, TFetchedAhead>> FFinished;
    std::optional<bool> FMultiplexing;
};

class TDownload {
public:
    explicit TDownload(const TDownloadLimits& limits = TDownloadLimits());
    ~TDownload();
    TDownload(const TDownload&) = delete;
    TDownload& operator=(const TDownload&) = delete;

    // Transfers URL into DestinationFilename: HEAD first, GET only after a 200, no redirects,
    // TLS 1.2, user agent and proxy from the settings store. True only when the server answered
    // 200 and the whole body is in the destination; a failed transfer leaves an earlier file
    // there untouched. ProgressBar and lblStatus may be null; they receive, on the calling
    // thread, setMaximum(int)/setValue(int) and setText(QString) (a QProgressBar and a QLabel
    // fit, so does any object with these slots). A body larger than the limit, a transfer that
    // outlasts it, or CancelTransfers (core/sources/TransferCancel.h) end the transfer with false
    // and leave no new file. The destination is a scratch file of this run (the private temporary
    // folder): it is not synced to disk.
    bool StartDownload(const QString& URL, const QString& DestinationFilename, QObject* ProgressBar,
                       QObject* lblStatus);

    // The HTTP status of the last answer (0 when none came).
    int LastResponseCode() const { return FLastResponseCode; }
    // Whether the last transfer was refused for passing the limit's MaxBytes.
    bool LastTooLarge() const { return FLastTooLarge; }
    // When no answer came: why, in German words for the person ("Verbindung abgelehnt").
    const QString& TransportFailure() const { return FTransportFailure; }
    // When the body came but could not be stored in the destination (a full or unwritable
    // folder): the error naming the file and the system's reason. Empty otherwise.
    const QString& StoreFailure() const { return FStoreFailure; }

    // Files fetched ahead: a transfer without progress targets takes its outcome from there when
    // it was fetched under the same settings (whatever the server answered then), logs what
    // that transfer met, and the body reaches the destination then.
    void SetPrefetch(sources::TPrefetch* prefetch) { FPrefetch = prefetch; }

private:
    TDownloadLimits FLimits;
    int FLastResponseCode = 0;
    bool FLastTooLarge = false;
    QString FTransportFailure;
    QString FStoreFailure;
    sources::TPrefetch* FPrefetch = nullptr;  // not owned
};
