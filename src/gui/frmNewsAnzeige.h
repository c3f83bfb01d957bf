// The window "Es gibt Neuigkeiten!": one news item with its date, and the choice whether and
// when it is to be shown again. The decisions behind it live in TNewsItem.
#pragma once

#include "core/services/FrontEnd.h"

#include <QDialog>
#include <QPoint>

class QComboBox;
class QFrame;
class QLabel;
class QShowEvent;
class QTextBrowser;
class QToolButton;
class QUrl;

class TfrmNewsAnzeige : public QDialog {
    Q_OBJECT
public:
    // Shows `news` once the window is on the screen.
    explicit TfrmNewsAnzeige(const TNewsView& news, QWidget* parent = nullptr);

    // Children of the window, which owns them.
    QFrame* Panel1;
    QFrame* Panel2;
    QLabel* Image1;
    QLabel* Label1;
    QLabel* lbNewsDatum;
    QTextBrowser* reNews;
    QComboBox* cbErneutZeigen;
    QToolButton* btnSchliessen;

    // The choice the window was closed with, by any way; the preselected one until then.
    int Choice() const { return FChoice; }
    void done(int result) override;

public Q_SLOTS:
    // Opens web and mail addresses only; anything else a news item links to stays closed.
    void reNewsURLClick(const QUrl& url);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void PlaceNewsDate();

    TNewsView FNews;
    QPoint FNewsDatePos;
    int FChoice;
    bool FClosed = false;
};
