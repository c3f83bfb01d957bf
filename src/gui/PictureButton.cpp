// Picture buttons.
#include "gui/PictureButton.h"

#include <QKeyEvent>

TPictureButton::TPictureButton(QWidget* parent) : QToolButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void TPictureButton::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // Enter on the number block arrives with the keypad modifier; any other modifier means another key.
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (isEnabled() && !event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QToolButton::keyPressEvent(event);
}
