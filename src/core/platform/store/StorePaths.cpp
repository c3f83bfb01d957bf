// The per-user file follows the XDG rules; the machine-wide one lives with other system state.
#include "core/platform/store/StorePaths.h"

#include <QDir>
#include <QFile>

namespace platform {

QByteArray StoreFilePath(TRootKey root)
{
    if (root == TRootKey::HKEY_CURRENT_USER) {
        const QByteArray overridePath = qgetenv("VORLANDT_USER_STORE");
        if (!overridePath.isEmpty())
            return overridePath;
        // A relative XDG_CONFIG_HOME is invalid by the XDG rules and would depend on the
        // working folder; it is ignored like an unset one.
        QByteArray config = qgetenv("XDG_CONFIG_HOME");
        if (config.isEmpty() || !config.startsWith('/')) {
            QByteArray home = qgetenv("HOME");
            if (home.isEmpty())
                home = QFile::encodeName(QDir::homePath());
            config = home + "/.config";
        }
        return config + "/vorlandt/registry-user.db";
    }
    const QByteArray overridePath = qgetenv("VORLANDT_MACHINE_STORE");
    if (!overridePath.isEmpty())
        return overridePath;
    return QByteArrayLiteral("/var/lib/vorlandt/registry-machine.db");
}

}  // namespace platform
