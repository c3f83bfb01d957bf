// PR_SET_PDEATHSIG covers the crash case that no destructor reaches.
#include "support/net/ChildProcess.h"

#include <csignal>

#include <sys/prctl.h>

void EndWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}
