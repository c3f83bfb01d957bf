// Which news items an update run shows: the postponed items due today, and the news file's
// current item when it is meant for this updater and new for this user.
#pragma once

#include <QtGlobal>

#include <pugixml.hpp>

// The current item: the first element below the root. A comment or stray text in front of it
// is no item and must not hide it.
pugi::xml_node FirstNewsItem(const pugi::xml_document& news);

// True when the item needs a newer updater than this one. Raises EVorlandtError (kind Convert)
// when the attribute is no plain decimal integer.
bool NeedsNewerUpdater(const pugi::xml_attribute& updaterversion);

// The item's id. Raises EVorlandtError (kind Convert) when it is no plain decimal integer
// within 32 bits.
qint32 NewsId(const pugi::xml_attribute& id);

// Whether an item can be shown at all, before anyone's last seen id counts.
enum class TNewsItemFit {
    Fits,
    NoItem,             // the file has no current item
    NoUpdaterVersion,   // never shown: no updater knows it is meant for it
    NeedsNewerUpdater,  // meant for a newer updater than this one
    NoId,               // never shown: nothing to tell it from the item seen last
};
// Raises like NeedsNewerUpdater for an "updaterversion" that is no integer; the id's own
// number is NewsId's to judge.
TNewsItemFit NewsItemFit(const pugi::xml_node& item);

// Shows every postponed item due today; true when it ran through. Logs as "OldNewsExist", the
// update checker's step it serves.
bool ShowDueOldNews();

// Shows the news file's first item when it is meant for this updater and newer than the one
// evaluated last, and stores its id as the one evaluated last; true when it was shown. Logs as
// "NewsExist", the update checker's step it serves. Raises EVorlandtError (kind Convert) for an
// "id" or "updaterversion" that is no integer.
bool ShowNewsIfNew(const pugi::xml_document& newsFile);
