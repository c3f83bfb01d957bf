// A visible cue for the keyboard focus on text panes whose frame the style draws the same with
// and without focus.
#pragma once

class QWidget;

// Draws a highlighted outline over the border of `widget` while it has the keyboard focus.
// The outline lets every mouse event through and is owned by `widget`.
void ShowFocusOutline(QWidget* widget);
