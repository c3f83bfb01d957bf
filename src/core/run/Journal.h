// The system journal of update searches: a few lines per search (its start, each module that was
// not up to date, the installer's start and end, the end) for the administrator, who finds every
// search of every user there. Syslog by default; tests put a journal of their own in charge.
#pragma once

#include "core/platform/desktop/Syslog.h"

#include <QString>

class TJournal {
public:
    virtual ~TJournal() = default;
    virtual void Write(platform::TSyslogPriority priority, const QString& line) = 0;
};

// The journal in charge: the system log unless another one was set.
TJournal& Journal();
// Installs `journal` (not owned; nullptr returns to the system log) and returns the previous one
// (nullptr while the system log was in charge).
TJournal* SetJournal(TJournal* journal);

// `text` as the journal may keep it: a user name and password inside an address are left out,
// the home folder is written "~", and control characters (an escape sequence a server put into
// a reason or an attribute) are gone, line breaks and tabs becoming blanks. Everything the run
// writes there passes through this.
QString JournalSafe(const QString& text);

// Whose search a line is about, as every line begins: "Benutzer anna (UID 1000): ". On a
// machine with many users the process number alone ties no line to a person.
QString JournalUserPrefix();

// Writes JournalUserPrefix() + JournalSafe(line) to the journal in charge.
void WriteJournal(platform::TSyslogPriority priority, const QString& line);
