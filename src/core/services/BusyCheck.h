// Which applications of the suite are running: the update run must not start the installer
// while one of them holds its files open, and tells the user which ones to close.
#pragma once

#include "core/platform/desktop/ProcessList.h"

#include <QString>

#include <span>
#include <string_view>

// One row of the built-in table: an executable file name and the name the user knows the
// application by ("&&" stands for one "&", because message boxes take "&" as a mnemonic).
struct TBusyApplication {
    std::u16string_view exeName;
    std::u16string_view displayName;
};

// The suite's executables in the order they are checked.
std::span<const TBusyApplication> BusyApplicationTable();

// True when a running process carries this executable file name, as the file name of its
// executable or of its argv[0], or as the whole of either; ASCII letters compare without case.
// Takes its own reading of the process list.
bool processExists(const QString& name);
// The same against a reading taken by the caller, so one reading serves many names.
bool processExists(const QString& name, const platform::ProcessList& snapshot);

// The display names of the running applications, each line "    " + name, lines separated by
// CR LF without one after the last; empty when none runs or the process list is unreadable.
QString VorlandtProzesseAktiv();
QString VorlandtProzesseAktiv(const platform::ProcessList& snapshot);
