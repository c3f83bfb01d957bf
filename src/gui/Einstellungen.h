// The settings dialog "Einstellungen": autostart, interval, news, local source, log, proxy and
// (for administrators) the modules that take part in update searches. Every showing loads the
// controls afresh from the settings store; only OK saves.
#pragma once

#include "core/platform/VorlandtError.h"
#include "core/settings/SettingsValues.h"

#include <QDialog>
#include <QLineEdit>

#include <QHash>
#include <QList>

#include <optional>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QShowEvent;
class QSpinBox;
class QToolButton;
class QVBoxLayout;

// A text field with its caption above it; the caption is greyed with the field.
class TLabeledEdit : public QLineEdit {
    Q_OBJECT
public:
    // The caption is a sibling of the field, for the form's layout to place above it.
    TLabeledEdit(const QString& caption, QWidget* parent);

    QLabel* EditLabel;

protected:
    void changeEvent(QEvent* event) override;
};

class TfrmEinstellungen : public QDialog {
    Q_OBJECT
public:
    explicit TfrmEinstellungen(QWidget* parent = nullptr);

    // Shows the dialog modally. When saving failed, raises that EVorlandtError once the dialog
    // has closed, so that the caller's general error display shows the store's message.
    int exec() override;

    // Children of the dialog, which owns them.
    QCheckBox* cbAktiv;
    QCheckBox* cbNews;
    QCheckBox* cbLocalSource;
    QLineEdit* edLocalSource;
    QToolButton* btnLocalSourceBrowse;
    QLabel* Label2;
    QSpinBox* seDays;
    QLabel* Label1;
    QGroupBox* grpProxy;
    QCheckBox* cbProxyVerwenden;
    QToolButton* BitBtn4;
    TLabeledEdit* lbledtProxyServer;
    TLabeledEdit* lbledtProxyPort;
    TLabeledEdit* lbledtProxyUsername;
    TLabeledEdit* lbledtProxyPassword;
    TLabeledEdit* lbledtUserAgent;
    QCheckBox* cbLog;
    QLabel* Label3;
    QListWidget* clbModule;
    QFrame* pnlNoAdminWarning;
    QPlainTextEdit* memoNoAdminWarning;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QPushButton* BitBtn3;
    QToolButton* btnFeedbackTool;
    // Shown only while an administrator's policy fixes a control of their part of the dialog.
    QLabel* lblPolicySuche;
    QLabel* lblPolicyProxy;

public Q_SLOTS:
    void BitBtn1Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void btnFeedbackToolClick();
    void cbAktivClick();
    void cbLocalSourceClick();
    void cbProxyVerwendenClick();
    void BrowseLocalSource();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void LoadSettings();
    void SaveSettings();
    void LoadModuleList();
    void UpdateControlStates();
    void UpdateProxyControls();
    void LayOut(QWidget* page);
    // The size the texts need, at least that of the default font, within the screen.
    void FitToScreen();
    void PlaceNoAdminWarning();
    // The buttons below the module list on the page, or, where the page has to scroll, in a row of
    // their own below it that always stays in sight.
    void PlaceButtons(bool belowThePage);
    void ApplyTabOrder();
    void SetLocalSourceEnabled(bool enabled);
    // Tooltip and screen reader description of `control` say why it is locked, or are what they
    // were without a policy.
    void MarkLocked(QWidget* control, bool locked);
    void ApplyPolicyLocks();
    void ShowError(const QString& message);

    // A failed save, kept until exec() can hand it to its caller.
    std::optional<EVorlandtError> FSaveError;
    QScrollArea* FScrollArea = nullptr;
    QWidget* FButtonRow = nullptr;
    QVBoxLayout* FRightColumn = nullptr;
    bool FButtonsBelow = false;
    QList<QWidget*> FTabOrder;
    bool FInExec = false;
    // What the store fixes by policy, as read at the last showing.
    TSettingsLocks FLocks;
    struct TOwnHints {
        QString ToolTip;
        QString Description;
    };
    QHash<QWidget*, TOwnHints> FOwnHints;
};
