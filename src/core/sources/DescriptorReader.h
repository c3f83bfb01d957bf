// Reading a module's update descriptor from its document: the updates it offers and the
// installation directory its root element names. The update checker evaluates a descriptor with
// these (TUpdateCheck::GetVersionsFromXML); the demo installer reads the directory.
#pragma once

#include "core/platform/store/StoreBackend.h"

#include <QString>

#include <pugixml.hpp>

#include <cstddef>
#include <optional>
#include <vector>

// A descriptor offers a few dozen updates; one offering more than this is refused as malformed
// before any of them reaches the catalog, which writes a temporary file for every pending update.
inline constexpr qsizetype kMaxUpdatesPerDescriptor = 10000;

// One update of a descriptor as the catalog takes it: the numbers and the attribute texts.
struct TOfferedUpdate {
    qint32 Nebenversion = 0;
    qint32 Unterversion = 0;
    QString Dateiname;
    QString StillesUpdate;
    QString Typ;
    QString LizenzURL;
    QString UpdaterVersion;
    QString BeschreibungRTF;
};

// What a descriptor offers, read from its document alone (no store, no catalog, no log), so that
// it can be read while the file's signature is still being checked and thrown away if that fails.
struct TDescriptorOffers {
    QString Refusal;  // the descriptor as a whole is refused (too many updates): nothing is read
    std::vector<TOfferedUpdate> Updates;  // in document order, up to the first malformed one
    QString Error;                        // what is wrong with that one; empty: all were read
    // Where the node Error is about starts in the parsed text (pugixml's offset_debug), so that
    // a check of a release can name the line; -1 when not known.
    std::ptrdiff_t ErrorOffset = -1;
};
TDescriptorOffers ReadDescriptorOffers(const pugi::xml_node& root);

// A "nr" attribute's text as the reader takes it: a plain decimal number within 32 bits,
// blanks around allowed; nullopt for anything else.
std::optional<qint32> DescriptorNr(const char* text);

// Where the root element says the module's installation directory is kept in the settings
// store: the three "verzeichnis_reg_*" attributes, checked as GetZielVerzeichnis checks them.
struct TZielVerzeichnisAngabe {
    TRootKey Root = HKEY_LOCAL_MACHINE;
    QString Key;
    QString Name;
};
// Raises EVorlandtError with GetZielVerzeichnis's message when an attribute is missing or the
// root key is neither "{HKLM}" nor "{HKCU}". Reads no store and writes no log line.
TZielVerzeichnisAngabe ReadZielVerzeichnisAngabe(const pugi::xml_node& Node);

// The module's installation directory named by the descriptor's root element, ending with "/";
// a folder stored Windows-style with a trailing "\" is returned as stored, without a "/" added.
// Raises EVorlandtError when it cannot be determined.
QString GetZielVerzeichnis(const pugi::xml_node& Node);
