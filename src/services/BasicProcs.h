// Free-standing helpers the rest of the updater shares (ini lookups; directories, message boxes
// and program starts join later). They keep no state between calls.
#pragma once

#include <QString>

// The text after the first "=" of the first line of FileName (".ini" appended when missing)
// whose part before that "=" equals Key without regard to case; empty when the file or the
// line is missing. Raises EVorlandtError (kind InOut) when the file exists but cannot be read.
QString GetStrInfoFromIni(const QString& FileName, const QString& Key);
