// Copying one file over another so that a failure, a planted link or a source that is the
// destination itself never costs the destination its earlier content.
#pragma once

#include "core/platform/files/AtomicFile.h"

#include <QString>

namespace platform {

// Copies the regular file `source` over `destination`. The copy goes to a temporary file beside
// the destination that is renamed over it at the end: a failed copy never leaves half a file, a
// symbolic link planted under the destination's name is replaced rather than written through,
// and a source that is the destination itself survives. Empty on success, else the system's
// text for the error; *destinationFailed (when given) then tells whether the destination's side
// failed (creating, writing or renaming the new file) rather than the source's.
QString CopyReplacing(const QString& source, const QString& destination,
                      TDurability durability = TDurability::Durable, bool* destinationFailed = nullptr);

}  // namespace platform
