// A descriptor or news file read from its bytes step by step the way the update checker reads one
// it fetched, for checking a release before it is published: what a client takes from the file,
// or the client's own reason for not taking it and the line that reason is about. The names the
// checker asks for are here too, so that a check and the checker cannot disagree about them.
#pragma once

#include "core/news/NewsSelection.h"
#include "core/sources/DescriptorReader.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace sources {

// "Modul_12": the folder of a module's descriptors below the server's address or the local source.
QString DescriptorFolder(int ModulID);
// "update_12_3.xml": the descriptor of module 12 for major version 3.
QString DescriptorFileName(int ModulID, int ModulHauptversion);
// The news file, directly below the news address on the server, in NewsFolder in a local source.
inline const QString NewsFileName = QStringLiteral("news.xml");
inline const QString NewsFolder = QStringLiteral("news");

struct TFileReading {
    enum class TOutcome {
        Read,          // a client reads it
        NotAvailable,  // holds the server's not-available page: counts as missing, without a word
        // No XML document the client reads: a descriptor is skipped without a word, a news file
        // ends in an error box.
        NotXml,
        // Read, but refused with a warning; a descriptor's updates before the error still count.
        Malformed,
        NotShown,  // a news file whose current item no client ever shows
    };
    TOutcome Outcome = TOutcome::Read;
    QString Reason;      // the client's words; empty when it is read
    qsizetype Line = 0;  // the line Reason is about; 0: the file as a whole
};

struct TDescriptorReading : TFileReading {
    std::vector<TOfferedUpdate> Updates;  // what reaches a client's list, in document order
};

// `bytes`: the file's content, nullopt when it is larger than the checker reads. The
// installation directory's store value is the client's own and is not looked at; the root's
// reference to it is.
TDescriptorReading ReadDescriptorFile(const std::optional<QByteArray>& bytes);

struct TNewsReading : TFileReading {
    TNewsItemFit Fit = TNewsItemFit::NoItem;
    qint32 Id = 0;           // the current item's, when it fits
    QString UpdaterVersion;  // as written, when given
};

TNewsReading ReadNewsFile(const std::optional<QByteArray>& bytes);

}  // namespace sources
