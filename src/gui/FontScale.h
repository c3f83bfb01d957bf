// Forms laid out in pixels for an 8-point font at 96 dots per inch grow with a larger font
// resolution, and no window outgrows the screen it is shown on.
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

// How much larger than at 96 dots per inch the widget's text is drawn; never below 1, so that
// the forms keep their size at the usual resolution.
qreal FontScale(const QWidget* widget);

int Scaled(int pixels, qreal scale);
QSize Scaled(const QSize& size, qreal scale);
QRect Scaled(const QRect& rect, qreal scale);

// The part of the screen a window of `widget` may cover: the available geometry of the screen
// the widget is on, or of the primary screen before it is shown. Empty without a screen.
QRect AvailableArea(const QWidget* widget);

// The largest size of a window's client area whose frame still fits `AvailableArea`, assuming
// a title bar and borders as most window managers draw them when the window has none yet.
QSize LargestClientSize(const QWidget* window);
