// The Windows event log (ReportEventW) under the source "Vorlandt Online-Updater": the lines the
// Linux build sends to syslog, with the same words.
#include "core/platform/desktop/Syslog.h"

#include "core/platform/WinApi.h"

#include <QString>

#include <string>

namespace platform {

void WriteSyslog(TSyslogPriority priority, const QByteArray& line)
{
    // Registered once and kept: the handle lives as long as the process. Without the source in
    // the registry (the setup writes it) the event log still keeps the text.
    static const HANDLE source = ::RegisterEventSourceW(nullptr, L"Vorlandt Online-Updater");
    if (!source)
        return;
    WORD type = EVENTLOG_INFORMATION_TYPE;
    if (priority == TSyslogPriority::Warning)
        type = EVENTLOG_WARNING_TYPE;
    else if (priority == TSyslogPriority::Error)
        type = EVENTLOG_ERROR_TYPE;
    const std::wstring text = QString::fromUtf8(line).toStdWString();
    const wchar_t* strings[] = {text.c_str()};
    ::ReportEventW(source, type, 0, 1, nullptr, 1, 0, strings, nullptr);
}

}  // namespace platform
