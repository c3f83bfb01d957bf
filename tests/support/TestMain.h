// The main of a QtTest suite. Each suite file ends in VORLANDT_TEST_MAIN(<class>) and is an
// executable of its own; built with VORLANDT_GROUPED_TESTS (the Windows build, where every static
// test executable weighs tens of megabytes and links for seconds), the line registers the class
// instead and GroupedTestMain.cpp runs the registered classes one after another in one program.
#pragma once

#include <QTest>

#ifdef VORLANDT_GROUPED_TESTS

#include <functional>

namespace grouped {

using TRunSuite = std::function<int(int argc, char** argv)>;

// Keeps the suite for the grouped main; `name` is the class name, how the main selects it.
struct TRegistration {
    TRegistration(const char* name, TRunSuite run);
};

}  // namespace grouped

#define VORLANDT_TEST_MAIN(TestClass)                                                                   \
    static const grouped::TRegistration TestClass##Registration(#TestClass, [](int argc, char** argv) { \
        TestClass suite;                                                                                \
        return QTest::qExec(&suite, argc, argv);                                                        \
    });

#else

#define VORLANDT_TEST_MAIN(TestClass) QTEST_GUILESS_MAIN(TestClass)

#endif
