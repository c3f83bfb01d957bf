// What a set-id program must set right before it trusts its own run: the caller chooses its
// open descriptors, signal dispositions, mask, limits, niceness and umask, and would otherwise
// keep them power over a process she may no longer signal.
#pragma once

#include <sys/types.h>

namespace userlogwriter {

// Standard descriptors open (a closed one would make the next file opened a caller's stdout),
// every signal at its default and unblocked, the terminal's and job control's signals ignored
// (a writer can neither be stopped from the caller's terminal nor killed by a hang-up), a write
// beyond a limit an error rather than a signal, and umask 022.
void TakeOverProcess();

// Root only: resets the limits and the niceness the caller left (a file-size or CPU limit would
// cut a write short, a descriptor limit refuse the files), then gives up root, the caller's
// user, groups and supplementary groups for good, for `uid` and `gid`. Refuses when it cannot.
void BecomeLogOwner(uid_t uid, gid_t gid);

// Without root: raises each limit that matters to its hard limit and refuses, before anything
// is written, when a hard limit is too small to write the log whole.
void CheckLimits();

}  // namespace userlogwriter
