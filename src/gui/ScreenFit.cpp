// Windows within the screen's usable area.
#include "gui/ScreenFit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace {

// A title bar and thin borders, as most window managers draw them; only used until the real
// frame is known.
constexpr QMargins GuessedFrame(4, 30, 4, 4);

// The frame around `window` as Qt knows it: none before the window system has reported it.
QMargins KnownFrame(const QWidget& window)
{
    const QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    return QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                    frame.bottom() - client.bottom());
}

// A scaled interface reports the frame in its own pixels, rounded: a border of one pixel on the
// screen may come out as none, a title bar a fraction short. A pixel more on each side keeps the
// whole frame on the screen.
QMargins RoundedUp(const QMargins& margins, const QWidget& window)
{
    return window.devicePixelRatioF() > 1 ? margins + QMargins(1, 1, 1, 1) : margins;
}

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

QMargins FrameMargins(const QWidget& window)
{
    // A side may be 0 where a border thinner than a pixel of a scaled interface rounds away.
    const QMargins measured = KnownFrame(window);
    if (window.windowFlags() & Qt::FramelessWindowHint)
        return measured;
    if (!measured.isNull())
        return RoundedUp(measured, window);
    // No frame reported yet, also while the window is already shown: the owner's frame, drawn by
    // the same window manager, else a guess that costs at most a few pixels.
    if (const QWidget* owner = window.parentWidget() != nullptr ? window.parentWidget()->window() : nullptr) {
        const QMargins ownerFrame = KnownFrame(*owner);
        if (!ownerFrame.isNull())
            return RoundedUp(ownerFrame, window);
    }
    return GuessedFrame;
}

QSize FrameExtent(const QWidget& window)
{
    const QMargins margins = FrameMargins(window);
    return {margins.left() + margins.right(), margins.top() + margins.bottom()};
}

void MoveFrameTo(QWidget& window, const QPoint& frameTopLeft)
{
    // Qt moves a window by the frame it knows, none before the window system has reported it:
    // the client area goes where the frame as assumed here leaves it.
    const QMargins assumed = FrameMargins(window);
    const QMargins known = KnownFrame(window);
    window.move(frameTopLeft + QPoint(assumed.left() - known.left(), assumed.top() - known.top()));
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
    // Where the frame is, or will be once the window system has drawn it.
    const QRect frame = window.geometry().marginsAdded(FrameMargins(window));
    const QPoint at = KeptOnScreen(available, frame.topLeft(), frame.size());
    if (at != frame.topLeft())
        MoveFrameTo(window, at);
}

namespace {

// Watches one window and brings it back within the screen; owned by the window.
class TScreenKeeper : public QObject {
public:
    TScreenKeeper(QWidget& window, std::function<void()> refit)
        : QObject(&window), FWindow(&window), FRefit(std::move(refit))
    {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != FWindow)
            return false;
        switch (event->type()) {
            case QEvent::Show:
                FCorrections = 0;
                // Once the window system has placed the window and, often only then, told its frame.
                QTimer::singleShot(0, this, [this] { Check(); });
                break;
            case QEvent::Move:
            case QEvent::Resize:
                if (FWindow->isVisible())
                    Check();
                break;
            default:
                break;
        }
        return false;
    }

private:
    void Check()
    {
        if (FChecking || !FWindow->isVisible() ||
            (FWindow->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)))
            return;
        const QRect available = AvailableGeometryFor(*FWindow);
        if (!available.isValid() ||
            available.contains(FWindow->geometry().marginsAdded(FrameMargins(*FWindow))))
            return;
        // A window manager that insists on its own place wins after a few tries; nothing loops.
        if (++FCorrections > MaximumCorrections)
            return;
        FChecking = true;
        if (FRefit)
            FRefit();
        MoveOntoScreen(*FWindow);
        FChecking = false;
    }

    static constexpr int MaximumCorrections = 4;
    QPointer<QWidget> FWindow;
    std::function<void()> FRefit;
    bool FChecking = false;
    int FCorrections = 0;
};

}  // namespace

void HoldOnScreen(QWidget& window, std::function<void()> refit)
{
    new TScreenKeeper(window, std::move(refit));
}

void CentreOverOwnerWindow(QWidget& window)
{
    const QWidget* owner = window.parentWidget() != nullptr ? window.parentWidget()->window() : nullptr;
    if (owner == nullptr)
        return;
    // Before the window's own frame is known its owner's stands in for it, so that the first
    // showing lands where every later one does.
    QRect place(QPoint(0, 0), window.size().grownBy(FrameMargins(window)));
    place.moveCenter(owner->frameGeometry().center());
    MoveFrameTo(window, place.topLeft());
}

qreal DesktopFontScale()
{
    const QFont desktop = QGuiApplication::font();
    qreal points = desktop.pointSizeF();
    // A font given in pixels: its size at the 96 dots per inch the points are measured against.
    if (points <= 0 && desktop.pixelSize() > 0)
        points = desktop.pixelSize() * 72.0 / 96.0;
    return points > 0 ? std::max<qreal>(1.0, points / ReferenceDesktopPointSize) : 1.0;
}

QFont WindowFont(qreal pointSize, const QString& family)
{
    QFont font(family);
    font.setPointSizeF(pointSize * DesktopFontScale());
    return font;
}

qreal FontScale(const QWidget& widget)
{
    return std::max<qreal>(1.0, widget.logicalDpiY() / 96.0) * DesktopFontScale();
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
