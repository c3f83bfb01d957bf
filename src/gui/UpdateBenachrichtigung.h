// The dialog "Vorlandt Online-Updates": the pending updates grouped by module in collapsible
// panels, the description of the entry under the pointer, and the question whether to install.
#pragma once

#include "core/catalog/Updates.h"

#include <QDialog>
#include <QLabel>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>

class QCheckBox;
class QEnterEvent;
class QFrame;
class QMouseEvent;
class QPushButton;
class QResizeEvent;
class QShowEvent;
class QScrollArea;
class QTextBrowser;
class QToolButton;
class QUrl;
class QVBoxLayout;

// An update entry: a label that takes the hot-light colour while the pointer is over it and
// reports every movement of the pointer over it with its tag. It takes the keyboard focus as
// well; the entry whose description is shown is drawn selected.
class TUpdateLabel : public QLabel {
    Q_OBJECT
public:
    TUpdateLabel(const QString& text, int tag, QWidget* parent);
    int Tag() const { return FTag; }

    bool IsCurrent() const { return FCurrent; }
    void SetCurrent(bool current);

Q_SIGNALS:
    void PointerMoved(int tag);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int FTag;
    bool FCurrent = false;
};

// A collapsible panel: a header button with an arrow that shows or hides the body below it, a
// list of the module's entries for screen readers. The caption is shown as it is written: an "&"
// in a module's name is no mnemonic.
class TCategoryPanel : public QWidget {
    Q_OBJECT
public:
    TCategoryPanel(const QString& caption, QWidget* parent);

    QString Caption() const;
    bool Expanded() const;
    void SetExpanded(bool expanded);
    // Adds an entry below the last one and grows the body to hold it.
    TUpdateLabel* AddEntry(const QString& text, int tag);
    const QList<TUpdateLabel*>& Entries() const { return FEntries; }

    QToolButton* Header;
    QWidget* Body;

private:
    void ShowBody(bool expanded);

    QString FCaption;
    QList<TUpdateLabel*> FEntries;
};

class TfrmUpdateBenachrichtigung : public QDialog {
    Q_OBJECT
public:
    explicit TfrmUpdateBenachrichtigung(QWidget* parent = nullptr);

    // Fills the dialog from the catalog, which must outlive every later showing and hovering.
    void Initialize(const TUpdates& Updates);

    // The panels of cpgUpdates from top to bottom.
    QList<TCategoryPanel*> Panels() const;

    // Children of the dialog, which owns them.
    QFrame* Panel1;
    QScrollArea* cpgUpdates;
    QTextBrowser* reBeschreibung;
    QFrame* Panel2;
    QCheckBox* CheckBox1;
    QLabel* Label2;
    QLabel* JvLabel1;
    QLabel* Label3;
    QFrame* Panel3;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

    // Escape and the close box end the dialog with 2, as "Keine Updates durchführen" does.
    void reject() override;

public Q_SLOTS:
    void BitBtn1Click();
    void CheckBox1Click();
    void JvLabel1Click();
    void UpdateLabelMouseMove(int tag);
    void reBeschreibungURLClick(const QUrl& url);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ClearPanels();
    // Headers and the entries of open panels, top to bottom: what the arrow keys move through.
    QList<QWidget*> NavigationOrder() const;
    bool NavigateFrom(QWidget* from, int key);
    void MarkCurrent(int tag);
    void UpdateTabOrder();
    // The module list is one stop of the Tab key: the header or entry that had the focus last
    // (at first the selected entry); the arrows move between the others.
    void SetListStop(QWidget* stop);
    // Sized within the screen, frame included.
    void FitToScreen();
    // The width the module list needs for its captions, within bounds that keep room for the
    // description.
    void FitListWidth();
    void OpenLink(const QString& address);
    void ShowError(const QString& message);

    QWidget* FPanelStack;
    QVBoxLayout* FPanelLayout;
    QMap<int, TUpdateIdentifier> FdictLabelUpdateID;
    const TUpdates* FUpdates = nullptr;
    // The entry whose description was loaded last, so that every pixel of movement over the
    // same entry does not write the file anew; -1 after Initialize.
    int FShownTag = -1;
    // The licence address of the update shown last; the licence link opens it.
    QString FLizenzURL;
    QPointer<QWidget> FListStop;
};
