// The user's private temporary folder: where downloads, temporary log entries, the job file and
// the run lock live. Nobody but this user may create, replace or remove a name in it, so a file
// found there is one this user's programs wrote.
#pragma once

#include <QString>

namespace platform {

// Makes sure `folder` is private: created with mode 0700 when missing and `create` allows it
// (its parent must exist); it must be a real folder (no link), owned by the effective user and
// writable by nobody else. Raises EVorlandtError (kind InOut) naming the folder and the reason.
void EnsurePrivateFolder(const QString& folder, bool create = true);

// Where the private temporary folder is, ending with "/", unchecked: $TMPDIR when set (the
// user's own choice; a shared folder with the sticky bit such as /tmp gets "vorlandt-<uid>/"
// inside it), else $XDG_RUNTIME_DIR/vorlandt/, else /tmp/vorlandt-<uid>/. On Windows the user's
// temporary folder (GetTempPathW: %TMP%, %TEMP%, ...) + "vorlandt/".
QString PrivateTempFolderPath();

// PrivateTempFolderPath after EnsurePrivateFolder; a folder named by TMPDIR itself is never
// created, since a missing one means a mistyped setting.
QString PrivateTempFolder();

// Creates the missing folders of `dir` and its parents, new ones for this user's eyes only (mode
// 0700 on Linux, as the XDG rules ask of state folders; on Windows they take what the user's
// profile folder hands down). Folders that exist keep theirs; a folder that cannot be made shows
// in the error of the write that follows.
void MakeOwnFolders(const QString& dir);

}  // namespace platform
