// What the update notification dialog shows, decided without widgets: the pending updates grouped
// into one panel per run of modules with the same display name, and an update's description
// loaded formatted through the temporary description file.
#pragma once

#include "core/catalog/Updates.h"

#include <QList>
#include <QString>

// One update entry: its number (the entry label's tag), the key of its update and its text.
struct TUpdateListEntry {
    int Tag = 0;
    TUpdateIdentifier Key;
    QString Text;  // "Version %d.%d.%d"
    friend bool operator==(const TUpdateListEntry&, const TUpdateListEntry&) = default;
};

// One category panel: a display name and the entries shown under it.
struct TUpdateListPanel {
    QString Modulbezeichnung;
    QList<TUpdateListEntry> Entries;
    friend bool operator==(const TUpdateListPanel&, const TUpdateListPanel&) = default;
};

// "Version %d.%d.%d" with the module's major version and the update's minor and sub-version.
QString UpdateEntryText(qint32 Hauptversion, qint32 Nebenversion, qint32 Unterversion);

// The panels in the order of SortedUpdateKeys: consecutive keys whose modules bear the same
// display name share a panel, so the same name separated by another module gives two panels.
// Entries are numbered 0, 1, 2, ... across all panels.
QList<TUpdateListPanel> GroupUpdateList(const TUpdates& Updates);

// The temporary description file, "VL_UpdateRTF.tmp" in GetTempDir().
QString UpdateRTFFileName();

// Writes the description of `Key` to UpdateRTFFileName() as a list of lines (Windows-1252,
// CR LF after each), replacing the file, reads it back and gives it as HTML for a text browser.
// A key the catalog no longer holds gives an empty text and leaves the file alone. Raises
// EVorlandtError (kind InOut) when the file cannot be written or read.
QString LoadUpdateDescriptionHtml(const TUpdates& Updates, const TUpdateIdentifier& Key);

// True for the addresses a link in a description or the licence link may open: http and https
// with a host. Anything else could start a program or open a local file.
bool MayOpenUpdateLink(const QString& address);
