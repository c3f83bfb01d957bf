// The copy or download of one file, and the not-available page.
#include "core/sources/FileFetch.h"

#include "core/platform/FileCopy.h"
#include "core/platform/TextCodec.h"
#include "core/services/Log.h"
#include "core/sources/Download.h"
#include "core/sources/XmlDecoding.h"

#include <QByteArrayView>
#include <QFileInfo>
#include <QLatin1String>

#include <cstring>

namespace sources {

namespace {

// The page the download server sends, with status 200, for a file it does not have.
constexpr QByteArrayView kNotAvailableMarker("Datei steht nicht zur Verf&uuml;gung.");

}  // namespace

bool FetchFile(const TSource& source, bool& answered)
{
    if (!source.LocalSource.isEmpty()) {
        WriteLog(TLogAction::AppendLine,
                 source.Procedure + QStringLiteral(" - LocalSource wird verwendet: ") + source.LocalSource);
        const QString error = platform::CopyReplacing(source.LocalFile, source.Destination);
        answered = error.isEmpty() || QFileInfo(source.LocalSource).isDir();
        if (error.isEmpty())
            return true;
        WriteLog(TLogAction::AppendLine,
                 source.Procedure + QStringLiteral(" - Fehler beim Kopieren: \"") + error + u'"');
        return false;
    }
    WriteLog(TLogAction::AppendLine,
             source.Procedure + QStringLiteral(" - HTTPS-Quelle wird verwendet: ") + source.URL);
    TDownload download;
    download.SetPrefetch(source.Prefetch);
    const bool fetched = download.StartDownload(source.URL, source.Destination, nullptr, nullptr);
    answered = download.LastResponseCode() != 0;
    return fetched;
}

bool FetchFile(const TSource& source)
{
    bool answered = false;
    return FetchFile(source, answered);
}

// The marker is plain ASCII, which Windows-1252 and UTF-8 store byte for byte, so only a
// UTF-16 file needs decoding before the search.
bool ContainsNotAvailableMarker(const QByteArray& bytes)
{
    if (HasUtf16ByteOrderMark(bytes))
        return platform::DecodeText(bytes).contains(QLatin1String(kNotAvailableMarker));
    return ::memmem(bytes.constData(), static_cast<size_t>(bytes.size()), kNotAvailableMarker.data(),
                    static_cast<size_t>(kNotAvailableMarker.size())) != nullptr;
}

}  // namespace sources
