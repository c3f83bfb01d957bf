// Marks of the keyboard focus that a person with weak eyes finds at a glance: at least
// FocusMarkWidth pixels wide, in a colour that stands out from what lies behind it, in the
// default look and in a high-contrast one alike.
#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

// Width of every focus mark the program draws.
inline constexpr int FocusMarkWidth = 2;
// The least contrast ratio between a focus mark and its background (what WCAG asks of
// the parts of a control a person has to see).
inline constexpr qreal FocusMarkContrast = 3.0;

// The contrast ratio of two colours, 1 (the same) to 21 (black on white), as WCAG defines it.
qreal ContrastRatio(const QColor& a, const QColor& b);

// The colour of a focus mark on `background`: the palette's highlight where it stands out enough,
// else the palette's text colour that does, else black or white.
QColor FocusMarkColour(const QPalette& palette, const QColor& background);

// Draws a focus mark along the inside of `widget`'s border while it has the keyboard focus, for
// text panes and lists whose frame the style draws the same with and without focus. The mark
// lets every mouse event through and is owned by `widget`.
void ShowFocusOutline(QWidget* widget);

// Makes the application's style, whichever the desktop chose, draw every focus mark of buttons,
// check boxes, fields and list entries FocusMarkWidth wide in FocusMarkColour whenever the control
// has the focus. Call once the application's style is chosen; calling it again changes nothing.
void UseClearFocusMarks();
