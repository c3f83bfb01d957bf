// How the busy check compares process names, the same on every system.
#include "core/platform/desktop/ProcessList.h"

namespace platform {

QStringView ProcessFileNamePart(QStringView name)
{
    for (qsizetype i = name.size(); i > 0; --i) {
        const QChar c = name[i - 1];
        if (c == u'/' || c == u'\\' || c == u':')
            return name.sliced(i);
    }
    return name;
}

bool SameProcessName(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a[i].unicode();
        char16_t y = b[i].unicode();
        if (x == y)
            continue;
        if (x >= u'a' && x <= u'z')
            x -= u'a' - u'A';
        if (y >= u'a' && y <= u'z')
            y -= u'a' - u'A';
        if (x != y)
            return false;
    }
    return true;
}

}  // namespace platform
