// Where the settings store files are: one per root, each movable by an environment variable so
// that tests, demos and packages can point the program elsewhere.
#pragma once

#include "core/platform/store/StoreBackend.h"

#include <QByteArray>

namespace platform {

// $VORLANDT_USER_STORE / $VORLANDT_MACHINE_STORE when set, else
// $XDG_CONFIG_HOME/vorlandt/registry-user.db and /var/lib/vorlandt/registry-machine.db.
// Looked up on every call, so a changed environment takes effect at once.
QByteArray StoreFilePath(TRootKey root);

}  // namespace platform
