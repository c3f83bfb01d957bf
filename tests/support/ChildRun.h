// What tests that start the real programs share: the outcome of one program run, and the
// fixture file helpers.
#pragma once

#include "support/TestFiles.h"

#include <QString>

struct TRun {
    int exitCode = -1;  // -1: did not start, crashed or timed out
    QString out;
    QString err;
};
