// The GUI's front end: message boxes as Qt widgets and documents opened by the desktop.
#include "gui/QtFrontEnd.h"

#include "gui/ScreenFit.h"
#include "gui/WindowKeys.h"
#include "gui/frmNewsAnzeige.h"
#include "gui/frmTrackingOkConfirmation.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QThread>
#include <QUrl>
#include <QWidget>

namespace {

struct TBoxLook {
    QMessageBox::Icon Icon;
    const char16_t* Caption;
};

TBoxLook LookOf(TMsgDlgType type)
{
    switch (type) {
        case TMsgDlgType::mtWarning:
            return {QMessageBox::Warning, u"Warnung"};
        case TMsgDlgType::mtError:
            return {QMessageBox::Critical, u"Fehler"};
        case TMsgDlgType::mtInformation:
            return {QMessageBox::Information, u"Informationen"};
        case TMsgDlgType::mtConfirmation:
            return {QMessageBox::Question, u"Bestätigen"};
    }
    // A number outside the enumeration still gets a box the user can read and answer.
    return {QMessageBox::NoIcon, u""};
}

// Widgets and the desktop services belong to the user-interface thread; a call from elsewhere is
// carried over there and waits for its result.
template <typename Result, typename Call>
Result OnUserInterfaceThread(Call call)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        return call();
    }
    Result result{};
    QMetaObject::invokeMethod(
        app, [&result, &call] { result = call(); }, Qt::BlockingQueuedConnection);
    return result;
}

}  // namespace

QString MessageBoxDisplayText(const QString& text)
{
    QString shown = DisplayLineBreaks(text);
    shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
    return shown;
}

TMessageBox::TMessageBox(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext,
                         QWidget* parent)
    : QMessageBox(parent)
{
    const TBoxLook look = LookOf(type);
    setIcon(look.Icon);
    setWindowTitle(QString::fromUtf16(look.Caption));
    // Plain text: messages carry paths, server answers and file contents, which Qt's rich-text
    // guess would otherwise swallow or format.
    setTextFormat(Qt::PlainText);
    setText(MessageBoxDisplayText(text));
    // Addresses and paths in a message can be selected and copied, with the keyboard as well.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // F1 opens the manual at the box's topic, else at the part of the window it was asked from.
    setProperty("helpContext", helpContext);
    SetUpWindowKeys(this, helpContext > 0 ? helpContext : HelpContextOf(parent));
    // Placed again once the window manager has told the real frame.
    HoldOnScreen(*this);

    // Abbrechen before Wiederholen and Ja before Nein, left to right, as the program has always
    // shown them: buttons of one role keep the order they were added in, whereas the platform's
    // layout would sort accept and reject roles its own way (GNOME and KDE differ, and both
    // differ from what the person knows). Codes, default and escape button are set explicitly.
    switch (buttons) {
        case TMsgDlgButtons::mbOK: {
            QPushButton* ok = AddCodeButton(QStringLiteral("&OK"), AcceptRole, mrOk);
            setDefaultButton(ok);
            setEscapeButton(ok);
            break;
        }
        case TMsgDlgButtons::mbAbortRetry: {
            AddCodeButton(QStringLiteral("&Abbrechen"), ActionRole, mrAbort);
            QPushButton* retry = AddCodeButton(QStringLiteral("&Wiederholen"), ActionRole, mrRetry);
            setDefaultButton(retry);
            // No escape button: a stray Escape must not abort what the user is asked to retry.
            break;
        }
        case TMsgDlgButtons::mbYesNo: {
            QPushButton* yes = AddCodeButton(QStringLiteral("&Ja"), ActionRole, mrYes);
            QPushButton* no = AddCodeButton(QStringLiteral("&Nein"), ActionRole, mrNo);
            setDefaultButton(yes);
            setEscapeButton(no);
            break;
        }
    }
    connect(this, &QMessageBox::buttonClicked, this,
            [this](QAbstractButton* button) { FResultCode = FButtonCodes.value(button, mrCancel); });
}

QPushButton* TMessageBox::AddCodeButton(const QString& caption, ButtonRole role, int code)
{
    QPushButton* button = addButton(caption, role);
    FButtonCodes.insert(button, code);
    return button;
}

void TMessageBox::showEvent(QShowEvent* event)
{
    // QMessageBox takes its final size only here, after QDialog has already centred the smaller
    // first guess; centred again now, the box sits in the middle.
    QMessageBox::showEvent(event);
    QWidget* over = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    const QRect overRect = over != nullptr ? over->frameGeometry() : QRect();
    QScreen* screen = over != nullptr ? over->screen() : this->screen();
    if (screen == nullptr) {
        return;
    }
    const QRect available = screen->availableGeometry();
    // Until the platform knows the frame, the owner's or a usual one stands in for it.
    MoveFrameTo(*this, CentredPosition(overRect, available, size() + FrameExtent(*this)));
}

QPoint TMessageBox::CentredPosition(const QRect& over, const QRect& available, const QSize& frameSize)
{
    const QRect around = over.isValid() ? over : available;
    const QPoint centred(around.x() + (around.width() - frameSize.width()) / 2,
                         around.y() + (around.height() - frameSize.height()) / 2);
    // On a screen too small for the box its top left corner, with the title bar, stays reachable.
    return KeptOnScreen(available, centred, frameSize);
}

void TMessageBox::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        if (QAbstractButton* escape = escapeButton()) {
            escape->click();
        }
        event->accept();
        return;
    }
    QMessageBox::keyPressEvent(event);
}

void TMessageBox::closeEvent(QCloseEvent* event)
{
    // QDialog's handler, not QMessageBox's: the box closes even without an escape button, and no
    // button counts as clicked, so the code stays mrCancel.
    QDialog::closeEvent(event);
}

QWidget* TQtFrontEnd::Owner() const
{
    // The dialog the person is answering right now (the settings, the consent question), so
    // that the new window is stacked above that one; else the main window.
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal->isVisible())
        return modal;
    // A hidden or minimised main window would put the window where nobody looks.
    QWidget* over = FMainWindow;
    if (over != nullptr && (!over->isVisible() || over->isMinimized()))
        return nullptr;
    return over;
}

std::unique_ptr<TMessageBox> TQtFrontEnd::CreateMessageBox(const QString& text, TMsgDlgType type,
                                                           TMsgDlgButtons buttons, int helpContext) const
{
    // The box is transient for its owner and centred over it; without one, centred on the screen.
    return std::make_unique<TMessageBox>(text, type, buttons, helpContext, Owner());
}

int TQtFrontEnd::MessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext)
{
    return OnUserInterfaceThread<int>([&]() -> int {
        std::unique_ptr<TMessageBox> box = CreateMessageBox(text, type, buttons, helpContext);
        // The main window may be destroyed while the box is open, taking its child along.
        QPointer<TMessageBox> alive(box.get());
        box->exec();
        if (alive.isNull()) {
            (void)box.release();
            return mrCancel;
        }
        return box->ResultCode();
    });
}

bool TQtFrontEnd::OpenDocument(const QString& fileOrUrl)
{
    return OnUserInterfaceThread<bool>([&]() -> bool {
        // An absolute path becomes a file URL, an address keeps its scheme; a relative name is a
        // file when it exists in the current folder, else read as an address ("www...").
        const QUrl url = QUrl::fromUserInput(fileOrUrl, QDir::currentPath());
        if (!url.isValid() || url.isEmpty()) {
            return false;
        }
        return QDesktopServices::openUrl(url);
    });
}

int TQtFrontEnd::ShowNews(const TNewsView& news)
{
    return OnUserInterfaceThread<int>([&]() -> int {
        auto form = std::make_unique<TfrmNewsAnzeige>(news, Owner());
        // The main window may be destroyed while the window is open, taking its child along.
        QPointer<TfrmNewsAnzeige> alive(form.get());
        form->exec();
        if (alive.isNull()) {
            (void)form.release();
            return news.DefaultChoice;
        }
        return form->Choice();
    });
}

bool TQtFrontEnd::AskTrackingConsent()
{
    // Asked while the main window is being made, so mostly on its own in the middle of the screen.
    auto form = std::make_unique<TfrmTrackingOkConfirmation>(Owner());
    // The owner may go while the question is open, taking the form along.
    QPointer<TfrmTrackingOkConfirmation> alive(form.get());
    const bool consent = form->TrackingOk();
    if (alive.isNull()) {
        (void)form.release();
        return false;
    }
    return consent;
}

void TQtFrontEnd::BeginWaitCursor()
{
    OnUserInterfaceThread<bool>([this]() -> bool {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        ++FWaitCursorDepth;
        return true;
    });
}

void TQtFrontEnd::EndWaitCursor()
{
    OnUserInterfaceThread<bool>([this]() -> bool {
        // An End without its Begin must not take away a cursor somebody else set.
        if (FWaitCursorDepth == 0)
            return false;
        --FWaitCursorDepth;
        QGuiApplication::restoreOverrideCursor();
        return true;
    });
}
