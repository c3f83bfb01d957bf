// The per-user file follows the XDG rules; the machine-wide ones live with other system state and
// configuration.
#include "core/platform/store/StorePaths.h"

#include <QDir>
#include <QFile>

#include <climits>
#include <cstring>

#include <unistd.h>

#ifndef VORLANDT_INSTALL_BINDIR
#error "VORLANDT_INSTALL_BINDIR must name the bin folder the programs are installed to"
#endif
#ifndef VORLANDT_INSTALL_LIBEXECDIR
#error "VORLANDT_INSTALL_LIBEXECDIR must name the libexec folder the programs are installed to"
#endif

namespace platform {

namespace {

// True for a program below the folders it was built to be installed in. When the kernel does not
// say where the program lies, it counts as installed: the safe side.
bool InstalledProgram()
{
    static const bool installed = [] {
        char path[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
        if (n <= 0)
            return true;
        path[n] = '\0';
        for (const char* folder : {VORLANDT_INSTALL_BINDIR, VORLANDT_INSTALL_LIBEXECDIR}) {
            const size_t length = std::strlen(folder);
            if (std::strncmp(path, folder, length) == 0 && path[length] == '/')
                return true;
        }
        return false;
    }();
    return installed;
}

}  // namespace

bool MachinePathOverridesHonoured()
{
    // The identities are the process's for its whole life (none of our programs changes them):
    // asked once, since every read of a setting with a policy comes here.
    static const bool honoured = [] {
        if (::getuid() != ::geteuid() || ::getgid() != ::getegid())
            return false;
        return ::getuid() == 0 || !InstalledProgram();
    }();
    return honoured;
}

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
    if (MachinePathOverridesHonoured()) {
        const QByteArray overridePath = qgetenv("VORLANDT_MACHINE_STORE");
        if (!overridePath.isEmpty())
            return overridePath;
    }
    return QByteArrayLiteral("/var/lib/vorlandt/registry-machine.db");
}

TPolicyFolder PolicyFolder()
{
    if (MachinePathOverridesHonoured()) {
        const QByteArray overridePath = qgetenv("VORLANDT_POLICY_DIR");
        if (!overridePath.isEmpty())
            return {overridePath, true};
    }
    return {QByteArrayLiteral("/etc/vorlandt/policy.d"), false};
}

}  // namespace platform
