// Root's set-up of the shared log when the package is configured: whatever lies under the log's
// name and is not the log (another user's file, a link, a folder, a file with a second name) is
// renamed aside, and the log becomes the file of its owner, the system user, mode 0644, with
// root's log of an earlier version copied over. Every step works on the folder's descriptor and
// on what it opened; the final name is taken only when free, so a user who keeps creating it
// sees her files moved aside, one by one, each named in the messages.
#pragma once

#include "WriterFiles.h"

#include <string>
#include <vector>

namespace userlogwriter {

// Returns the messages for the administrator (one per file moved aside). Refuses with the
// reason when the data folder is not root's or the log cannot be made.
std::vector<std::string> SetUpLog(const TPlaces& places, uid_t owner, gid_t group);

// Takes the writer's lock in the state folder, waiting at most `seconds`; `wait` false: only
// when free. Returns the locked descriptor, or -1 (as a TDescriptor) when it is held.
TDescriptor LockState(int stateFolder, const std::string& stateDir, bool wait, int seconds = 30);

}  // namespace userlogwriter
