// Regional settings the date tests write and read with, and moments to build their tables from.
#pragma once

#include "core/platform/text/RegionalFormat.h"

#include <QDateTime>
#include <QMetaType>

Q_DECLARE_METATYPE(platform::TFormatSettings)

namespace regional_samples {

inline platform::TFormatSettings German()
{
    return platform::TFormatSettings::German();
}

inline platform::TFormatSettings US()
{
    return platform::FormatSettingsFromStrftime(QStringLiteral("%m/%d/%Y"), QStringLiteral("%I:%M:%S %p"),
                                                QStringLiteral("AM"), QStringLiteral("PM"));
}

inline platform::TFormatSettings Iso()
{
    return platform::FormatSettingsFromStrftime(QStringLiteral("%Y-%m-%d"), QStringLiteral("%H:%M:%S"),
                                                QString(), QString());
}

inline QDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

}  // namespace regional_samples
