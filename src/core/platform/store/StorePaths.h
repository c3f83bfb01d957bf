// Where the settings store files and the policy folder are: each movable by an environment
// variable so that tests, demos and packages can point the program elsewhere; the machine-wide
// places only where that cannot take a policy away from a user.
#pragma once

#include "core/platform/store/StoreBackend.h"

#include <QByteArray>

namespace platform {

// Whether this process takes the machine-wide places (VORLANDT_MACHINE_STORE,
// VORLANDT_POLICY_DIR) from the environment. The machine store and the policy folder hold what
// the administrator imposes on every user: policy and signature keys. An installed program (one
// below the bin or libexec folder of the prefix it was built for, as the package's are) honours
// them only for root, who could change the real ones anyway; a program run from a build folder
// (the tests, the demo) honours them for everybody. A set-id process never does.
bool MachinePathOverridesHonoured();

// $VORLANDT_USER_STORE, else $XDG_CONFIG_HOME/vorlandt/registry-user.db; $VORLANDT_MACHINE_STORE
// where honoured, else /var/lib/vorlandt/registry-machine.db. Looked up on every call, so a
// changed environment takes effect at once.
QByteArray StoreFilePath(TRootKey root);

// The folder of policy files: /etc/vorlandt/policy.d, or $VORLANDT_POLICY_DIR where honoured.
struct TPolicyFolder {
    QByteArray Path;
    bool FromEnvironment = false;
};
TPolicyFolder PolicyFolder();

}  // namespace platform
