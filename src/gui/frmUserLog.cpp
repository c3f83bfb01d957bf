// The installed-updates window.
#include "gui/frmUserLog.h"

#include "core/catalog/UserLog.h"
#include "core/platform/text/TextCodec.h"
#include "core/platform/VorlandtError.h"
#include "core/services/FrontEnd.h"
#include "gui/Application.h"
#include "gui/FocusOutline.h"
#include "gui/QtFrontEnd.h"
#include "gui/ScreenFit.h"
#include "gui/WindowKeys.h"

#include <QFont>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QTimer>

namespace {

// The layout at 96 dots per inch, in pixels of the client area, scaled with larger fonts; the memo
// keeps its distance to all four edges, the button to the right and bottom ones.
constexpr QSize ClientSize(751, 604);
constexpr QRect MemoRect(8, 8, 622, 588);
constexpr QRect ButtonRect(636, 571, 107, 25);
// Small enough to shrink, large enough that memo and button never overlap or vanish.
constexpr QSize MinimumClientSize(ButtonRect.width() + 16 + 100, ButtonRect.height() + 16 + 60);

const QString InitialText = QStringLiteral("Keine Updates seit Anlage dieses Dokumentes durchgeführt.");

}  // namespace

TfrmUserLog::TfrmUserLog(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      memoUserLog(new QPlainTextEdit(this)),
      bkSchliessen(new QPushButton(QStringLiteral("Schließen"), this))
{
    setObjectName(QStringLiteral("frmUserLog"));
    setWindowTitle(QStringLiteral("Installierte Updates"));
    // Tahoma 8 beside the usual desktop font, larger beside a larger one.
    setFont(WindowFont());

    memoUserLog->setObjectName(QStringLiteral("memoUserLog"));
    memoUserLog->setReadOnly(true);
    memoUserLog->setFont(WindowFont(10));
    memoUserLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoUserLog->setPlainText(InitialText);
    memoUserLog->setAccessibleName(windowTitle());
    // Read-only, but reachable: the arrow keys and Page Down read the log, Ctrl+C copies from it.
    memoUserLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    memoUserLog->setFocusPolicy(Qt::StrongFocus);
    ShowFocusOutline(memoUserLog);

    bkSchliessen->setObjectName(QStringLiteral("bkSchliessen"));
    SetCaptionWithAccessKey(bkSchliessen, QStringLiteral("Schließen"), u'S');
    bkSchliessen->setDefault(true);
    connect(bkSchliessen, &QPushButton::clicked, this, &QDialog::accept);

    // The manual, at the part that describes this window.
    SetUpWindowKeys(this, UserLogHelpContext);
    // Never larger than the screen with the frame the window manager turns out to draw.
    HoldOnScreen(*this, [this] { resize(CapToScreen(*this, size())); });

    FDesignSize = Scaled(*this, ClientSize);
    FMemoRect = Scaled(*this, MemoRect);
    FButtonRect = Scaled(*this, ButtonRect);
    memoUserLog->setGeometry(FMemoRect);
    bkSchliessen->setGeometry(FButtonRect);
    bkSchliessen->setMaximumHeight(FButtonRect.height());
    setMinimumSize(Scaled(*this, MinimumClientSize));
    resize(FDesignSize);
}

void TfrmUserLog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    const QSize grown = event->size() - FDesignSize;
    memoUserLog->setGeometry(FMemoRect.adjusted(0, 0, grown.width(), grown.height()));
    bkSchliessen->move(FButtonRect.topLeft() + QPoint(grown.width(), grown.height()));
}

void TfrmUserLog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        FormShow();
        // Never larger than the screen; the memo scrolls.
        const QSize capped = CapToScreen(*this, size());
        if (capped != size())
            resize(capped);
        CentreOverOwnerWindow(*this);
        // Centred over a main window near an edge, the title bar would stick out.
        MoveOntoScreen(*this);
    }
}

void TfrmUserLog::FormShow()
{
    try {
        const TUserLog userLog;
        if (!userLog.Content().isEmpty())
            memoUserLog->setPlainText(platform::SplitLines(userLog.Content()).join(u'\n'));
    } catch (const EVorlandtError& error) {
        // An unreadable log is reported like every other failure, but not from inside the show
        // event: the message box waits until the window is on the screen.
        const QString message = error.message();
        QTimer::singleShot(
            0, this, [message] { MessageDialog(message, TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0); });
    }
}
