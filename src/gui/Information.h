// The small information window: one message and an "OK" button, shown modally at a fixed place
// near the bottom right of the screen rather than centred.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QLabel;
class QPushButton;

class TInfo : public QDialog {
    Q_OBJECT
public:
    explicit TInfo(QWidget* parent = nullptr);

    // Children of the window, which owns them.
    QLabel* Label1;
    QPushButton* ButtonOK;

    // Shows AMessage and returns once the window has been closed.
    void ShowMessage(const QString& AMessage);
    const QString& MessageText() const { return FMessageText; }

    // The window's place on a screen whose usable area is `available`: its fixed place, moved
    // just enough that a window of `frameSize` is wholly visible on a smaller screen.
    static QPoint ScreenPosition(const QRect& available, const QSize& frameSize);

public slots:
    void ButtonOKClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FitToMessage();
    void PlaceOnScreen();

    QString FMessageText;
    // The layout at this window's font scale.
    QSize FClientSize;
    QRect FLabelRect;
    QRect FButtonRect;
};
