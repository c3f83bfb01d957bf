// The report of one search for scripts: one JSON document with the outcome of every registration
// and the overall result, so that a script needs neither the German prose nor its layout.
#pragma once

#include <QByteArray>
#include <QString>

class TUpdateRun;

// The overall result of the last run of `run`, as the report names it: "error",
// "other-search-running", "cancelled", "not-due", "no-source-reachable", "installed",
// "installer-failed", "updates-pending", "incomplete" (nothing pending, but a module could not be
// checked) or "up-to-date". `error` is the message that ended the run, empty when none did.
QString RunResultName(const TUpdateRun& run, const QString& error);

// The whole document, indented, ending with a line break; `run` is null when the search ended
// before it began.
QByteArray RunReportJson(const TUpdateRun* run, int exitStatus, const QString& error);
