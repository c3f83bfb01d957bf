// The consent question of the usage tracking, "Wir bitten um Ihre Mithilfe": explains what is
// collected and insists on a yes or a no. Storing the answer is the tracker's business.
#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>

class QGroupBox;
class QPushButton;
class QRadioButton;
class QShowEvent;
class QTextEdit;

class TfrmTrackingOkConfirmation : public QDialog {
    Q_OBJECT
public:
    explicit TfrmTrackingOkConfirmation(QWidget* parent = nullptr);

    // Shows the dialog modally; true when it was left with the yes item selected.
    bool TrackingOk();

    // The letter, one entry per line.
    static QStringList LetterLines();

    // Children of the window, which owns them.
    QTextEdit* redtTrackingOk;
    QGroupBox* rgDecision;
    // The radio group's items: 0 yes, 1 no.
    QList<QRadioButton*> rgDecisionItems;
    QPushButton* btnClose;

    // The selected item of rgDecision, -1 while none is.
    int ItemIndex() const;

public Q_SLOTS:
    void btnCloseClick();
    // Only OK with a choice ends the dialog: Escape and the window manager's close do nothing.
    void reject() override {}

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void FormShow();
    void FitLetterFont();

    bool FZustimmungErteilt = false;
};
