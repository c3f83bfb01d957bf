// A front end for the tracking tests: answers the consent question from a script, counts the
// questions and records every message box (the tracker must never show one).
#pragma once

#include "core/services/FrontEnd.h"

#include <QQueue>
#include <QStringList>

class TConsentFrontEnd : public TFrontEnd {
public:
    // Queues the answers of the next consent questions; a question without one is answered no.
    void AnswerConsent(bool answer) { FAnswers.enqueue(answer); }
    int ConsentQuestions() const { return FQuestions; }
    const QStringList& Messages() const { return FMessages; }

    bool AskTrackingConsent() override
    {
        ++FQuestions;
        return FAnswers.isEmpty() ? false : FAnswers.dequeue();
    }
    int MessageDialog(const QString& text, TMsgDlgType, TMsgDlgButtons, int) override
    {
        FMessages << text;
        return mrOk;
    }
    bool OpenDocument(const QString&) override { return false; }

private:
    QQueue<bool> FAnswers;
    int FQuestions = 0;
    QStringList FMessages;
};
