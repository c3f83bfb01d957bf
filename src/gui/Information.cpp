// The small information window.
#include "gui/Information.h"

#include "gui/QtFrontEnd.h"
#include "gui/ScreenFit.h"
#include "gui/WindowKeys.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace {

// The window's layout, in pixels of its client area at 96 dots per inch; larger fonts scale it.
constexpr QPoint FixedPlace(987, 831);
constexpr QSize ClientSize(603, 102);
constexpr QRect LabelRect(10, 10, 583, 47);
constexpr QRect ButtonRect(266, 70, 79, 25);

QScreen* ScreenForFixedPlace()
{
    if (QScreen* screen = QGuiApplication::screenAt(FixedPlace)) {
        return screen;
    }
    return QGuiApplication::primaryScreen();
}

}  // namespace

TInfo::TInfo(QWidget* parent)
    : QDialog(parent), Label1(new QLabel(this)), ButtonOK(new QPushButton(QStringLiteral("OK"), this))
{
    setWindowTitle(QStringLiteral("Information"));
    // Tahoma 8 beside the usual desktop font, larger beside a larger one.
    setFont(WindowFont());

    // Plain text: the message is usually a path, which must not be read as markup.
    Label1->setTextFormat(Qt::PlainText);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label1->setWordWrap(true);
    // The message is mostly a folder's path: one to copy into a file manager.
    Label1->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FClientSize = Scaled(*this, ClientSize);
    FLabelRect = Scaled(*this, LabelRect);
    FButtonRect = Scaled(*this, ButtonRect);
    // On a narrow or highly scaled screen the window gives up width first; the text wraps.
    const int tooWide = FClientSize.width() - CapToScreen(*this, FClientSize).width();
    if (tooWide > 0) {
        FClientSize.rwidth() -= tooWide;
        FLabelRect.setWidth(std::max(1, FLabelRect.width() - tooWide));
        FButtonRect.translate(-tooWide / 2, 0);
    }
    Label1->setGeometry(FLabelRect);

    ButtonOK->setGeometry(FButtonRect);
    SetCaptionWithAccessKey(ButtonOK, QStringLiteral("OK"), u'O');
    ButtonOK->setDefault(true);
    connect(ButtonOK, &QPushButton::clicked, this, &TInfo::ButtonOKClick);

    setFixedSize(FClientSize);

    // F1 opens the part of the manual about the window the information was asked from.
    SetUpWindowKeys(this, HelpContextOf(parent));
    // Placed again once the window manager has told the real frame.
    HoldOnScreen(*this);
}

void TInfo::ShowMessage(const QString& AMessage)
{
    FMessageText = AMessage;
    Label1->setText(DisplayLineBreaks(AMessage));
    // A native window first, so that a platform that knows its frame already reports it.
    (void)winId();
    FitToMessage();
    PlaceOnScreen();
    exec();
}

void TInfo::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The frame may only be known now; placed again, it stays wholly on the screen.
    PlaceOnScreen();
}

void TInfo::ButtonOKClick()
{
    close();
}

void TInfo::FitToMessage()
{
    // The layout was drawn for Tahoma; a wider substitute font or a long message needs more lines
    // than the label holds, so the label and the window grow downwards, but never beyond the
    // screen.
    int labelHeight = std::max(FLabelRect.height(), Label1->heightForWidth(FLabelRect.width()));
    if (QScreen* screen = ScreenForFixedPlace()) {
        const int frameHeight = FrameExtent(*this).height();
        const int roomForLabel =
            screen->availableGeometry().height() - frameHeight - (FClientSize.height() - FLabelRect.height());
        labelHeight = std::max(FLabelRect.height(), std::min(labelHeight, roomForLabel));
    }
    const int growth = labelHeight - FLabelRect.height();
    Label1->setGeometry(FLabelRect.adjusted(0, 0, 0, growth));
    ButtonOK->setGeometry(FButtonRect.translated(0, growth));
    setFixedSize(FClientSize + QSize(0, growth));
}

void TInfo::PlaceOnScreen()
{
    QScreen* screen = ScreenForFixedPlace();
    if (screen == nullptr) {
        return;
    }
    // Until the platform knows the frame, the owner's or a usual one stands in for it.
    const QSize frameSize = size() + FrameExtent(*this);
    MoveFrameTo(*this, ScreenPosition(screen->availableGeometry(), frameSize));
}

QPoint TInfo::ScreenPosition(const QRect& available, const QSize& frameSize)
{
    // On a screen too small even for the window, its top left corner (and the title bar with it)
    // stays reachable.
    return KeptOnScreen(available, FixedPlace, frameSize);
}
