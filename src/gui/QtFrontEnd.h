// The GUI's front end: message boxes as Qt widgets, centred over the main window, and documents
// opened with the desktop's handler.
#pragma once

#include "core/services/FrontEnd.h"

#include <QHash>
#include <QMessageBox>
#include <QPointer>

#include <memory>

class QAbstractButton;
class QCloseEvent;
class QKeyEvent;
class QShowEvent;
class QWidget;

// A message box that answers with the updater's codes. QMessageBox's own rules for Escape and the
// close button do not fit ours: it picks an escape button by itself (it would let Escape abort an
// Abort/Retry box) and refuses the close button when it found none, so both are decided here.
class TMessageBox : public QMessageBox {
    Q_OBJECT
public:
    TMessageBox(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext,
                QWidget* parent = nullptr);

    // The code of the button that closed the box; mrCancel while none did (closed by the window's
    // close button, or not answered yet).
    int ResultCode() const { return FResultCode; }

    // Where a box of `frameSize` goes: centred over `over` (the main window's frame) or, without
    // one, over `available`, and moved into `available` where it would stick out.
    static QPoint CentredPosition(const QRect& over, const QRect& available, const QSize& frameSize);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QPushButton* AddCodeButton(const QString& caption, ButtonRole role, int code);

    QHash<QAbstractButton*, int> FButtonCodes;
    int FResultCode = mrCancel;
};

class TQtFrontEnd : public TFrontEnd {
public:
    // May be called from any thread: a box asked for by a worker is shown on the user-interface
    // thread, and the worker waits for the answer.
    int MessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int helpContext) override;
    bool OpenDocument(const QString& fileOrUrl) override;
    // The news window, modal and centred over the main window while that is on the screen.
    int ShowNews(const TNewsView& news) override;
    // The consent dialog "Wir bitten um Ihre Mithilfe", modal and centred on the screen.
    bool AskTrackingConsent() override;
    // The hourglass over every window of the program while a file is fetched. May be called
    // from any thread; the cursor is the user-interface thread's.
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

    // The window boxes are centred over; while it is hidden or minimised (tray, autostart) they
    // are centred on the screen. Not owned; forgotten when it is destroyed.
    void setMainWindow(QWidget* mainWindow) { FMainWindow = mainWindow; }
    QWidget* mainWindow() const { return FMainWindow; }

    // The box MessageDialog shows, configured but not yet shown, so that it can be inspected and
    // answered. Its Qt parent is the main window when the box is to be centred over it.
    std::unique_ptr<TMessageBox> CreateMessageBox(const QString& text, TMsgDlgType type,
                                                  TMsgDlgButtons buttons, int helpContext) const;

    // The window a new message, news or question belongs to and is transient for: the dialog
    // open right now, else the main window while it is on the screen, else none.
    QWidget* Owner() const;

private:
    QPointer<QWidget> FMainWindow;
    int FWaitCursorDepth = 0;  // Begins not yet ended
};

// The text a message box shows: the callers double "&" because a Windows message box takes a
// single one as a mnemonic marker; a plain-text Qt box shows every character as it is.
QString MessageBoxDisplayText(const QString& text);
