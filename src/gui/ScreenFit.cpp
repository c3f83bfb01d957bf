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
    const QSize measured = (window.frameGeometry().size() - window.geometry().size()).expandedTo(QSize(0, 0));
    if (!measured.isEmpty() || (window.windowFlags() & Qt::FramelessWindowHint))
        return measured;
    // No frame reported yet, also while the window is already shown: the owner's frame, drawn by
    // the same window manager, else a guess that costs at most a few pixels.
    if (const QWidget* owner = window.parentWidget() != nullptr ? window.parentWidget()->window() : nullptr) {
        const QSize ownerFrame = owner->frameGeometry().size() - owner->geometry().size();
        if (!ownerFrame.isEmpty())
            return ownerFrame.expandedTo(QSize(0, 0));
    }
    return GuessedFrame;
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
    // The frame as far as it is known, or as it is likely to be.
    const QSize frameSize = window.size() + FrameExtent(window);
    const QPoint at = KeptOnScreen(available, frame.topLeft(), frameSize);
    if (at != frame.topLeft())
        window.move(at);
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
        if (!available.isValid() || available.contains(FWindow->frameGeometry()))
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
