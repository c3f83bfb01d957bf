// Fetching one file from where the settings say: a copy from the local source folder or a
// download from the server; the page the server sends for a file it does not have; and loading
// a fetched file once its signature holds.
#pragma once

#include "core/sources/Download.h"
#include "core/sources/XmlLoad.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

#include <pugixml.hpp>

class TSignatureCheck;

namespace sources {

class TPrefetch;

// Where one file comes from and goes to.
struct TSource {
    QString Procedure;  // the fetch operation, first word of its log lines
    QString URL;        // over HTTPS
    QString LocalFile;  // in the local source folder; empty: over HTTPS
    QString LocalSource;
    QString Destination;
    TPrefetch* Prefetch = nullptr;  // files fetched ahead, consulted for a download; not owned
    TDownloadLimits Limits;         // of a download
};

// What a fetch learnt about its source beyond yes or no.
struct TFetchOutcome {
    // Whether the source was there to say yes or no: any HTTP answer, or a local source folder
    // that exists (a missing file in it is its "no").
    bool Answered = false;
    // When it was not: why, in words for the person ("Verbindung abgelehnt").
    QString Failure;
};

// Copies or downloads the file; false when that failed (the destination is then not read).
// A file that came but cannot be stored in the temporary folder (full, unwritable, an I/O
// error) is no missing file: that raises EVorlandtError (kind InOut) naming the folder and the
// system's reason, since nothing fetched after it could be stored either.
bool FetchFile(const TSource& source, TFetchOutcome& outcome);
bool FetchFile(const TSource& source);

// True when the fetched bytes are the server's not-available page: the file counts as missing.
bool ContainsNotAvailableMarker(const QByteArray& bytes);

// Loads the fetched file's `bytes` (nullopt: too large to read) into `document` like LoadXml,
// when the check is off or the file's signature ("FILE.sig", fetched from beside the file the
// same way) verifies them as the file named `fileName` (the name the caller asked for). The
// signature is checked on a thread of its own while the bytes are parsed into a document of their
// own, and nothing of them reaches `document` before it has held. When it fails: logs the one
// line naming `fileName` and the reason, deletes the fetched file, leaves `document` as it was and
// returns nullopt, whatever the parse found. The signature file never stays behind.
// `readAhead`, when given, is called with the document as soon as it loaded, before it replaces
// `document` and, with the check on, while the check is still running: what it reads must stay
// with the caller until this returns a result. `refusal`, when given, gets the reason of a
// signature that failed, in the logged line's words ("Signatur fehlt").
std::optional<TXmlLoadResult> LoadSignedXml(
    pugi::xml_document& document, const TSignatureCheck& check, const TSource& source,
    const QString& fileName, const std::optional<QByteArray>& bytes,
    const std::function<void(const pugi::xml_document&)>& readAhead = nullptr, QString* refusal = nullptr);

}  // namespace sources
