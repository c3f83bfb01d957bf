// The scripted front end: a queue of answers in, a record of everything shown out.
#include "support/ScriptedFrontEnd.h"

#include <QDebug>

#include <cstring>

void TScriptedFrontEnd::Answer(std::initializer_list<int> answers)
{
    for (int answer : answers)
        FAnswers.enqueue(answer);
}

int TScriptedFrontEnd::MessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                                     int helpContext)
{
    const TShownMessage message{text, type, buttons, helpContext};
    FMessages.append(message);
    if (FAnswers.isEmpty()) {
        qWarning("unexpected message box: %s", qUtf8Printable(text));
        FUnanswered.append(message);
        return mrCancel;
    }
    return FAnswers.dequeue();
}

bool TScriptedFrontEnd::OpenDocument(const QString& fileOrUrl)
{
    FOpenedDocuments.append(fileOrUrl);
    return FOpenDocumentResult;
}

void TScriptedFrontEnd::ChooseForNews(std::initializer_list<int> choices)
{
    for (int choice : choices)
        FNewsChoices.enqueue(choice);
}

int TScriptedFrontEnd::ShowNews(const TNewsView& news)
{
    FShownNews.append({news.Datum, news.PlainText});
    return FNewsChoices.isEmpty() ? news.DefaultChoice : FNewsChoices.dequeue();
}

void TScriptedFrontEnd::AcceptUpdates(std::initializer_list<bool> answers)
{
    for (bool answer : answers)
        FUpdateAnswers.enqueue(answer);
}

void TScriptedFrontEnd::ShowProgress(int position, int maximum, const QString& text)
{
    FProgressPosition = position;
    FProgressMaximum = maximum;
    if (!text.isNull())
        FProgressTexts.append(text);
}

bool TScriptedFrontEnd::ConfirmUpdates(const TUpdates& updates)
{
    FShownUpdates.append(updates.SortedUpdateKeys());
    return !FUpdateAnswers.isEmpty() && FUpdateAnswers.dequeue();
}

void TScriptedFrontEnd::ShowPendingUpdates(const TUpdates& updates)
{
    FListedUpdates.append(updates.SortedUpdateKeys());
}

void TScriptedFrontEnd::AnswerTrackingConsent(std::initializer_list<bool> answers)
{
    for (bool answer : answers)
        FConsentAnswers.enqueue(answer);
}

bool TScriptedFrontEnd::AskTrackingConsent()
{
    ++FTrackingConsentQuestions;
    return !FConsentAnswers.isEmpty() && FConsentAnswers.dequeue();
}

char* toString(const TShownMessage& message)
{
    const QByteArray text = QStringLiteral("{\"%1\", type %2, buttons %3, help %4}")
                                .arg(message.text)
                                .arg(static_cast<int>(message.type))
                                .arg(static_cast<int>(message.buttons))
                                .arg(message.helpContext)
                                .toUtf8();
    // QTest frees what toString returns with delete[].
    char* copy = new char[static_cast<size_t>(text.size()) + 1];
    std::memcpy(copy, text.constData(), static_cast<size_t>(text.size()) + 1);
    return copy;
}
