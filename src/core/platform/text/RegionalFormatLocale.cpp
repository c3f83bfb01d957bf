// The regional format on Linux: the LC_TIME conventions of a locale (nl_langinfo).
#include "core/platform/text/RegionalFormat.h"

#include <QString>

#include <langinfo.h>
#include <locale.h>

namespace platform {

TFormatSettings FormatSettingsForLocale(const QByteArray& localeName)
{
    // LC_CTYPE comes along for the code set the LC_TIME strings are written in.
    const locale_t loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, localeName.constData(), locale_t(nullptr));
    if (loc == locale_t(nullptr))
        return TFormatSettings::German();
    struct LocaleRelease {
        locale_t loc;
        ~LocaleRelease() { freelocale(loc); }
    } release{loc};

    const QByteArray name = nl_langinfo_l(_NL_LOCALE_NAME(LC_TIME), loc);
    if (name.isEmpty() || name == "C" || name == "POSIX" || name.startsWith("C."))
        return TFormatSettings::German();

    const bool utf8 = QByteArray(nl_langinfo_l(CODESET, loc)).toUpper().replace("-", "") == "UTF8";
    auto text = [&](nl_item item) {
        const char* raw = nl_langinfo_l(item, loc);
        return utf8 ? QString::fromUtf8(raw) : QString::fromLocal8Bit(raw);
    };
    return FormatSettingsFromStrftime(text(D_FMT), text(T_FMT), text(AM_STR), text(PM_STR));
}

}  // namespace platform
