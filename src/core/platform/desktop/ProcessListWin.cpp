// The running processes from a Toolhelp snapshot: one system call for the whole list, which
// every user may take, and the executable's file name for each process, which is the name the
// busy check looks for.
#include "core/platform/desktop/ProcessList.h"

#include <windows.h>

// Needs windows.h first.
#include <tlhelp32.h>

namespace platform {

ProcessList ProcessList::Read()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ProcessList({}, false);
    std::vector<Entry> entries;
    entries.reserve(256);
    PROCESSENTRY32W process;
    process.dwSize = sizeof process;
    BOOL more = Process32FirstW(snapshot, &process);
    while (more) {
        Entry entry;
        entry.pid = static_cast<qint64>(process.th32ProcessID);
        entry.exePath = QString::fromWCharArray(process.szExeFile);
        // The idle process and the like have no file name to match.
        if (!entry.exePath.isEmpty())
            entries.push_back(std::move(entry));
        more = Process32NextW(snapshot, &process);
    }
    // Anything but the normal end of the list means a list that broke off midway, which could
    // miss a running application: say so.
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    CloseHandle(snapshot);
    return ProcessList(std::move(entries), complete);
}

}  // namespace platform
