// The regional format on Windows: the short date and the time format of the user's regional
// settings (GetLocaleInfoEx), as the original program took them.
#include "core/platform/text/RegionalFormat.h"

#include "core/platform/WinApi.h"

#include <QString>

#include <string>

namespace platform {

namespace {

QString LocaleText(const wchar_t* locale, LCTYPE item)
{
    wchar_t buffer[128] = {};
    const int length = ::GetLocaleInfoEx(locale, item, buffer, int(std::size(buffer)));
    return length > 1 ? QString::fromWCharArray(buffer, length - 1) : QString();
}

}  // namespace

TFormatSettings FormatSettingsForLocale(const QByteArray& localeName)
{
    const std::wstring name = QString::fromUtf8(localeName).toStdWString();
    const wchar_t* locale = localeName.isEmpty() ? LOCALE_NAME_USER_DEFAULT : name.c_str();
    const QString date = LocaleText(locale, LOCALE_SSHORTDATE);
    const QString time = LocaleText(locale, LOCALE_STIMEFORMAT);
    if (date.isEmpty() && time.isEmpty())
        return TFormatSettings::German();
    return FormatSettingsFromWindowsPictures(date, time, LocaleText(locale, LOCALE_S1159),
                                             LocaleText(locale, LOCALE_S2359));
}

}  // namespace platform
