// The news step of TUpdateCheck (CheckForNews, OldNewsExist, NewsExist) and how it reads the
// news file: which element is the current item, and the item's numbers.
#pragma once

#include "core/sources/UpdateCheck.h"

#include <QtGlobal>

#include <pugixml.hpp>

namespace sources {

// The current item: the first element below the root. A comment or stray text in front of it
// is no item and must not hide it.
pugi::xml_node FirstNewsItem(const pugi::xml_document& news);

// True when the item needs a newer updater than this one. Raises EVorlandtError (kind Convert)
// when the attribute is no plain decimal integer.
bool NeedsNewerUpdater(const pugi::xml_attribute& updaterversion);

// The item's id. Raises EVorlandtError (kind Convert) when it is no plain decimal integer
// within 32 bits.
qint32 NewsId(const pugi::xml_attribute& id);

}  // namespace sources
