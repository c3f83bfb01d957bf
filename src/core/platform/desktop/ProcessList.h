// One reading of the running processes: for each, the path of its executable and its argv[0],
// the two names under which the busy check recognises an application of the suite. Read from
// /proc on Linux (ProcessList.cpp), from a Toolhelp snapshot on Windows (ProcessListWin.cpp).
#pragma once

#include <QString>

#include <vector>

namespace platform {

class ProcessList {
public:
    struct Entry {
        qint64 pid = 0;
        // Empty when the link cannot be read (another user's process, a kernel thread). On
        // Windows the executable's file name as the snapshot gives it, without its folder.
        QString exePath;
        // Empty when the process has no command line (kernel threads, zombies); always empty on
        // Windows, where the file name is what every process has.
        QString argv0;
    };

    ProcessList() = default;
    ProcessList(std::vector<Entry> entries, bool readable) : FEntries(std::move(entries)), FReadable(readable)
    {
    }

#ifdef Q_OS_WIN
    // Takes a snapshot of every process of the session and the system. A snapshot that cannot
    // be taken gives an empty list that says so through readable().
    static ProcessList Read();
#else
    // Reads procRoot (normally /proc). Processes that end while being read are left out; an
    // unreadable procRoot gives an empty list that says so through readable().
    static ProcessList Read(const QString& procRoot = QStringLiteral("/proc"));
#endif

    const std::vector<Entry>& entries() const { return FEntries; }
    bool readable() const { return FReadable; }

private:
    std::vector<Entry> FEntries;
    bool FReadable = false;
};

// The part of a process name after its last "/", "\" or ":": Windows programs run through a
// compatibility layer report paths like "C:\Programme\X\Modul.exe" as argv[0].
QStringView ProcessFileNamePart(QStringView name);

// Equal after upper-casing the ASCII letters a-z only; every other character must be equal as
// it is, so "ärger.exe" and "Ärger.exe" stay different.
bool SameProcessName(QStringView a, QStringView b);

}  // namespace platform
