// Every conversation an update run has with the person in front of the screen passes through
// this interface: the Qt widgets implement it for the GUI, the console front end with text, and
// tests with a script of answers that records what was shown.
#pragma once

#include <QString>
#include <QStringList>

class QObject;
class TUpdates;

// The message box types, in the order the callers number them.
enum class TMsgDlgType : int { mtWarning = 0, mtError = 1, mtInformation = 2, mtConfirmation = 3 };

// The title of a message box of this type ("Warnung", "Fehler", "Informationen", "Bestätigen"),
// the same in every front end.
QString MessageDialogCaption(TMsgDlgType type);

// Line ends as the core writes them (CR LF, LF CR, lone CR or LF) turned into the "\n" that Qt
// and terminals break lines at; a stray CR would otherwise show as a blank or no break at all.
QString DisplayLineBreaks(const QString& text);

// `text` for a terminal or the system journal: control characters other than line feed and tab
// left out, so that an escape sequence a server or a file put into a text never reaches the
// terminal of whoever reads it.
QString WithoutControlCharacters(const QString& text);

// The button sets the program uses.
enum class TMsgDlgButtons { mbOK, mbAbortRetry, mbYesNo };

// Codes a message box returns.
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;  // closed by the window's close button
inline constexpr int mrAbort = 3;
inline constexpr int mrRetry = 4;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

// One news item as a window shows it: plain data, so that a front end needs to know nothing of
// where news come from or how they are postponed.
struct TNewsView {
    QString Datum;          // the date label
    QString Html;           // the formatted text for a rich-text view; links are anchors
    QString PlainText;      // the same text without formatting, paragraphs separated by CR LF
    QStringList Choices;    // whether and when to show the item again; answered by index
    int DefaultChoice = 0;  // preselected, and the answer of a front end that cannot ask
};

class TFrontEnd {
public:
    virtual ~TFrontEnd() = default;

    // Shows a modal message box and returns the code of the button that closed it.
    virtual int MessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                              int helpContext) = 0;

    // Opens a document or web address with the desktop's handler (not waiting for it); true when
    // the desktop accepted it.
    virtual bool OpenDocument(const QString& fileOrUrl) = 0;

    // The hourglass while a file is fetched. Calls nest: each End restores what the matching
    // Begin replaced. Front ends without a pointer ignore them.
    virtual void BeginWaitCursor() {}
    virtual void EndWaitCursor() {}

    // Shows one news item modally and returns the index of the choice it was closed with. This
    // implementation has no window: it writes the date and the plain text to stderr and answers
    // with the preselected choice.
    virtual int ShowNews(const TNewsView& news);

    // The progress of an update run: registration `position` of `maximum` is being checked,
    // `text` says which (a null text leaves the shown text as it is). The GUI shows it in the main
    // window's label and bar, repainted at once.
    virtual void ShowProgress(int position, int maximum, const QString& text) {}

    // Shows the pending updates of `updates` (not empty) and asks whether to install them; true
    // when the person accepted. This implementation has no window and declines.
    virtual bool ConfirmUpdates(const TUpdates& updates) { return false; }

    // Lists the pending updates of `updates` (not empty) without asking anything, for a search
    // that only looks. This implementation has no window and shows nothing.
    virtual void ShowPendingUpdates(const TUpdates& updates) {}

    // The consent question of the usage tracking; true for yes. This implementation has no window
    // and answers no: nothing is ever tracked without a person's explicit yes.
    virtual bool AskTrackingConsent() { return false; }
};

// The front end in charge; a process without one set gets a console-less default that answers
// every message box with its default button and opens documents with xdg-open.
TFrontEnd& FrontEnd();
// Installs `frontEnd` (not owned; nullptr returns to the default) and returns the previous one
// (nullptr while the default was in charge), so that handing it back restores that state.
TFrontEnd* SetFrontEnd(TFrontEnd* frontEnd);

// The message box every caller uses: shown by the front end in charge.
inline int MessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext)
{
    return FrontEnd().MessageDialog(text, type, buttons, helpContext);
}
