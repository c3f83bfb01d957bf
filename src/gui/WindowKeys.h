// The keys every window of the program answers alike: F1 opens the window's part of the manual,
// Shift+F10 opens the context menu of the control with the focus (as the Menu key does), and a
// button's access key is marked in its caption while the usage events keep recording the caption.
#pragma once

#include <QChar>
#include <QString>

class QAbstractButton;
class QWidget;

// F1 anywhere in `window` opens the manual at the part for `helpContext` (0: its start page);
// Shift+F10 opens the context menu of the focused control where it has one.
void SetUpWindowKeys(QWidget* window, int helpContext);

// The help context of the window `widget` lies in, as SetUpWindowKeys set it; 0 where none was.
// A small window opened from another one (an information, an address) takes its owner's part.
int HelpContextOf(const QWidget* widget);

// Opens the context menu of `window`'s focused control, where the pointer would be for a menu
// opened by key: at its text cursor, else in its middle. False when there is no focused control.
bool OpenContextMenuOfFocus(QWidget* window);

// Shows `caption` on `button` with its access key marked before the first `key` (Alt+key presses
// it); usage events and everything else that reads the caption keep `caption` as it is written.
void SetCaptionWithAccessKey(QAbstractButton* button, const QString& caption, QChar key);

// The caption SetCaptionWithAccessKey was given, else the button's text as it is.
QString CaptionWithoutAccessKey(const QAbstractButton* button);
