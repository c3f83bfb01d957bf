// Evaluating a module's update descriptor (the members ReadVersionTree, CheckInterval and
// GetVersionsFromXML of TUpdateCheck) and what it builds on: the stored check schedule and the
// installation directory the descriptor names.
#pragma once

#include "core/sources/UpdateCheck.h"

#include <QDateTime>
#include <QString>

#include <pugixml.hpp>

// A descriptor offers a few dozen updates; one offering more than this is refused as malformed
// before any of them reaches the catalog, which writes a temporary file for every pending update.
inline constexpr qsizetype kMaxUpdatesPerDescriptor = 10000;

// The check schedule as stored: when the last check was and how many hours must pass before the
// next automatic one.
struct TCheckSchedule {
    QDateTime LastCheck;
    qint64 IntervalHours = 0;
    // True when the current time is at or after LastCheck plus the interval.
    bool Due() const;
};
// Reads the schedule. A missing "LastCheckDateTime" means its default moment; a stored text that
// the user's regional format cannot read raises EVorlandtError.
TCheckSchedule ReadCheckSchedule();
// Records the current time as the last check, in the user's regional date and time format, which
// is how ReadCheckSchedule reads it.
void RecordCheckTime();

// The module's installation directory named by the descriptor's root element, ending with "/";
// a folder stored Windows-style with a trailing "\" is returned as stored, without a "/" added.
// Raises EVorlandtError when it cannot be determined.
QString GetZielVerzeichnis(const pugi::xml_node& Node);
