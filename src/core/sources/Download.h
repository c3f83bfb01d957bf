// TDownload: one HTTPS transfer into a local file, run on a worker thread while the calling
// thread waits in a local event loop (windows stay responsive, no CPU is burnt while waiting).
#pragma once

#include "core/sources/XmlLoad.h"

#include <QByteArray>
#include <QString>

#include <chrono>

class QObject;

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

// HEAD and GET of URL into memory on the calling thread, silently (nothing logged, no progress),
// for a transfer made ahead of its time. True only after a 200 and the whole body, at most
// maxSize bytes; responseCode gets the last status (0 when none came).
bool FetchIntoMemory(const QString& URL, const TConnectionSettings& settings, qint64 maxSize,
                     QByteArray& body, int& responseCode);

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
    // When no answer came: why, in German words for the person ("Verbindung abgelehnt").
    const QString& TransportFailure() const { return FTransportFailure; }
    // When the body came but could not be stored in the destination (a full or unwritable
    // folder): the error naming the file and the system's reason. Empty otherwise.
    const QString& StoreFailure() const { return FStoreFailure; }

    // Files fetched ahead: a transfer without progress targets takes its outcome from there when
    // it was fetched under the same settings, and the body is written to the destination then.
    void SetPrefetch(sources::TPrefetch* prefetch) { FPrefetch = prefetch; }

private:
    TDownloadLimits FLimits;
    int FLastResponseCode = 0;
    QString FTransportFailure;
    QString FStoreFailure;
    sources::TPrefetch* FPrefetch = nullptr;  // not owned
};
