// Keeps windows within the screen whatever the interface scale and the font size: fixed layouts
// grow with the font resolution and the desktop's font size, a window never asks for more than the
// screen's usable area, and never sits partly beyond its edges.
#pragma once

#include <QFont>
#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

class QWidget;

// The usable area of the screen the window is on (or will be on: its owner's, else the primary).
QRect AvailableGeometryFor(const QWidget& window);

// What the window manager's frame adds to the client area: measured once the window system has
// reported it, guessed before (from the owner's frame, else a usual title bar), so that a window
// sized before or right at its showing still fits with its frame. An X11 window manager reports the
// frame only some time after the window is on the screen.
QMargins FrameMargins(const QWidget& window);
// The width and height the frame adds.
QSize FrameExtent(const QWidget& window);

// Moves `window` so that its frame's top left corner lies at `frameTopLeft`, also while the window
// system has not reported the frame yet (Qt then places the client area, and the frame grows
// around it).
void MoveFrameTo(QWidget& window, const QPoint& frameTopLeft);

// `wanted` held within the usable area of the window's screen, frame included.
QSize CapToScreen(const QWidget& window, const QSize& wanted);

// The top left corner for a frame of `frameSize` at `wanted`, moved just enough to lie within
// `available`; on a screen too small for it the top left corner (the title bar) stays reachable.
QPoint KeptOnScreen(const QRect& available, const QPoint& wanted, const QSize& frameSize);

// Moves the window, by its frame, onto the usable area of its screen.
void MoveOntoScreen(QWidget& window);

// Keeps `window` within the usable area of its screen from now on: whenever it is shown, moved or
// resized and its frame sticks out (the window system reported a larger frame than was assumed,
// or placed the window itself), `refit` sizes it anew (FrameExtent knows the frame by then) and
// the window moves onto the screen. `refit` may be empty for a window whose size stays.
void HoldOnScreen(QWidget& window, std::function<void()> refit = {});

// Centres a window over its owner's window, frame on frame. Before the
// window's own frame is known (its first showing) the owner's frame stands in for it, so that the
// first showing lands where every later one does.
void CentreOverOwnerWindow(QWidget& window);

// The desktop's font size the windows' own fonts were chosen for: at this size they keep the look
// they were drawn with (Tahoma 8 beside a 9-point desktop font, as on Windows).
inline constexpr qreal ReferenceDesktopPointSize = 9.0;

// How much larger the desktop's font (the application's default font, which the platform theme
// takes from the desktop) is than the reference size; never less than 1.
qreal DesktopFontScale();

// A window's own font: `family` at `pointSize` as drawn for the reference desktop font, grown with
// a larger desktop font. Where the family is missing the font database substitutes the closest.
QFont WindowFont(qreal pointSize = 8, const QString& family = QStringLiteral("Tahoma"));

// How much larger text is drawn than at the 96 dots per inch and the desktop font size the fixed
// layouts were drawn for (QT_FONT_DPI, the desktop's font scaling and font size); never less than
// 1, so the default look stays.
qreal FontScale(const QWidget& widget);
// Pixels, a size or a rectangle at that scale, rounded.
int Scaled(const QWidget& widget, int pixels);
QSize Scaled(const QWidget& widget, const QSize& size);
QRect Scaled(const QWidget& widget, const QRect& rect);
