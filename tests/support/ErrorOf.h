// The message of the error an operation raises, for comparing in a table: "<none>" when it
// raised none.
#pragma once

#include "core/platform/VorlandtError.h"

#include <QString>

#include <functional>

inline QString ErrorOf(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const EVorlandtError& e) {
        return e.message();
    }
    return QStringLiteral("<none>");
}
