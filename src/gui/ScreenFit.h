// Keeps windows within the screen whatever the interface scale and the font size: fixed layouts
// grow with the font resolution, a window never asks for more than the screen's usable area, and
// never sits partly beyond its edges.
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

// The usable area of the screen the window is on (or will be on: its owner's, else the primary).
QRect AvailableGeometryFor(const QWidget& window);

// What the window manager's frame adds to the client area: measured once the window has a frame,
// guessed before, so that a window sized before its first showing still fits with its frame.
QSize FrameExtent(const QWidget& window);

// `wanted` held within the usable area of the window's screen, frame included.
QSize CapToScreen(const QWidget& window, const QSize& wanted);

// The top left corner for a frame of `frameSize` at `wanted`, moved just enough to lie within
// `available`; on a screen too small for it the top left corner (the title bar) stays reachable.
QPoint KeptOnScreen(const QRect& available, const QPoint& wanted, const QSize& frameSize);

// Moves the window, by its frame, onto the usable area of its screen.
void MoveOntoScreen(QWidget& window);

// Centres a window over its owner's window, frame on frame. Before the
// window's own frame is known (its first showing) the owner's frame stands in for it, so that the
// first showing lands where every later one does.
void CentreOverOwnerWindow(QWidget& window);

// How much larger text is drawn than at the 96 dots per inch the fixed layouts were drawn for
// (QT_FONT_DPI, the desktop's font scaling); never less than 1, so the default look stays.
qreal FontScale(const QWidget& widget);
// Pixels, a size or a rectangle at that scale, rounded.
int Scaled(const QWidget& widget, int pixels);
QSize Scaled(const QWidget& widget, const QSize& size);
QRect Scaled(const QWidget& widget, const QRect& rect);
