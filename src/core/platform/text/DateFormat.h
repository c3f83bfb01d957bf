// Moments written as text: Delphi-style patterns (the letters the suite's stored dates and log
// lines use) with the separators and AM/PM strings of the regional settings.
#pragma once

#include "core/platform/text/RegionalFormat.h"

#include <QDate>
#include <QDateTime>
#include <QString>

namespace platform {

QString FormatDateTime(const QString& pattern, const QDateTime& moment,
                       const TFormatSettings& settings = FormatSettings());
QString FormatDateTime(const QString& pattern, const QDate& date,
                       const TFormatSettings& settings = FormatSettings());
// The short date.
QString DateToStr(const QDate& date, const TFormatSettings& settings = FormatSettings());
// Short date, a blank and the long time, also at midnight.
QString DateTimeToStr(const QDateTime& moment, const TFormatSettings& settings = FormatSettings());

}  // namespace platform
