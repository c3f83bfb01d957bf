// TDownload on libcurl: the transfer runs on its own thread, the caller waits in a local event
// loop that the worker wakes, and progress reaches the caller's objects on the caller's thread.
#include "core/sources/Download.h"

#include "core/platform/files/AtomicFile.h"
#include "core/platform/net/CurlEasy.h"
#include "core/platform/net/CurlPool.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/net/CurlLibrary.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/Prefetch.h"
#include "core/sources/TransferCancel.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// A progress bar repaints on every setValue; more than about 20 a second only costs CPU.
constexpr auto ProgressInterval = std::chrono::milliseconds(50);

// A server that accepts nothing, or stops sending, must not hold the updater forever.
constexpr long ConnectTimeoutSeconds = 30;
constexpr long LowSpeedLimitBytes = 1;

const QString TextBegin = QStringLiteral("Download startet...");
const QString TextWork = QStringLiteral("Download läuft...");
const QString TextEnd = QStringLiteral("Download beendet...");

// Shared by the calling thread and the worker; whichever lets go last frees it.
struct TTransferJob {
    QString URL;
    QString DestinationFilename;
    TConnectionSettings Settings;
    // Set for a transfer made ahead of its time: the body goes here, at most MemoryLimit bytes,
    // beyond that into Spilled (beside DestinationFilename, left uncommitted); and what the run
    // logs about the transfer goes to Deferred.
    QByteArray* Memory = nullptr;
    qint64 MemoryLimit = 0;
    std::shared_ptr<platform::TAtomicFile> Spilled;
    QStringList* Deferred = nullptr;
    // Only ever touched on the calling thread (inside the posted progress calls).
    QPointer<QObject> ProgressBar;
    QPointer<QObject> StatusLabel;
    bool HasTargets = false;
    TDownloadLimits Limits;
    Clock::time_point Deadline;
    // Lives on the calling thread until the worker has been joined; progress and the wake-up are
    // posted to it. Null when there is no application object and so no event loop.
    QObject* Relay = nullptr;

    std::atomic<bool> DownloadInProcess{true};
    // Written by the worker before DownloadInProcess turns false, read after the join.
    long ResponseCode = 0;
    bool Complete = false;
    bool TooLarge = false;  // refused for passing Limits.MaxBytes
    // Why no server answered at all (set only then), in words for the person.
    QString TransportFailure;
    // Why the body could not be stored in the destination: this machine's trouble, not the
    // server's.
    QString StoreFailure;
};

int ClampToInt(qint64 value)
{
    return static_cast<int>(std::clamp<qint64>(value, 0, INT_MAX));
}

void LogException(const QString& url, const QString& message)
{
    WriteLog(TLogAction::AppendLine,
             QStringLiteral("StartDownload - Exception beim Download von \"%1\": %2").arg(url, message));
}

// A transfer made ahead of its time keeps what it met for the run, which logs it when it takes
// the file: the log then shows each request where the run is, once.
void Report(const TTransferJob& job, const QString& message)
{
    if (job.Deferred)
        job.Deferred->append(message);
    else
        LogException(job.URL, message);
}

// A refused certificate or handshake must not vanish with the other silent HEAD failures:
// it is either an attack or a broken trust store, and both need to show in the log.
bool IsTlsRefusal(CURLcode code)
{
    switch (code) {
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return true;
        default:
            return false;
    }
}

// Why a request that got no answer at all failed, in the words the person reads in the warning
// that no update source could be reached; libcurl's own text for the rarer causes.
QString TransportFailureText(const platform::TCurlEasy& connection, CURLcode code, bool proxyActive)
{
    long osError = 0;
    platform::Curl().easy_getinfo(connection.get(), CURLINFO_OS_ERRNO, &osError);
    long proxyStatus = 0;
    platform::Curl().easy_getinfo(connection.get(), CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
    if (proxyActive && proxyStatus == 407)
        return QStringLiteral("Der Proxy-Server verlangt eine gültige Anmeldung");
    if (proxyActive && proxyStatus >= 300)
        return QStringLiteral("Der Proxy-Server lehnt die Verbindung ab (Status %1)").arg(proxyStatus);
    if (IsTlsRefusal(code)) {
        return code == CURLE_PEER_FAILED_VERIFICATION
                   ? QStringLiteral("Das Zertifikat des Servers wird nicht anerkannt")
                   : QStringLiteral("Die sichere Verbindung (TLS) ist fehlgeschlagen");
    }
    switch (code) {
        case CURLE_COULDNT_RESOLVE_PROXY:
            return QStringLiteral("Der Name des Proxy-Servers ist unbekannt");
        case CURLE_COULDNT_RESOLVE_HOST:
            return QStringLiteral("Der Name des Servers ist unbekannt");
        case CURLE_OPERATION_TIMEDOUT:
            return QStringLiteral("Zeitüberschreitung");
        case CURLE_COULDNT_CONNECT:
            if (proxyActive)
                return QStringLiteral("Der Proxy-Server ist nicht erreichbar");
            switch (osError) {
                case ECONNREFUSED:
                    return QStringLiteral("Verbindung abgelehnt");
                case ENETUNREACH:
                    return QStringLiteral("Das Netzwerk ist nicht erreichbar");
                case EHOSTUNREACH:
                    return QStringLiteral("Der Rechner ist nicht erreichbar");
                case ETIMEDOUT:
                    return QStringLiteral("Zeitüberschreitung");
                default:
                    return QStringLiteral("Keine Verbindung möglich");
            }
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            return QStringLiteral("Die Verbindung wurde ohne Antwort beendet");
        default:
            return connection.ErrorText(code);
    }
}

// Called by libcurl between its waits, also while nothing arrives (about once a second then):
// the point where a cancelled transfer stops.
int StopWhenCancelled(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return sources::TransfersCancelled() ? 1 : 0;
}

// The time the next request may still take; at least a millisecond, since 0 means "no limit"
// to libcurl.
long RemainingMilliseconds(const TTransferJob& job)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(job.Deadline - Clock::now());
    return static_cast<long>(std::clamp<qint64>(left.count(), 1, LONG_MAX));
}

// Why a request ended by one of the transfer's bounds, or empty when it ended otherwise.
QString LimitFailure(const TTransferJob& job, CURLcode code, CURL* curl)
{
    if (code == CURLE_ABORTED_BY_CALLBACK && sources::TransfersCancelled())
        return QStringLiteral("Die Übertragung wurde abgebrochen");
    // libcurl's clock and ours differ by a few milliseconds; its connect and low-speed limits
    // give the same code but end far from the deadline.
    if (code == CURLE_OPERATION_TIMEDOUT && Clock::now() + std::chrono::seconds(1) >= job.Deadline)
        return QStringLiteral("Die Übertragung dauert länger als %1 Sekunden und wurde abgebrochen")
            .arg(std::chrono::duration_cast<std::chrono::seconds>(job.Limits.TotalTime).count());
    // A server that took the request and then fell silent (an unreachable one never got it).
    long requestSize = 0;
    if (code == CURLE_OPERATION_TIMEDOUT &&
        platform::Curl().easy_getinfo(curl, CURLINFO_REQUEST_SIZE, &requestSize) == CURLE_OK &&
        requestSize > 0)
        return QStringLiteral("Die Übertragung stockt seit %1 Sekunden und wurde abgebrochen")
            .arg(job.Limits.StallTime.count());
    return QString();
}

// Progress posted from the worker; carried out on the calling thread, where the targets live.
void PostProgress(const std::shared_ptr<TTransferJob>& job, const QString& text, std::optional<int> maximum,
                  std::optional<int> value)
{
    if (!job->Relay || !job->HasTargets)
        return;
    QMetaObject::invokeMethod(
        job->Relay,
        [job, text, maximum, value] {
            if (job->StatusLabel)
                QMetaObject::invokeMethod(job->StatusLabel, "setText", Q_ARG(QString, text));
            if (job->ProgressBar) {
                if (maximum)
                    QMetaObject::invokeMethod(job->ProgressBar, "setMaximum", Q_ARG(int, *maximum));
                if (value)
                    QMetaObject::invokeMethod(job->ProgressBar, "setValue", Q_ARG(int, *value));
            }
        },
        Qt::QueuedConnection);
}

// State of the GET while libcurl hands over the body.
struct TBodyWriter {
    std::shared_ptr<TTransferJob> Job;
    CURL* Curl = nullptr;
    platform::TAtomicFile* File = nullptr;
    qint64 MaxBytes = 0;
    qint64 Received = 0;
    long RefusedStatus = 0;  // a GET answered with anything but 200: its body is not wanted
    QString FileError;
    bool StoreFailed = false;  // FileError is the destination's
    bool Begun = false;
    Clock::time_point LastPost;

    void Begin(qint64 expected)
    {
        Begun = true;
        LastPost = Clock::now();
        PostProgress(Job, TextBegin, ClampToInt(expected), 0);
    }
};

size_t DiscardBody(char*, size_t size, size_t count, void*)
{
    return size * count;
}

size_t WriteBody(char* data, size_t size, size_t count, void* userData)
{
    auto* writer = static_cast<TBodyWriter*>(userData);
    const size_t length = size * count;
    try {
        if (!writer->Begun) {
            long status = 0;
            platform::Curl().easy_getinfo(writer->Curl, CURLINFO_RESPONSE_CODE, &status);
            if (status != 200) {
                // An error page must never end up in place of the file.
                writer->RefusedStatus = status;
                return 0;
            }
            curl_off_t expected = -1;
            platform::Curl().easy_getinfo(writer->Curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
            // An announced size above the limit is refused before a byte is written.
            if (expected > writer->MaxBytes) {
                writer->FileError = sources::FileTooLargeText(writer->MaxBytes);
                writer->Job->TooLarge = true;
                return 0;
            }
            writer->Begin(expected);
        }
        // A body without an announced size (or with a false one) is cut off where it passes
        // the limit; the temporary file goes with the refused transfer.
        if (static_cast<qint64>(length) > writer->MaxBytes - writer->Received) {
            writer->FileError = sources::FileTooLargeText(writer->MaxBytes);
            writer->Job->TooLarge = true;
            return 0;
        }
        try {
            TTransferJob& job = *writer->Job;
            if (!writer->File && job.Memory->size() + static_cast<qint64>(length) > job.MemoryLimit) {
                // Too large to be kept in memory: it goes on beside its destination, where the
                // run's download takes it over instead of fetching it once more.
                writer->StoreFailed = true;
                job.Spilled = std::make_shared<platform::TAtomicFile>(
                    job.DestinationFilename, platform::FileModeShared, platform::TDurability::Scratch);
                writer->File = job.Spilled.get();
                writer->File->Write(*job.Memory);
                *job.Memory = QByteArray();
                writer->StoreFailed = false;
            }
            if (writer->File) {
                // What fails from here on is this machine's folder, not the server.
                writer->StoreFailed = true;
                writer->File->Write(QByteArrayView(data, static_cast<qsizetype>(length)));
                writer->StoreFailed = false;
            } else {
                job.Memory->append(data, static_cast<qsizetype>(length));
            }
        } catch (const EVorlandtError& error) {
            writer->FileError = error.message();
            return 0;
        }
        writer->Received += static_cast<qint64>(length);
        const auto now = Clock::now();
        if (now - writer->LastPost >= ProgressInterval) {
            writer->LastPost = now;
            PostProgress(writer->Job, TextWork, std::nullopt, ClampToInt(writer->Received));
        }
        return length;
    } catch (...) {
        // Nothing may unwind through libcurl's C frames.
        writer->FileError = QStringLiteral("Interner Fehler beim Schreiben");
        return 0;
    }
}

QByteArray ProxyAddress(QString server, qint32 port)
{
    // A bare IPv6 address needs brackets to be told apart from the port.
    if (server.contains(u':') && !server.startsWith(u'['))
        server = u'[' + server + u']';
    return QStringLiteral("http://%1:%2").arg(server).arg(port).toUtf8();
}

// Everything both requests share beyond the common set-up (no signals, no redirects): identity,
// proxy, TLS, time limits. The byte arrays given to libcurl are copied by it.
void ConfigureConnection(platform::TCurlEasy& connection, const TConnectionSettings& settings)
{
    CURL* curl = connection.get();
    platform::Curl().easy_setopt(curl, CURLOPT_USERAGENT, settings.UserAgent.constData());

    if (settings.ProxyActive) {
        platform::Curl().easy_setopt(curl, CURLOPT_PROXY, settings.ProxyAddress.constData());
        // The configured proxy carries every request; no_proxy from the environment must not
        // route some of them around it.
        platform::Curl().easy_setopt(curl, CURLOPT_NOPROXY, "");
        if (!settings.ProxyUser.isEmpty()) {
            platform::Curl().easy_setopt(curl, CURLOPT_PROXYUSERNAME, settings.ProxyUser.constData());
            platform::Curl().easy_setopt(curl, CURLOPT_PROXYPASSWORD, settings.ProxyPassword.constData());
            // Credentials go out only when the proxy asks, in the strongest scheme it offers.
            platform::Curl().easy_setopt(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
        }
    } else {
        // Switched off means direct: http_proxy, https_proxy and ALL_PROXY are not consulted.
        connection.SetDirect();
    }

    platform::Curl().easy_setopt(
        curl, CURLOPT_SSLVERSION,
        static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
    platform::Curl().easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    platform::Curl().easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!settings.CaFile.isEmpty())
        platform::Curl().easy_setopt(curl, CURLOPT_CAINFO, settings.CaFile.constData());
    if (!settings.CaPath.isEmpty())
        platform::Curl().easy_setopt(curl, CURLOPT_CAPATH, settings.CaPath.constData());

    platform::Curl().easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds);
    platform::Curl().easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, LowSpeedLimitBytes);
}

// "https://host:port": the server a connection goes to, for the limit of connections per server.
QByteArray OriginOf(const QUrl& url)
{
    const int port = url.port(url.scheme() == QLatin1String("http") ? 80 : 443);
    return (url.scheme() + QStringLiteral("://") + url.host() + u':' + QString::number(port)).toUtf8();
}

// The one place a transfer gets its handle: from the process's pool, with the connection a
// previous transfer to the same server left open under the same settings, and configured anew;
// invalid when libcurl cannot make one.
platform::TCurlLease OpenConnection(const TConnectionSettings& settings, const QUrl& url)
{
    // The download server names its files directly; a redirect to another address is refused
    // by the common set-up.
    platform::TCurlLease connection =
        platform::BorrowCurl(settings.ConnectionKey(), OriginOf(url), "https,http");
    if (connection.valid())
        ConfigureConnection(*connection, settings);
    return connection;
}

// The HEAD's options, on a handle set up for its connection.
void PrepareHead(const TTransferJob& job, platform::TCurlEasy& connection)
{
    CURL* curl = connection.get();
    const QByteArray url = QUrl(job.URL, QUrl::TolerantMode).toEncoded();
    platform::Curl().easy_setopt(curl, CURLOPT_URL, url.constData());  // copied by libcurl
    platform::Curl().easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    platform::Curl().easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &StopWhenCancelled);
    platform::Curl().easy_setopt(curl, CURLOPT_NOBODY, 1L);
    platform::Curl().easy_setopt(curl, CURLOPT_TIMEOUT_MS, RemainingMilliseconds(job));
    platform::Curl().easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                                 static_cast<long>(job.Limits.StallTime.count()));
    // Nothing of the HEAD's answer may end up on stdout, libcurl's default destination.
    platform::Curl().easy_setopt(curl, CURLOPT_WRITEFUNCTION, &DiscardBody);
    connection.ClearError();
}

// What the HEAD's outcome means: true when the GET follows.
bool HeadAnswered(TTransferJob& job, platform::TCurlEasy& connection, CURLcode head)
{
    job.ResponseCode = connection.ResponseCode();
    if (head != CURLE_OK) {
        const QString limit = LimitFailure(job, head, connection.get());
        // No answer at all: why, for the warning that no source could be reached.
        if (job.ResponseCode == 0)
            job.TransportFailure =
                limit.isEmpty() ? TransportFailureText(connection, head, job.Settings.ProxyActive) : limit;
        // Unreachable servers and refusing proxies simply mean "no file"; TLS refusals
        // (see IsTlsRefusal) and the transfer's own bounds are logged.
        if (!limit.isEmpty())
            Report(job, limit);
        else if (IsTlsRefusal(head))
            Report(job, connection.ErrorText(head));
        return false;
    }
    // Redirects and error answers mean: nothing to fetch, silently.
    return job.ResponseCode == 200;
}

// The GET's state while the body arrives; it stays where it was made (libcurl holds the writer).
struct TGetState {
    std::optional<platform::TAtomicFile> File;
    TBodyWriter Writer;
};

// The GET's options, writing into a temporary file beside the destination, renamed over it
// only when the whole body arrived: a broken transfer leaves the previous file as it was.
// False (reported) when the file cannot be made.
bool PrepareGet(const std::shared_ptr<TTransferJob>& job, platform::TCurlEasy& connection, TGetState& state)
{
    CURL* curl = connection.get();
    if (!job->Memory) {
        try {
            state.File.emplace(job->DestinationFilename, platform::FileModeShared,
                               platform::TDurability::Scratch);
        } catch (const EVorlandtError& error) {
            job->StoreFailure = error.message();
            Report(*job, error.message());
            return false;
        }
    }
    TBodyWriter& writer = state.Writer;
    writer.Job = job;
    writer.Curl = curl;
    writer.File = state.File ? &*state.File : nullptr;
    writer.MaxBytes = job->Limits.MaxBytes;
    platform::Curl().easy_setopt(curl, CURLOPT_NOBODY, 0L);
    platform::Curl().easy_setopt(curl, CURLOPT_TIMEOUT_MS, RemainingMilliseconds(*job));
    platform::Curl().easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                                 static_cast<long>(job->Limits.StallTime.count()));
    platform::Curl().easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    platform::Curl().easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBody);
    platform::Curl().easy_setopt(curl, CURLOPT_WRITEDATA, &writer);
    connection.ClearError();
    return true;
}

// What the GET's outcome means: the file in place (or the body kept) and Complete, or the
// failure reported.
void GetAnswered(const std::shared_ptr<TTransferJob>& job, platform::TCurlEasy& connection, CURLcode code,
                 TGetState& state)
{
    CURL* curl = connection.get();
    TBodyWriter& writer = state.Writer;
    std::optional<platform::TAtomicFile>& file = state.File;
    job->ResponseCode = connection.ResponseCode();
    curl_off_t expected = -1;
    platform::Curl().easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);

    // An empty body never reaches the writer; the caller's display still sees a whole transfer.
    if (!writer.Begun && code == CURLE_OK && job->ResponseCode == 200)
        writer.Begin(0);

    QString failure;
    if (writer.RefusedStatus != 0 || (code == CURLE_OK && job->ResponseCode != 200))
        failure = QStringLiteral("Der Server antwortet mit dem Status %1")
                      .arg(writer.RefusedStatus != 0 ? writer.RefusedStatus : job->ResponseCode);
    else if (!writer.FileError.isEmpty())
        failure = writer.FileError;
    else if (const QString limit = LimitFailure(*job, code, curl); !limit.isEmpty())
        failure = limit;
    else if (code != CURLE_OK)
        failure = connection.ErrorText(code);
    else if (expected >= 0 && expected != writer.Received)
        failure = QStringLiteral("Die Übertragung ist unvollständig: %1 von %2 Bytes")
                      .arg(writer.Received)
                      .arg(static_cast<qint64>(expected));

    if (writer.StoreFailed)
        job->StoreFailure = writer.FileError;

    if (failure.isEmpty() && file) {
        try {
            file->Commit();
        } catch (const EVorlandtError& error) {
            failure = error.message();
            job->StoreFailure = failure;
        }
    }
    if (failure.isEmpty()) {
        job->Complete = true;
    } else {
        // The new file goes; the previous one under the name stays as it was.
        file.reset();
        job->Spilled.reset();
        Report(*job, failure);
    }

    if (writer.Begun) {
        // On success the bar ends full, also when the size was not announced in advance.
        if (job->Complete && expected < 0)
            PostProgress(job, TextEnd, ClampToInt(writer.Received), ClampToInt(writer.Received));
        else if (job->Complete)
            PostProgress(job, TextEnd, std::nullopt, ClampToInt(expected));
        else
            PostProgress(job, TextEnd, std::nullopt, std::nullopt);
    }
}

void GetBody(const std::shared_ptr<TTransferJob>& job, platform::TCurlEasy& connection)
{
    auto state = std::make_unique<TGetState>();
    if (PrepareGet(job, connection, *state))
        GetAnswered(job, connection, connection.Perform(), *state);
}

// The worker's whole work: HEAD, and GET only after a 200 to the HEAD.
void RunTransfer(const std::shared_ptr<TTransferJob>& job)
{
    try {
        const QUrl parsed(job->URL, QUrl::TolerantMode);
        const platform::TCurlLease connection = OpenConnection(job->Settings, parsed);
        if (!connection.valid()) {
            Report(*job, QStringLiteral("libcurl lässt sich nicht initialisieren"));
            return;
        }
        PrepareHead(*job, *connection);
        if (HeadAnswered(*job, *connection, connection->Perform()))
            GetBody(job, *connection);
    } catch (const std::exception& error) {
        job->Complete = false;
        job->Spilled.reset();
        try {
            Report(*job, QString::fromUtf8(error.what()));
        } catch (...) {
        }
    } catch (...) {
        job->Complete = false;
        job->Spilled.reset();
    }
}

// The calling thread's side of the wait: the worker posts the wake-up to Relay, which lives
// here; Relay is declared after Loop so that it (and any wake-up still queued for it) goes first.
struct TWaiter {
    QEventLoop Loop;
    QObject Relay;
};

// A body fetched ahead reaches its destination as a download's would: a new file renamed over
// the name once all of it is written. Empty, or why it could not be stored.
QString KeepFetchedAhead(const QString& url, const QString& destination, const TFetchedAhead& ahead)
{
    try {
        if (ahead.Spilled) {
            ahead.Spilled->Commit();
            return QString();
        }
        platform::TAtomicFile file(destination, platform::FileModeShared, platform::TDurability::Scratch);
        file.Write(ahead.Body);
        file.Commit();
        return QString();
    } catch (const EVorlandtError& error) {
        LogException(url, error.message());
        return error.message();
    }
}

}  // namespace

QByteArray TConnectionSettings::ConnectionKey() const
{
    // Lengths first, so that no two different values join to the same bytes.
    QByteArray key;
    for (const QByteArray* part : {&ProxyAddress, &ProxyUser, &ProxyPassword, &CaFile, &CaPath})
        key += QByteArray::number(part->size()) + ':' + *part;
    return key + (ProxyActive ? "P" : "D");
}

TConnectionSettings ReadConnectionSettings()
{
    TConnectionSettings settings;
    QString userAgent = ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::UserAgent,
                                        SettingsKeys::UserAgentDefault);
    // libcurl sends the text as it is: a line break in the stored value would start a header
    // of its own.
    userAgent.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    settings.UserAgent = userAgent.toUtf8();

    settings.ProxyActive = ReadBoolValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::ProxyAktiv,
                                         SettingsKeys::ProxyAktivDefault);
    if (settings.ProxyActive) {
        const QString server = ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy,
                                               SettingsKeys::ProxyServer, SettingsKeys::ProxyServerDefault);
        const qint32 port = ReadIntegerValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::ProxyPort,
                                             SettingsKeys::ProxyPortDefault);
        settings.ProxyAddress = ProxyAddress(server, port);
        settings.ProxyUser =
            ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::ProxyUsername, QString())
                .toUtf8();
        if (!settings.ProxyUser.isEmpty())
            settings.ProxyPassword = ScramblePassword(ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy,
                                                                      SettingsKeys::ProxyPassword, QString()),
                                                      SettingsKeys::PasswordScrambleKey)
                                         .toUtf8();
    }
    // libcurl uses its compiled-in bundle and ignores OpenSSL's variables; honour them as the
    // OpenSSL tools do, so an administrator (or a test) can name the trusted authorities.
    settings.CaFile = qgetenv("SSL_CERT_FILE");
    settings.CaPath = qgetenv("SSL_CERT_DIR");
    return settings;
}

TFetchedAhead FetchAhead(const QString& URL, const QString& destination, const TConnectionSettings& settings,
                         const TDownloadLimits& limits, qint64 memoryBound)
{
    // libcurl is set up by the transfer itself, where a library that cannot be loaded becomes
    // this file's failure: this runs on a worker thread, where nothing else would catch it.
    TFetchedAhead result;
    auto job = std::make_shared<TTransferJob>();
    job->URL = URL;
    job->DestinationFilename = destination;
    job->Settings = settings;
    job->Limits = limits;
    job->Deadline = Clock::now() + limits.TotalTime;
    job->Memory = &result.Body;
    job->MemoryLimit = memoryBound;
    job->Deferred = &result.Failures;
    RunTransfer(job);
    result.ResponseCode = static_cast<int>(job->ResponseCode);
    result.Complete = job->Complete;
    result.TooLarge = job->TooLarge;
    result.TransportFailure = job->TransportFailure;
    result.StoreFailure = job->StoreFailure;
    result.Spilled = std::move(job->Spilled);
    if (!result.Complete)
        result.Body.clear();
    return result;
}

struct TMultiplexedFetch::TStream {
    std::size_t Tag = 0;
    std::shared_ptr<TTransferJob> Job;
    std::unique_ptr<platform::TCurlEasy> Handle;
    std::unique_ptr<TGetState> Get;  // once the GET runs
    TFetchedAhead Result;            // the body arrives in Result.Body
    bool Added = false;              // to the multi handle
};

TMultiplexedFetch::TMultiplexedFetch(const TConnectionSettings& settings, qint64 memoryBound)
    : FSettings(settings), FMemoryBound(memoryBound)
{
    platform::EnsureCurlInitialised();
    CURLM* multi = platform::Curl().multi_init();
    FMulti = multi;
    if (!multi)
        return;
    platform::Curl().multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
    // One connection: over HTTP/2 it carries every stream, over HTTP/1.1 one request after the
    // other, each file's GET right after its HEAD.
    platform::Curl().multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, 1L);
}

TMultiplexedFetch::~TMultiplexedFetch()
{
    auto* multi = static_cast<CURLM*>(FMulti);
    for (const std::unique_ptr<TStream>& stream : FStreams)
        if (stream->Added)
            platform::Curl().multi_remove_handle(multi, stream->Handle->get());
    FStreams.clear();
    if (multi)
        platform::Curl().multi_cleanup(multi);
}

void TMultiplexedFetch::Add(std::size_t tag, const TDownloadLimits& limits, const QString& url,
                            const QString& destination)
{
    auto stream = std::make_unique<TStream>();
    stream->Tag = tag;
    auto job = std::make_shared<TTransferJob>();
    job->URL = url;
    job->DestinationFilename = destination;
    job->Settings = FSettings;
    job->Limits = limits;
    job->Deadline = Clock::now() + limits.TotalTime;
    job->Memory = &stream->Result.Body;
    job->MemoryLimit = FMemoryBound;
    job->Deferred = &stream->Result.Failures;
    stream->Job = job;
    stream->Handle = std::make_unique<platform::TCurlEasy>("https,http");
    if (!FMulti || !stream->Handle->valid()) {
        Report(*job, QStringLiteral("libcurl lässt sich nicht initialisieren"));
        Finish(*stream);
        return;
    }
    ConfigureConnection(*stream->Handle, FSettings);
    CURL* curl = stream->Handle->get();
    platform::Curl().easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    // Wait for the connection under way rather than open another: it may take every stream.
    platform::Curl().easy_setopt(curl, CURLOPT_PIPEWAIT, 1L);
    platform::Curl().easy_setopt(curl, CURLOPT_PRIVATE, stream.get());
    PrepareHead(*job, *stream->Handle);
    stream->Added = platform::Curl().multi_add_handle(static_cast<CURLM*>(FMulti), curl) == CURLM_OK;
    if (!stream->Added) {
        Report(*job, QStringLiteral("libcurl lässt sich nicht initialisieren"));
        Finish(*stream);
        return;
    }
    FStreams.push_back(std::move(stream));
}

void TMultiplexedFetch::Finish(TStream& stream)
{
    TTransferJob& job = *stream.Job;
    TFetchedAhead result = std::move(stream.Result);
    result.ResponseCode = static_cast<int>(job.ResponseCode);
    result.Complete = job.Complete;
    result.TooLarge = job.TooLarge;
    result.TransportFailure = job.TransportFailure;
    result.StoreFailure = job.StoreFailure;
    result.Spilled = std::move(job.Spilled);
    if (!result.Complete)
        result.Body.clear();
    FFinished.emplace_back(stream.Tag, std::move(result));
}

namespace {

// What the server chose in the TLS handshake, as soon as that is through: HTTP/2 or not. Known
// before the first answer, so that a slow first file does not hold up the others.
std::optional<bool> NegotiatedHttp2(CURL* curl)
{
    const curl_tlssessioninfo* session = nullptr;
    if (platform::Curl().easy_getinfo(curl, CURLINFO_TLS_SSL_PTR, &session) != CURLE_OK || !session ||
        session->backend != CURLSSLBACKEND_OPENSSL || !session->internals)
        return std::nullopt;
    const platform::TCurlLibrary& library = platform::Curl();
    if (!library.SSL_is_init_finished || !library.SSL_get0_alpn_selected)
        return std::nullopt;
    const SSL* ssl = static_cast<const SSL*>(session->internals);
    if (!library.SSL_is_init_finished(ssl))
        return std::nullopt;
    const unsigned char* protocol = nullptr;
    unsigned int length = 0;
    library.SSL_get0_alpn_selected(ssl, &protocol, &length);
    return length == 2 && protocol[0] == 'h' && protocol[1] == '2';
}

}  // namespace

int TMultiplexedFetch::Running() const
{
    return static_cast<int>(FStreams.size());
}

std::vector<std::pair<std::size_t, TFetchedAhead>> TMultiplexedFetch::Proceed(std::chrono::milliseconds wait)
{
    auto* multi = static_cast<CURLM*>(FMulti);
    const auto step = [&] {
        int running = 0;
        platform::Curl().multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg* message = platform::Curl().multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            CURL* curl = message->easy_handle;
            const CURLcode code = message->data.result;
            TStream* stream = nullptr;
            platform::Curl().easy_getinfo(curl, CURLINFO_PRIVATE, &stream);
            platform::Curl().multi_remove_handle(multi, curl);
            stream->Added = false;
            const std::shared_ptr<TTransferJob>& job = stream->Job;
            platform::TCurlEasy& handle = *stream->Handle;
            try {
                if (!stream->Get) {
                    if (!FMultiplexing) {
                        long version = 0;
                        if (platform::Curl().easy_getinfo(curl, CURLINFO_HTTP_VERSION, &version) ==
                                CURLE_OK &&
                            version != 0)
                            FMultiplexing = version >= CURL_HTTP_VERSION_2_0;
                    }
                    if (HeadAnswered(*job, handle, code)) {
                        stream->Get = std::make_unique<TGetState>();
                        if (PrepareGet(job, handle, *stream->Get)) {
                            stream->Added = platform::Curl().multi_add_handle(multi, curl) == CURLM_OK;
                            if (stream->Added)
                                continue;
                            Report(*job, QStringLiteral("libcurl lässt sich nicht initialisieren"));
                        }
                    }
                } else {
                    GetAnswered(job, handle, code, *stream->Get);
                }
            } catch (const std::exception& error) {
                job->Complete = false;
                job->Spilled.reset();
                Report(*job, QString::fromUtf8(error.what()));
            }
            Finish(*stream);
            FStreams.erase(
                std::find_if(FStreams.begin(), FStreams.end(),
                             [&](const std::unique_ptr<TStream>& s) { return s.get() == stream; }));
        }
    };
    if (multi && FFinished.empty()) {
        step();
        if (FFinished.empty() && !FStreams.empty()) {
            platform::Curl().multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
            step();
        }
    }
    for (auto it = FStreams.begin(); !FMultiplexing && it != FStreams.end(); ++it)
        FMultiplexing = NegotiatedHttp2((*it)->Handle->get());
    return std::exchange(FFinished, {});
}

TDownload::TDownload(const TDownloadLimits& limits) : FLimits(limits) {}
TDownload::~TDownload() = default;

bool TDownload::StartDownload(const QString& URL, const QString& DestinationFilename, QObject* ProgressBar,
                              QObject* lblStatus)
{
    // Set up here, before any worker runs: the first set-up must not race another thread's.
    platform::EnsureCurlInitialised();
    FLastResponseCode = 0;
    FLastTooLarge = false;
    FTransportFailure.clear();
    FStoreFailure.clear();
    // After the window closed or the console program was interrupted nothing new starts.
    if (sources::TransfersCancelled())
        return false;
    const sources::TRunningTransfer running;
    TConnectionSettings settings = ReadConnectionSettings();
    WriteLog(TLogAction::AppendLine, settings.ProxyActive
                                         ? QStringLiteral("StartDownload - Proxy aktiv")
                                         : QStringLiteral("StartDownload - Proxy nicht aktiv"));

    if (FPrefetch && !ProgressBar && !lblStatus) {
        if (const std::optional<TFetchedAhead> ahead = FPrefetch->Take(URL, DestinationFilename, settings)) {
            FLastResponseCode = ahead->ResponseCode;
            FLastTooLarge = ahead->TooLarge;
            FTransportFailure = ahead->TransportFailure;
            FStoreFailure = ahead->StoreFailure;
            for (const QString& failure : ahead->Failures)
                LogException(URL, failure);
            if (!ahead->Complete)
                return false;
            FStoreFailure = KeepFetchedAhead(URL, DestinationFilename, *ahead);
            return FStoreFailure.isEmpty();
        }
    }

    auto job = std::make_shared<TTransferJob>();
    job->Limits = FLimits;
    job->Deadline = Clock::now() + FLimits.TotalTime;
    job->URL = URL;
    job->DestinationFilename = DestinationFilename;
    job->Settings = std::move(settings);
    job->ProgressBar = ProgressBar;
    job->StatusLabel = lblStatus;
    job->HasTargets = ProgressBar != nullptr || lblStatus != nullptr;

    // Without an application object there is no event loop to keep alive: the caller simply
    // blocks until the worker is done, and progress has nowhere to go.
    std::unique_ptr<TWaiter> waiter;
    if (QCoreApplication::instance()) {
        waiter = std::make_unique<TWaiter>();
        job->Relay = &waiter->Relay;
    }

    TWaiter* const wake = waiter.get();
    std::thread worker;
    try {
        worker = std::thread([job, wake] {
            RunTransfer(job);
            // The flag first, the wake-up second: the waiting side never handles a wake-up while
            // the flag still says "running".
            job->DownloadInProcess.store(false, std::memory_order_release);
            if (wake)
                QMetaObject::invokeMethod(
                    &wake->Relay, [wake] { wake->Loop.quit(); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error& error) {
        LogException(URL, QString::fromLocal8Bit(error.what()));
        FTransportFailure = QString::fromLocal8Bit(error.what());
        return false;
    }

    // A wake-up posted before exec() waits in the queue and ends the loop at once. When the loop
    // ends for another reason (the application quitting), the join below waits for the transfer,
    // which CancelTransfers or its time limit ends.
    if (wake && job->DownloadInProcess.load(std::memory_order_acquire))
        wake->Loop.exec();
    worker.join();

    FLastResponseCode = static_cast<int>(job->ResponseCode);
    FLastTooLarge = job->TooLarge;
    FTransportFailure = job->TransportFailure;
    FStoreFailure = job->StoreFailure;
    return job->Complete;
}
