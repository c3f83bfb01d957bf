// Dates and times read back from text in the order and with the separators of the regional
// settings: what DateFormat writes, and what a person types.
#pragma once

#include "core/platform/text/RegionalFormat.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <optional>

namespace platform {

// Reading is lenient: day, month and year in the order of the short date format, split by the
// date separator, one or two digits for day and month, a year of up to four digits (one or two
// digits fall into the 50-year window around the clock's current year), an optional time
// h:n[:s] with an optional AM/PM marker, blanks around the parts ignored.
std::optional<QDate> TryStrToDate(const QString& text, const TFormatSettings& settings = FormatSettings());
std::optional<QDateTime> TryStrToDateTime(const QString& text,
                                          const TFormatSettings& settings = FormatSettings());

// As above; raise EVorlandtError (kind Convert) naming the text.
QDate StrToDate(const QString& text, const TFormatSettings& settings = FormatSettings());
QDateTime StrToDateTime(const QString& text, const TFormatSettings& settings = FormatSettings());

}  // namespace platform
