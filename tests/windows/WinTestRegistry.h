// Windows test executables hold several QtTest classes each (a static test program is tens of
// megabytes and takes seconds to link). This header comes first in every test file of such an
// executable (the compiler's -include): QtTest is read here, and its QTEST_*MAIN macros then
// register the file's class with the executable's main (WinTestMain.cpp) instead of defining a
// main of their own. The test files stay exactly as Linux builds them.
#pragma once

#include <QStringList>
#include <QtTest/QtTest>

namespace wintest {

using TRun = int (*)(const QStringList& arguments);

// Adds a class to the executable's list; returns true so that it can initialise a static.
bool Register(const char* name, TRun run);

}  // namespace wintest

// QFINDTESTDATA looks below the folder of the suite's CMake target, which here is tests/windows:
// each file is told its Linux target's folder instead (VORLANDT_TEST_SOURCEDIR, set per file).
#ifdef VORLANDT_TEST_SOURCEDIR
#undef QT_TESTCASE_SOURCEDIR
#define QT_TESTCASE_SOURCEDIR VORLANDT_TEST_SOURCEDIR
#endif

#undef QTEST_MAIN
#undef QTEST_GUILESS_MAIN
#undef QTEST_APPLESS_MAIN

#define VORLANDT_WIN_TEST(TestObject)                                                                  \
    namespace {                                                                                      \
    const bool vorlandtRegistered##TestObject = wintest::Register(#TestObject, [](const QStringList& arguments) { \
        TestObject test;                                                                             \
        return QTest::qExec(&test, arguments);                                                       \
    });                                                                                              \
    }

#define QTEST_MAIN(TestObject) VORLANDT_WIN_TEST(TestObject)
#define QTEST_GUILESS_MAIN(TestObject) VORLANDT_WIN_TEST(TestObject)
#define QTEST_APPLESS_MAIN(TestObject) VORLANDT_WIN_TEST(TestObject)
