// The scripted front end in charge for one test: installed when made, the previous one back in
// charge when destroyed, and what the script did not foresee reported as a failure of that test.
// Destroy it in cleanup() (a std::unique_ptr reset there): its checks report to the test function
// that is running, and there is none after the last test.
#pragma once

#include "support/ScriptedFrontEnd.h"

#include <QList>
#include <QTest>

// What the fixture holds a test to when it is destroyed.
enum class TScriptCheck {
    None,                 // only installs the front end
    Unanswered,           // no message box shown without a scripted answer
    UnansweredAndUnused,  // that, and no scripted answer left unasked
};

// TFront: the scripted front end or a test's own refinement of it.
template <class TFront>
class TFrontEndFixtureOf : public TFront {
public:
    explicit TFrontEndFixtureOf(TScriptCheck check = TScriptCheck::UnansweredAndUnused) : FCheck(check) {}

    ~TFrontEndFixtureOf()
    {
        // The scope member hands the previous front end back after this, whatever the checks say.
        const QList<TShownMessage> unanswered = this->Unanswered();
        const qsizetype pending = this->PendingAnswers();
        if (FCheck == TScriptCheck::None)
            return;
        QCOMPARE(unanswered, QList<TShownMessage>());
        if (FCheck == TScriptCheck::UnansweredAndUnused)
            QCOMPARE(pending, 0);
    }

    TFrontEndFixtureOf(const TFrontEndFixtureOf&) = delete;
    TFrontEndFixtureOf& operator=(const TFrontEndFixtureOf&) = delete;

private:
    TScriptCheck FCheck;
    TScopedFrontEnd FScope{*this};
};

using TFrontEndFixture = TFrontEndFixtureOf<TScriptedFrontEnd>;
