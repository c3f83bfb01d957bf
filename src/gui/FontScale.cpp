// Sizes that follow the font resolution, and the room a window has on its screen.
#include "gui/FontScale.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

// Title bar and borders of a window that has not been shown yet and so has no frame to ask.
constexpr QSize AssumedFrame(16, 40);

}  // namespace

qreal FontScale(const QWidget* widget)
{
    const int dpi = widget != nullptr ? widget->logicalDpiY() : 96;
    return std::max<qreal>(1.0, dpi / 96.0);
}

int Scaled(int pixels, qreal scale)
{
    return static_cast<int>(std::lround(pixels * scale));
}

QSize Scaled(const QSize& size, qreal scale)
{
    return {Scaled(size.width(), scale), Scaled(size.height(), scale)};
}

QRect Scaled(const QRect& rect, qreal scale)
{
    return {Scaled(rect.x(), scale), Scaled(rect.y(), scale), Scaled(rect.width(), scale),
            Scaled(rect.height(), scale)};
}

QRect AvailableArea(const QWidget* widget)
{
    const QScreen* screen = widget != nullptr ? widget->screen() : nullptr;
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

QSize LargestClientSize(const QWidget* window)
{
    const QRect area = AvailableArea(window);
    if (area.isEmpty())
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    QSize frame = AssumedFrame;
    if (window != nullptr && window->isVisible()) {
        const QRect outer = window->frameGeometry();
        const QRect inner = window->geometry();
        if (outer.size() != inner.size())
            frame = outer.size() - inner.size();
    }
    return (area.size() - frame).expandedTo(QSize(1, 1));
}
