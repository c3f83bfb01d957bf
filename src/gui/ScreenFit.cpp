// Windows within the screen's usable area.
#include "gui/ScreenFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

// A title bar and thin borders, as most window managers draw them; only used until the real
// frame is known.
constexpr QSize GuessedFrame(2 * 4, 30 + 4);

}  // namespace

QRect AvailableGeometryFor(const QWidget& window)
{
    const QScreen* screen = nullptr;
    if (window.isVisible())
        screen = window.screen();
    if (screen == nullptr && window.parentWidget() != nullptr && window.parentWidget()->window()->isVisible())
        screen = window.parentWidget()->window()->screen();
    if (screen == nullptr)
        screen = window.screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

QSize FrameExtent(const QWidget& window)
{
    const QSize measured = window.frameGeometry().size() - window.geometry().size();
    if (window.isVisible())
        return measured.expandedTo(QSize(0, 0));
    // Before the first showing Qt knows no frame yet; a guess costs at most a few pixels.
    return measured.isEmpty() ? GuessedFrame : measured;
}

QSize CapToScreen(const QWidget& window, const QSize& wanted)
{
    const QRect available = AvailableGeometryFor(window);
    if (!available.isValid())
        return wanted;
    const QSize room = (available.size() - FrameExtent(window)).expandedTo(QSize(1, 1));
    return wanted.boundedTo(room);
}

QPoint KeptOnScreen(const QRect& available, const QPoint& wanted, const QSize& frameSize)
{
    const int x = std::max(available.left(), std::min(wanted.x(), available.right() + 1 - frameSize.width()));
    const int y =
        std::max(available.top(), std::min(wanted.y(), available.bottom() + 1 - frameSize.height()));
    return {x, y};
}

void MoveOntoScreen(QWidget& window)
{
    const QRect available = AvailableGeometryFor(window);
    if (!available.isValid())
        return;
    const QRect frame = window.frameGeometry();
    const QSize frameSize = frame.size().expandedTo(window.size());
    const QPoint at = KeptOnScreen(available, frame.topLeft(), frameSize);
    if (at != frame.topLeft())
        window.move(at);
}

void CentreOverOwnerWindow(QWidget& window)
{
    const QWidget* owner = window.parentWidget() != nullptr ? window.parentWidget()->window() : nullptr;
    if (owner == nullptr)
        return;
    QSize frame = window.frameGeometry().size() - window.geometry().size();
    QPoint clientOffset;
    if (frame.isEmpty()) {
        // Not shown with a frame yet: the window system places what it is given as the client
        // area, and the frame then grows around it. The owner's frame says how much it will add.
        frame = owner->frameGeometry().size() - owner->geometry().size();
        clientOffset = owner->geometry().topLeft() - owner->frameGeometry().topLeft();
    }
    const QSize frameSize = window.size() + frame.expandedTo(QSize(0, 0));
    QRect place(QPoint(0, 0), frameSize);
    place.moveCenter(owner->frameGeometry().center());
    window.move(place.topLeft() + clientOffset);
}

qreal FontScale(const QWidget& widget)
{
    return std::max<qreal>(1.0, widget.logicalDpiY() / 96.0);
}

int Scaled(const QWidget& widget, int pixels)
{
    return qRound(pixels * FontScale(widget));
}

QSize Scaled(const QWidget& widget, const QSize& size)
{
    return {Scaled(widget, size.width()), Scaled(widget, size.height())};
}

QRect Scaled(const QWidget& widget, const QRect& rect)
{
    return {QPoint(Scaled(widget, rect.x()), Scaled(widget, rect.y())), Scaled(widget, rect.size())};
}
