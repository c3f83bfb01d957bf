// syslog(3) under the updater's ident.
#include "core/platform/desktop/Syslog.h"

#include <mutex>

#include <syslog.h>

namespace platform {

void WriteSyslog(TSyslogPriority priority, const QByteArray& line)
{
    static std::once_flag opened;
    // openlog keeps the pointer: the ident must live as long as the process.
    std::call_once(opened, [] { ::openlog("vorlandt-update", LOG_PID, LOG_USER); });
    int level = LOG_INFO;
    if (priority == TSyslogPriority::Warning)
        level = LOG_WARNING;
    else if (priority == TSyslogPriority::Error)
        level = LOG_ERR;
    // Never as the format: the line may hold a "%" of an address or a reason.
    ::syslog(level, "%s", line.constData());
}

}  // namespace platform
