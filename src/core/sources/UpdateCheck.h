// TUpdateCheck: fetches update descriptors and the news file (from the download server or a
// local source folder) and reads a module's descriptor into the update catalog. Reading the
// descriptor's offers is in DescriptorReader, the stored check schedule in
// core/settings/CheckSchedule, which news items are shown in core/news/NewsSelection.
#pragma once

#include "core/sources/Download.h"

#include <QString>

#include <pugixml.hpp>

#include <memory>
#include <utility>
#include <vector>

class TSignatureCheck;
class TUpdates;
struct TDescriptorOffers;

namespace sources {
class TPrefetch;
}

// What checking one module found, beyond the true or false of ReadVersionTree: what a report of
// the search says about the module.
struct TModuleCheck {
    enum class TKind {
        NotChecked,        // the interval gate stopped it
        Read,              // the descriptor was read
        Unreachable,       // the source gave no answer at all
        Missing,           // the source answered that it has no descriptor for it
        SignatureRefused,  // the descriptor's signature did not hold
        Malformed,         // the descriptor could not be read
    };
    TKind Kind = TKind::NotChecked;
    // The download server's base address (credentials left out) or the local source folder.
    QString Source;
    bool SourceIsFolder = false;
    // The descriptor's name ("update_12_5.xml"), once it was asked for.
    QString File;
    // Why it was not read, in the words of its diagnostic log line; empty for Read and NotChecked.
    QString Reason;
};

class TUpdateCheck {
public:
    explicit TUpdateCheck(TUpdates* Updates);
    ~TUpdateCheck();
    TUpdateCheck(const TUpdateCheck&) = delete;
    TUpdateCheck& operator=(const TUpdateCheck&) = delete;

    // The signature keys are read from the store at the first fetch and kept; after this call
    // the next fetch reads them again. A search calls it first, so that every search sees the
    // keys configured at its start and logs a bad one once.
    void ReloadSignatureKeys();

    // Checks one module: interval gate (unless ignored), fetch, evaluation. True when the
    // descriptor was fetched and read without error.
    bool ReadVersionTree(const QString& ModulBez, int ModulID, int ModulHauptversion,
                         bool IgnoreCheckInterval);

    bool DownloadUpdateXML(int ModulID, int ModulHauptversion);

    // Starts fetching the descriptors of these modules (ID, main version) from the download
    // server in the background; DownloadUpdateXML then takes them from there. Nothing happens
    // with a local source folder or when fetching ahead is switched off.
    void FetchUpdateXMLsAhead(const std::vector<std::pair<int, int>>& modules);
    // Drops what was fetched ahead and not used.
    void EndFetchAhead();
    // On by default; off, every descriptor is fetched only when its module is checked.
    void SetFetchAhead(bool on) { FFetchAheadOn = on; }
    // The bounds of every transfer of this check; the defaults unless a caller narrows them.
    void SetDownloadLimits(const TDownloadLimits& limits) { FLimits = limits; }

    // Whether the last ReadVersionTree or DownloadUpdateXML heard from its source at all: the
    // descriptor, a refusal such as 404, or the not-available page all count; a server or local
    // folder that could not be reached, or a check the interval gate stopped, do not.
    bool SourceAnswered() const { return FSourceAnswered; }
    // What the last ReadVersionTree or DownloadUpdateXML found.
    const TModuleCheck& LastModuleCheck() const { return FModuleCheck; }
    bool DownloadNewsXML();

    // The news step of an update run: fetches the news file, shows the
    // postponed items due today, then the file's first item when it is new. True when that item
    // was shown. Raises EVorlandtError (kind Convert) for an "id" or "updaterversion" that is no
    // integer.
    bool CheckForNews();
    // Shows every postponed item due today; true when it ran through.
    bool OldNewsExist();
    // Shows the news file's first item when it is meant for this updater and newer than the one
    // evaluated last; true when it was shown.
    bool NewsExist();

    const pugi::xml_document& xmlVersionen() const { return FxmlVersionen; }
    const pugi::xml_document& xmlNews() const { return FxmlNews; }
    const QString& xmlVersionenFilename() const { return FxmlVersionenFilename; }

private:
    bool CheckInterval();
    bool GetVersionsFromXML(const QString& ModulBez, int ModulNr, int Hauptversion);
    // The warning for a descriptor that is damaged rather than missing: logged and shown with
    // the file's name and `error`.
    void ReportMalformedDescriptor(const QString& error);
    const TSignatureCheck& SignatureCheck();

    pugi::xml_document FxmlVersionen;
    pugi::xml_document FxmlNews;
    QString FxmlVersionenFilename;
    int FHauptversion = 0;
    bool FSourceAnswered = false;
    TModuleCheck FModuleCheck;
    bool FFetchAheadOn = true;
    TDownloadLimits FLimits;
    std::unique_ptr<sources::TPrefetch> FPrefetch;
    std::unique_ptr<TSignatureCheck> FSignatureCheck;
    // What FxmlVersionen offers, when it was read while the descriptor's signature was checked.
    std::unique_ptr<TDescriptorOffers> FOffers;
    TUpdates* FUpdates;  // not owned
};
