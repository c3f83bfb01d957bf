// The system log (syslog(3); journald takes it over on a systemd machine): one line at a time,
// under one ident and facility for the whole process.
#pragma once

#include <QByteArray>

namespace platform {

enum class TSyslogPriority { Info, Warning, Error };

// Sends `line` (UTF-8) with `priority`, under the ident "vorlandt-update" and the facility
// LOG_USER; the log is opened at the first line.
void WriteSyslog(TSyslogPriority priority, const QByteArray& line);

}  // namespace platform
