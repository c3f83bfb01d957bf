// The copy or download of one file, the not-available page, and the signature beside a file.
#include "core/sources/FileFetch.h"

#include "core/platform/files/FileCopy.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/files/FolderEntries.h"
#include "core/platform/text/TextCodec.h"
#include "core/platform/VorlandtError.h"
#include "core/services/Log.h"
#include "core/sources/Download.h"
#include "core/sources/SignatureCheck.h"
#include "core/sources/XmlDecoding.h"

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QLatin1String>
#include <QScopeGuard>

#include <future>
#include <system_error>

namespace sources {

namespace {

// The page the download server sends, with status 200, for a file it does not have.
constexpr QByteArrayView kNotAvailableMarker("Datei steht nicht zur Verf&uuml;gung.");

// Removes a fetched file; one that is already gone is fine. Also runs on a way out with an
// exception, so a failure to log must not raise.
void RemoveFetched(const QString& path)
{
    const QString reason = platform::RemoveName(path);
    if (reason.isEmpty())
        return;
    AppendLogLineQuietly(QStringLiteral("Datei kann nicht gelöscht werden: ") + path + QStringLiteral(" (") +
                         reason + u')');
}

// A fetched file that this machine could not keep: the run cannot go on, since every later file
// goes to the same folder, and a missing descriptor must never be taken for "no updates".
[[noreturn]] void RaiseStoreFailure(const QString& destination, const QString& error)
{
    const QString folder = QFileInfo(destination).path() + u'/';
    const QString text = QStringLiteral(
                             "Im temporären Verzeichnis \"%1\" kann keine abgerufene Datei gespeichert "
                             "werden. Die Suche nach Updates wurde abgebrochen.\r\n\r\n%2")
                             .arg(folder, error);
    throw EVorlandtError(text, EVorlandtError::Kind::InOut);
}

// Why a local source folder cannot be used, in words for the person.
QString FolderFailureText(const QString& folder)
{
    const platform::TPathProbe probe = platform::ProbePath(folder);
    switch (probe.kind) {
        case platform::TPathProbe::Kind::Found:
            return QStringLiteral("Es ist kein Ordner");
        case platform::TPathProbe::Kind::Missing:
            return QStringLiteral("Der Ordner ist nicht vorhanden");
        case platform::TPathProbe::Kind::Denied:
            return QStringLiteral("Zugriff verweigert");
        case platform::TPathProbe::Kind::ParentNotFolder:
            return QStringLiteral("Ein Teil des Pfades ist kein Ordner");
        case platform::TPathProbe::Kind::Other:
            break;
    }
    return probe.reason;
}

// The content of "FILE.sig" from beside the source's file, nullopt when there is none (no file,
// no answer, or the server's not-available page). A file too large to be a signature is neither
// copied nor downloaded past MaxSignatureFileSize and comes back empty, which is no signature
// either. Only the bytes are kept: a downloaded file is deleted.
std::optional<QByteArray> FetchSignature(const TSource& source)
{
    TSource signature = source;
    signature.URL = TSignatureCheck::SignatureFileName(source.URL);
    signature.LocalFile = TSignatureCheck::SignatureFileName(source.LocalFile);
    signature.Destination = TSignatureCheck::SignatureFileName(source.Destination);
    std::optional<QByteArray> content;
    if (!signature.LocalSource.isEmpty()) {
        // Read in place: a copy would take the whole of whatever lies there first.
        WriteLog(
            TLogAction::AppendLine,
            signature.Procedure + QStringLiteral(" - LocalSource wird verwendet: ") + signature.LocalSource);
        try {
            content =
                platform::ReadRegularFileWithin(signature.LocalFile, TSignatureCheck::MaxSignatureFileSize)
                    .value_or(QByteArray());
        } catch (const EVorlandtError& error) {
            WriteLog(
                TLogAction::AppendLine,
                signature.Procedure + QStringLiteral(" - Fehler beim Kopieren: \"") + error.message() + u'"');
        }
    } else {
        // Also when reading it raises: nothing of it stays in the temporary folder.
        const auto remove = qScopeGuard([&] { RemoveFetched(signature.Destination); });
        WriteLog(TLogAction::AppendLine,
                 signature.Procedure + QStringLiteral(" - HTTPS-Quelle wird verwendet: ") + signature.URL);
        TDownload download(TDownloadLimits{TSignatureCheck::MaxSignatureFileSize});
        download.SetPrefetch(signature.Prefetch);
        if (download.StartDownload(signature.URL, signature.Destination, nullptr, nullptr))
            content =
                platform::ReadRegularFileWithin(signature.Destination, TSignatureCheck::MaxSignatureFileSize,
                                                platform::TFileTrust::NoLinks)
                    .value_or(QByteArray());
        else if (download.LastTooLarge())
            content = QByteArray();
        else if (!download.StoreFailure().isEmpty())
            RaiseStoreFailure(signature.Destination, download.StoreFailure());
    }
    if (content && ContainsNotAvailableMarker(*content))
        content.reset();
    return content;
}

// Verifies a file on a thread of its own: hashing the whole file is nearly all of the check's
// cost, and it needs nothing the parse of the same bytes produces, so the two run side by side.
// The thread ends before this object does, on every way out.
class TBackgroundCheck {
public:
    TBackgroundCheck(const TSignatureCheck& check, const QByteArray& bytes, const QString& fileName,
                     std::optional<QByteArray> signature)
    {
        // The copy shares the bytes (read-only on both threads) instead of copying them.
        auto verify = [&check, bytes, fileName, signature = std::move(signature)] {
            return check.Check(bytes, fileName, signature);
        };
        try {
            FResult = std::async(std::launch::async, verify);
        } catch (const std::system_error&) {
            // No thread to be had: the check runs on the caller's thread when it asks.
            FResult = std::async(std::launch::deferred, verify);
        }
    }
    ~TBackgroundCheck()
    {
        if (FResult.valid())
            FResult.wait();
    }
    TBackgroundCheck(const TBackgroundCheck&) = delete;
    TBackgroundCheck& operator=(const TBackgroundCheck&) = delete;

    // Waits for the verdict; raises what the check raised.
    TSignatureCheck::Result Result() { return FResult.get(); }

    // For a way out with an exception: a check that raised is no good signature.
    bool GoodQuietly() noexcept
    {
        try {
            return Result() == TSignatureCheck::Result::Good;
        } catch (...) {
            return false;
        }
    }

private:
    std::future<TSignatureCheck::Result> FResult;
};

}  // namespace

bool FetchFile(const TSource& source, TFetchOutcome& outcome)
{
    outcome = TFetchOutcome();
    if (!source.LocalSource.isEmpty()) {
        WriteLog(TLogAction::AppendLine,
                 source.Procedure + QStringLiteral(" - LocalSource wird verwendet: ") + source.LocalSource);
        bool storeFailed = false;
        const QString error = platform::CopyReplacing(source.LocalFile, source.Destination,
                                                      platform::TDurability::Scratch, &storeFailed);
        if (error.isEmpty()) {
            outcome.Answered = true;
            return true;
        }
        WriteLog(TLogAction::AppendLine,
                 source.Procedure + QStringLiteral(" - Fehler beim Kopieren: \"") + error + u'"');
        if (storeFailed)
            RaiseStoreFailure(source.Destination, error);
        outcome.Answered = QFileInfo(source.LocalSource).isDir();
        if (!outcome.Answered)
            outcome.Failure = FolderFailureText(source.LocalSource);
        return false;
    }
    WriteLog(TLogAction::AppendLine,
             source.Procedure + QStringLiteral(" - HTTPS-Quelle wird verwendet: ") + source.URL);
    TDownload download(source.Limits);
    download.SetPrefetch(source.Prefetch);
    const bool fetched = download.StartDownload(source.URL, source.Destination, nullptr, nullptr);
    if (!download.StoreFailure().isEmpty())
        RaiseStoreFailure(source.Destination, download.StoreFailure());
    outcome.Answered = download.LastResponseCode() != 0;
    if (!fetched && !outcome.Answered)
        outcome.Failure = download.TransportFailure();
    return fetched;
}

bool FetchFile(const TSource& source)
{
    TFetchOutcome outcome;
    return FetchFile(source, outcome);
}

// The marker is plain ASCII, which Windows-1252 and UTF-8 store byte for byte, so only a
// UTF-16 file needs decoding before the search.
bool ContainsNotAvailableMarker(const QByteArray& bytes)
{
    if (HasUtf16ByteOrderMark(bytes))
        return platform::DecodeText(bytes).contains(QLatin1String(kNotAvailableMarker));
    return QByteArrayView(bytes).indexOf(kNotAvailableMarker) >= 0;
}

std::optional<TXmlLoadResult> LoadSignedXml(pugi::xml_document& document, const TSignatureCheck& check,
                                            const TSource& source, const QString& fileName,
                                            const std::optional<QByteArray>& bytes,
                                            const std::function<void(const pugi::xml_document&)>& readAhead,
                                            QString* refusal)
{
    if (!check.Enabled()) {
        pugi::xml_document parsed;
        TXmlLoadResult loaded = LoadXml(parsed, bytes);
        if (loaded.Error.isEmpty()) {
            if (readAhead)
                readAhead(parsed);
            document = std::move(parsed);
        }
        return loaded;
    }
    // A file too large to read is one no signature can vouch for; its signature is not fetched.
    TSignatureCheck::Result result = TSignatureCheck::Result::Invalid;
    if (bytes) {
        std::optional<QByteArray> signature;
        try {
            signature = FetchSignature(source);
        } catch (...) {
            // A signature that could not be stored leaves the file it was to vouch for unverified.
            RemoveFetched(source.Destination);
            throw;
        }
        TBackgroundCheck verifying(check, *bytes, fileName, std::move(signature));
        pugi::xml_document parsed;
        std::optional<TXmlLoadResult> loaded;
        try {
            loaded = LoadXml(parsed, bytes);
            // Hashing a large file takes longer than parsing it: the rest of the time is the
            // caller's to read on.
            if (readAhead && loaded->Error.isEmpty())
                readAhead(parsed);
            result = verifying.Result();
        } catch (...) {
            // Unverified bytes leave the temporary folder on this way out too (a verdict already
            // taken cannot be asked again and counts as no good one).
            if (!verifying.GoodQuietly())
                RemoveFetched(source.Destination);
            throw;
        }
        if (result == TSignatureCheck::Result::Good) {
            if (loaded->Error.isEmpty())
                document = std::move(parsed);
            return loaded;
        }
    }
    const QString refused = TSignatureCheck::LogText(fileName, result);
    WriteLog(TLogAction::AppendLine, refused);
    if (refusal)
        *refusal = TSignatureCheck::ReasonText(result);
    RemoveFetched(source.Destination);
    return std::nullopt;
}

}  // namespace sources
