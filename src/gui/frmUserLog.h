// The window "Installierte Updates": the installed-updates log, read afresh each time it is shown.
#pragma once

#include <QDialog>
#include <QRect>
#include <QSize>

class QPlainTextEdit;
class QPushButton;
class QResizeEvent;
class QShowEvent;

class TfrmUserLog : public QDialog {
    Q_OBJECT
public:
    explicit TfrmUserLog(QWidget* parent = nullptr);

    // Children of the window, which owns them.
    QPlainTextEdit* memoUserLog;
    QPushButton* bkSchliessen;

protected:
    // FormShow: fills the memo from the log when the log has any content, then centres the
    // window over its parent.
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FormShow();

    // The layout at this window's font scale.
    QSize FDesignSize;
    QRect FMemoRect;
    QRect FButtonRect;
};
