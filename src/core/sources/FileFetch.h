// Fetching one file from where the settings say: a copy from the local source folder or a
// download from the server; and the page the server sends for a file it does not have.
#pragma once

#include <QByteArray>
#include <QString>

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
};

// Copies or downloads the file; false when that failed (the destination is then not read).
// `answered` tells whether the source was there to say yes or no: any HTTP answer, or a local
// source folder that exists (a missing file in it is its "no").
bool FetchFile(const TSource& source, bool& answered);
bool FetchFile(const TSource& source);

// True when the fetched bytes are the server's not-available page: the file counts as missing.
bool ContainsNotAvailableMarker(const QByteArray& bytes);

}  // namespace sources
