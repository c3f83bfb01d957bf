// A front end for tests: answers message boxes from a script of codes and records every box
// and every document it was asked to show, so a test can check what the person would have seen.
#pragma once

#include "core/catalog/Updates.h"
#include "core/services/FrontEnd.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <initializer_list>

struct TShownMessage {
    QString text;
    TMsgDlgType type = TMsgDlgType::mtWarning;
    TMsgDlgButtons buttons = TMsgDlgButtons::mbOK;
    int helpContext = 0;
    friend bool operator==(const TShownMessage&, const TShownMessage&) = default;
};

// One news item as the person saw it.
struct TShownNews {
    QString datum;      // the date label
    QString plainText;  // the text without its formatting
    friend bool operator==(const TShownNews&, const TShownNews&) = default;
};

class TScriptedFrontEnd : public TFrontEnd {
public:
    TScriptedFrontEnd() = default;
    explicit TScriptedFrontEnd(std::initializer_list<int> answers) { Answer(answers); }

    // Queues the codes the next message boxes return, in order.
    void Answer(std::initializer_list<int> answers);
    // What OpenDocument reports from now on (true to begin with).
    void SetOpenDocumentResult(bool result) { FOpenDocumentResult = result; }

    // Every message box shown, answered or not, in order.
    const QList<TShownMessage>& Messages() const { return FMessages; }
    // The boxes shown while no answer was queued: each is a question the test did not expect.
    // They were closed with the close button (code 2).
    const QList<TShownMessage>& Unanswered() const { return FUnanswered; }
    // Answers queued but never asked for.
    qsizetype PendingAnswers() const { return FAnswers.size(); }
    // Every document or address handed to OpenDocument, in order.
    const QStringList& OpenedDocuments() const { return FOpenedDocuments; }

    // Queues the choices (indexes of "cbErneutZeigen") the next news items close with; an item
    // shown while none is queued closes with the default, "Nicht wieder anzeigen.".
    void ChooseForNews(std::initializer_list<int> choices);
    // Every news item shown, in order.
    const QList<TShownNews>& ShownNews() const { return FShownNews; }

    // Queues the answers to the next questions whether to install pending updates; a question
    // asked while none is queued is declined.
    void AcceptUpdates(std::initializer_list<bool> answers);
    // The keys of the updates each such question showed, in the order the dialog lists them.
    const QList<QList<TUpdateIdentifier>>& ShownUpdates() const { return FShownUpdates; }

    // The keys of the updates each listing without a question showed (a search that only looks).
    const QList<QList<TUpdateIdentifier>>& ListedUpdates() const { return FListedUpdates; }

    // Every progress text shown, in order, and the bar's last position and maximum.
    const QStringList& ProgressTexts() const { return FProgressTexts; }
    int ProgressPosition() const { return FProgressPosition; }
    int ProgressMaximum() const { return FProgressMaximum; }

    // Queues the answers to the next tracking consent questions; unqueued ones answer no.
    void AnswerTrackingConsent(std::initializer_list<bool> answers);
    int TrackingConsentQuestions() const { return FTrackingConsentQuestions; }

    int MessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int helpContext) override;
    void ShowProgress(int position, int maximum, const QString& text) override;
    bool ConfirmUpdates(const TUpdates& updates) override;
    void ShowPendingUpdates(const TUpdates& updates) override;
    bool AskTrackingConsent() override;
    bool OpenDocument(const QString& fileOrUrl) override;
    // Records the item and answers with the next queued choice.
    int ShowNews(const TNewsView& news) override;

private:
    QQueue<int> FAnswers;
    QList<TShownMessage> FMessages;
    QList<TShownMessage> FUnanswered;
    QStringList FOpenedDocuments;
    QQueue<int> FNewsChoices;
    QList<TShownNews> FShownNews;
    bool FOpenDocumentResult = true;
    QQueue<bool> FUpdateAnswers;
    QList<QList<TUpdateIdentifier>> FShownUpdates;
    QList<QList<TUpdateIdentifier>> FListedUpdates;
    QStringList FProgressTexts;
    int FProgressPosition = 0;
    int FProgressMaximum = 0;
    QQueue<bool> FConsentAnswers;
    int FTrackingConsentQuestions = 0;
};

// Puts a front end in charge for one scope and hands the previous one back at its end.
class TScopedFrontEnd {
public:
    explicit TScopedFrontEnd(TFrontEnd& frontEnd) : FPrevious(SetFrontEnd(&frontEnd)) {}
    ~TScopedFrontEnd() { SetFrontEnd(FPrevious); }
    TScopedFrontEnd(const TScopedFrontEnd&) = delete;
    TScopedFrontEnd& operator=(const TScopedFrontEnd&) = delete;

private:
    TFrontEnd* FPrevious;
};

// Readable failure output for QCOMPARE on recorded boxes.
char* toString(const TShownMessage& message);
