// A button that shows a picture instead of a caption, named by its tooltip's words.
#pragma once

#include <QToolButton>

class QKeyEvent;

// Enter and Return press the button while it has the focus, as Space does, instead of reaching
// the dialog's default button: a person who tabbed to the folder button wants the folder, not OK.
class TPictureButton : public QToolButton {
    Q_OBJECT
public:
    explicit TPictureButton(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
