// The window "Es gibt Neuigkeiten!": one news item with its date, and the choice whether and
// when it is to be shown again. The decisions behind it live in TNewsAnzeige.
#pragma once

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QShowEvent;
class QTextBrowser;
class QToolButton;
class QUrl;
class TNewsAnzeige;

class TfrmNewsAnzeige : public QDialog {
    Q_OBJECT
public:
    // `news` (not owned) must outlive the window.
    explicit TfrmNewsAnzeige(TNewsAnzeige& news, QWidget* parent = nullptr);

    // Children of the window, which owns them.
    QFrame* Panel1;
    QFrame* Panel2;
    QLabel* Image1;
    QLabel* Label1;
    QLabel* lbNewsDatum;
    QTextBrowser* reNews;
    QComboBox* cbErneutZeigen;
    QToolButton* btnSchliessen;

    // Closing, by any way, hands the selected choice to TNewsAnzeige::FormClose once.
    void done(int result) override;

public Q_SLOTS:
    // Opens web and mail addresses only; anything else a news item links to stays closed.
    void reNewsURLClick(const QUrl& url);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void PlaceNewsDatum();
    void ShowError(const QString& message);

    TNewsAnzeige& FNews;
    bool FClosed = false;
};
