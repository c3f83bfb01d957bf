// The settings dialog.
#include "gui/Einstellungen.h"

#include "core/services/BasicProcs.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/settings/SettingsValues.h"
#include "gui/Application.h"
#include "gui/FocusOutline.h"
#include "gui/Information.h"
#include "gui/PictureButton.h"
#include "gui/QtFrontEnd.h"
#include "gui/ScreenFit.h"
#include "gui/WindowKeys.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <utility>

namespace {

// The layout at the default font, in pixels at 96 dots per inch: the dialog never gets smaller,
// and grows where a larger font needs more room.
constexpr QSize ClientSize(905, 375);
constexpr QMargins ClientMargins(8, 8, 8, 8);
constexpr int ColumnGap = 27;
constexpr int LeftColumnWidth = 429;
constexpr int CheckBoxPitch = 23;
constexpr int SectionGap = 13;
constexpr int DirectoryIndent = 15;
constexpr int DirectoryWidth = 414;
constexpr int DaysWidth = 41;
constexpr QSize ModuleListSize(433, 304);
constexpr QSize WarningSize(218, 56);
constexpr int WarningMargin = 4;
constexpr QSize ButtonSize(92, 25);
constexpr QSize FeedbackSize(30, 25);
constexpr int ButtonGap = 6;
constexpr int ProxyServerWidth = 321;
constexpr int ProxyPortWidth = 53;
constexpr QSize InfoButtonSize(26, 18);

const QString NoAdminWarning = QStringLiteral(
    "Um diesen Teil der Einstellungen zu \n"
    "ändern, müssen Sie das Programm \n"
    "mit Administratorrechten starten.");

QCheckBox* CheckBox(const QString& name, const QString& caption, QWidget* parent)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    return box;
}

QLabel* Label(const QString& name, const QString& caption, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    return label;
}

QPushButton* StandardButton(const QString& name, const QString& caption, QStyle::StandardPixmap glyph,
                            QWidget* parent)
{
    auto* button = new QPushButton(parent->style()->standardIcon(glyph), caption, parent);
    button->setObjectName(name);
    button->setMinimumSize(ButtonSize);
    return button;
}

// A button that shows only a picture: its tooltip's words are what a screen reader says, and
// Enter presses it while it has the focus.
QToolButton* PictureButton(const QString& name, const QIcon& icon, QSize size, const QString& tip,
                           QWidget* parent)
{
    auto* button = new TPictureButton(parent);
    button->setObjectName(name);
    button->setIcon(icon);
    button->setIconSize(QSize(size.height() - 4, size.height() - 4).boundedTo(QSize(24, 24)));
    button->setMinimumSize(size);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    return button;
}

void SetTextColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

}  // namespace

TLabeledEdit::TLabeledEdit(const QString& caption, QWidget* parent)
    : QLineEdit(parent), EditLabel(new QLabel(caption, parent))
{
    EditLabel->setBuddy(this);
}

void TLabeledEdit::changeEvent(QEvent* event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        EditLabel->setEnabled(isEnabled());
}

TfrmEinstellungen::TfrmEinstellungen(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmEinstellungen"));
    setWindowTitle(QStringLiteral("Einstellungen"));
    // Tahoma 8 beside the usual desktop font, larger beside a larger one.
    setFont(WindowFont());

    // Everything lies on one page that scrolls where the screen is too small for it (large fonts
    // on a small or highly scaled screen); otherwise no scroll bar shows.
    FScrollArea = new QScrollArea(this);
    FScrollArea->setObjectName(QStringLiteral("sbEinstellungen"));
    FScrollArea->setFrameShape(QFrame::NoFrame);
    FScrollArea->setWidgetResizable(true);
    FScrollArea->setFocusPolicy(Qt::NoFocus);
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("pnlSeite"));
    FScrollArea->setWidget(page);
    FScrollArea->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(FScrollArea, 1);

    // ---- left column
    cbAktiv = CheckBox(QStringLiteral("cbAktiv"),
                       QStringLiteral("Online-Update automatisch beim Rechner-Start ausführen"), page);
    cbNews = CheckBox(QStringLiteral("cbNews"),
                      QStringLiteral("Beim Rechner-Start über Neuigkeiten informieren"), page);
    cbLocalSource = CheckBox(
        QStringLiteral("cbLocalSource"),
        QStringLiteral("Updates aus dem folgenden lokalen Verzeichnis statt vom Vorlandt-Server laden:"),
        page);
    edLocalSource = new QLineEdit(page);
    edLocalSource->setObjectName(QStringLiteral("edLocalSource"));
    edLocalSource->setEnabled(false);
    edLocalSource->setMinimumWidth(DirectoryWidth);
    // The box above is the field's caption; a check box cannot be a label's buddy.
    edLocalSource->setAccessibleName(QStringLiteral("Lokales Verzeichnis"));
    edLocalSource->setAccessibleDescription(cbLocalSource->text());
    btnLocalSourceBrowse =
        PictureButton(QStringLiteral("btnLocalSourceBrowse"), style()->standardIcon(QStyle::SP_DirOpenIcon),
                      QSize(edLocalSource->sizeHint().height(), edLocalSource->sizeHint().height()),
                      QStringLiteral("Verzeichnis auswählen"), page);
    btnLocalSourceBrowse->setEnabled(false);

    Label2 = Label(QStringLiteral("Label2"), QStringLiteral("Alle"), page);
    seDays = new QSpinBox(page);
    seDays->setObjectName(QStringLiteral("seDays"));
    seDays->setRange(MinDays, MaxDays);
    seDays->setValue(MinDays);
    seDays->setMinimumWidth(DaysWidth);
    // The field stands inside its sentence; read alone, its name has to carry the whole of it.
    seDays->setAccessibleName(QStringLiteral("Alle … Tage nach Updates suchen."));
    Label1 = Label(QStringLiteral("Label1"), QStringLiteral("Tage nach Updates suchen."), page);
    Label2->setBuddy(seDays);
    lblPolicySuche = Label(QStringLiteral("lblPolicySuche"), PolicyLockNote, page);
    lblPolicySuche->hide();

    // ---- proxy group
    grpProxy = new QGroupBox(QStringLiteral(" Proxy / Sicherheit"), page);
    grpProxy->setObjectName(QStringLiteral("grpProxy"));
    cbProxyVerwenden = CheckBox(QStringLiteral("cbProxyVerwenden"),
                                QStringLiteral("Proxy-Einstellungen verwenden"), grpProxy);
    lbledtProxyServer = new TLabeledEdit(QStringLiteral("Server"), grpProxy);
    lbledtProxyServer->setObjectName(QStringLiteral("lbledtProxyServer"));
    lbledtProxyPort = new TLabeledEdit(QStringLiteral("Port"), grpProxy);
    lbledtProxyPort->setObjectName(QStringLiteral("lbledtProxyPort"));
    lbledtProxyUsername = new TLabeledEdit(QStringLiteral("ggf. Username"), grpProxy);
    lbledtProxyUsername->setObjectName(QStringLiteral("lbledtProxyUsername"));
    lbledtProxyPassword = new TLabeledEdit(QStringLiteral("ggf. Passwort"), grpProxy);
    lbledtProxyPassword->setObjectName(QStringLiteral("lbledtProxyPassword"));
    lbledtProxyPassword->setEchoMode(QLineEdit::Password);
    // A star for every character, whatever mask character the desktop's style would pick.
    lbledtProxyPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    lbledtUserAgent = new TLabeledEdit(QStringLiteral("UserAgent"), grpProxy);
    lbledtUserAgent->setObjectName(QStringLiteral("lbledtUserAgent"));
    lbledtProxyServer->setMinimumWidth(ProxyServerWidth);
    // Room for a five-digit port, no more: the server field takes the rest of the row.
    lbledtProxyPort->setFixedWidth(std::max(
        ProxyPortWidth, lbledtProxyPort->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 8));
    BitBtn4 =
        PictureButton(QStringLiteral("BitBtn4"), style()->standardIcon(QStyle::SP_MessageBoxInformation),
                      InfoButtonSize, QStringLiteral("Wo liegen die Log-Dateien?"), grpProxy);
    // In the group's top row, just left of the button that explains it.
    cbLog = CheckBox(QStringLiteral("cbLog"), QStringLiteral("Log-Datei erstellen"), grpProxy);
    lblPolicyProxy = Label(QStringLiteral("lblPolicyProxy"), PolicyLockNote, grpProxy);
    lblPolicyProxy->hide();

    // ---- right column
    Label3 =
        Label(QStringLiteral("Label3"), QStringLiteral("Für folgende Module Updates durchführen:"), page);
    clbModule = new QListWidget(page);
    clbModule->setObjectName(QStringLiteral("clbModule"));
    clbModule->setMinimumSize(ModuleListSize);
    Label3->setBuddy(clbModule);
    // Item views take no name from their buddy.
    clbModule->setAccessibleName(Label3->text());
    // Empty for a user without administrator rights: the focus shows on the list itself.
    ShowFocusOutline(clbModule);

    pnlNoAdminWarning = new QFrame(page);
    pnlNoAdminWarning->setObjectName(QStringLiteral("pnlNoAdminWarning"));
    pnlNoAdminWarning->setAutoFillBackground(true);
    auto* warningLayout = new QVBoxLayout(pnlNoAdminWarning);
    warningLayout->setContentsMargins(WarningMargin, WarningMargin, WarningMargin, WarningMargin);
    memoNoAdminWarning = new QPlainTextEdit(NoAdminWarning, pnlNoAdminWarning);
    memoNoAdminWarning->setObjectName(QStringLiteral("memoNoAdminWarning"));
    memoNoAdminWarning->setReadOnly(true);
    memoNoAdminWarning->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoNoAdminWarning->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memoNoAdminWarning->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memoNoAdminWarning->setFrameShape(QFrame::NoFrame);
    memoNoAdminWarning->document()->setDocumentMargin(1);
    memoNoAdminWarning->setAccessibleName(
        QString(NoAdminWarning).replace(QStringLiteral(" \n"), QStringLiteral(" ")));
    ShowFocusOutline(memoNoAdminWarning);
    // Only the weight is the memo's own; family and size follow the dialog's.
    QFont bold;
    bold.setBold(true);
    memoNoAdminWarning->setFont(bold);
    QPalette yellow = memoNoAdminWarning->palette();
    yellow.setColor(QPalette::Base, Qt::yellow);
    yellow.setColor(QPalette::Text, Qt::black);
    memoNoAdminWarning->setPalette(yellow);
    QPalette frame = pnlNoAdminWarning->palette();
    frame.setColor(QPalette::Window, Qt::yellow);
    pnlNoAdminWarning->setPalette(frame);
    warningLayout->addWidget(memoNoAdminWarning);
    pnlNoAdminWarning->raise();
    // The warning lies over the middle of the list, wherever the list ends up.
    clbModule->installEventFilter(this);

    // ---- buttons, bottom right
    FButtonRow = new QWidget(page);
    FButtonRow->setObjectName(QStringLiteral("pnlKnoepfe"));
    // Below a page too large for the screen the page gives up height, never the buttons.
    FButtonRow->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    BitBtn1 = StandardButton(QStringLiteral("BitBtn1"), QStringLiteral("OK"), QStyle::SP_DialogOkButton,
                             FButtonRow);
    SetCaptionWithAccessKey(BitBtn1, QStringLiteral("OK"), u'O');
    BitBtn1->setDefault(true);
    BitBtn2 = StandardButton(QStringLiteral("BitBtn2"), QStringLiteral("Abbrechen"),
                             QStyle::SP_DialogCancelButton, FButtonRow);
    SetCaptionWithAccessKey(BitBtn2, QStringLiteral("Abbrechen"), u'A');
    BitBtn3 = StandardButton(QStringLiteral("BitBtn3"), QStringLiteral("&Hilfe"), QStyle::SP_DialogHelpButton,
                             FButtonRow);
    // The program's own picture where its resources are linked in, the desktop's otherwise.
    const QString feedbackPicture = QStringLiteral(":/icons/feedback.png");
    btnFeedbackTool =
        PictureButton(QStringLiteral("btnFeedbackTool"),
                      QFile::exists(feedbackPicture) ? QIcon(feedbackPicture)
                                                     : style()->standardIcon(QStyle::SP_MessageBoxQuestion),
                      FeedbackSize, QStringLiteral("Feedback"), FButtonRow);

    LayOut(page);

    // What a locked control says instead, and what it says again once the policy has gone.
    for (QWidget* control :
         std::initializer_list<QWidget*>{cbAktiv, cbNews, cbLocalSource, edLocalSource, btnLocalSourceBrowse,
                                         seDays, cbLog, cbProxyVerwenden, lbledtProxyServer, lbledtProxyPort,
                                         lbledtProxyUsername, lbledtProxyPassword, lbledtUserAgent})
        FOwnHints.insert(control, {control->toolTip(), control->accessibleDescription()});

    // ---- tab order
    FTabOrder = {cbAktiv,
                 cbNews,
                 cbLocalSource,
                 edLocalSource,
                 btnLocalSourceBrowse,
                 seDays,
                 BitBtn1,
                 BitBtn2,
                 BitBtn3,
                 clbModule,
                 memoNoAdminWarning,
                 cbProxyVerwenden,
                 lbledtProxyServer,
                 lbledtProxyPort,
                 lbledtProxyUsername,
                 lbledtProxyPassword,
                 lbledtUserAgent,
                 BitBtn4,
                 btnFeedbackTool,
                 cbLog};
    ApplyTabOrder();

    // F1 as everywhere, beside the "Hilfe" button.
    SetUpWindowKeys(this, SettingsHelpContext);
    // Sized anew once the window manager has told the real frame.
    HoldOnScreen(*this, [this] { FitToScreen(); });

    // Setting a box from the store fires its handler as a click does, so the states follow.
    connect(cbAktiv, &QCheckBox::toggled, this, &TfrmEinstellungen::cbAktivClick);
    connect(cbLog, &QCheckBox::toggled, this, &TfrmEinstellungen::cbAktivClick);
    connect(cbLocalSource, &QCheckBox::toggled, this, &TfrmEinstellungen::cbLocalSourceClick);
    connect(cbProxyVerwenden, &QCheckBox::toggled, this, &TfrmEinstellungen::cbProxyVerwendenClick);
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmEinstellungen::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(BitBtn3, &QPushButton::clicked, this, &TfrmEinstellungen::BitBtn3Click);
    connect(BitBtn4, &QToolButton::clicked, this, &TfrmEinstellungen::BitBtn4Click);
    connect(btnFeedbackTool, &QToolButton::clicked, this, &TfrmEinstellungen::btnFeedbackToolClick);
    connect(btnLocalSourceBrowse, &QToolButton::clicked, this, &TfrmEinstellungen::BrowseLocalSource);
}

void TfrmEinstellungen::LayOut(QWidget* page)
{
    // Left column: the search settings, then the proxy group filling the rest.
    auto* directory = new QHBoxLayout;
    directory->setSpacing(2);
    directory->addSpacing(DirectoryIndent);
    directory->addWidget(edLocalSource, 1);
    directory->addWidget(btnLocalSourceBrowse);
    auto* days = new QHBoxLayout;
    days->setSpacing(5);
    days->addWidget(Label2);
    days->addWidget(seDays);
    days->addWidget(Label1);
    days->addStretch();
    // The boxes keep their pitch where the font allows, and move apart where it needs more.
    const int boxGap = std::max(2, CheckBoxPitch - cbAktiv->sizeHint().height());
    auto* left = new QVBoxLayout;
    left->setSpacing(0);
    left->addWidget(cbAktiv);
    left->addSpacing(boxGap);
    left->addWidget(cbNews);
    left->addSpacing(boxGap);
    left->addWidget(cbLocalSource);
    left->addSpacing(boxGap);
    left->addLayout(directory);
    left->addSpacing(SectionGap);
    left->addLayout(days);
    // Its room is its own margin: hidden, it leaves the column as it is without a policy.
    lblPolicySuche->setContentsMargins(0, SectionGap / 2, 0, 0);
    left->addWidget(lblPolicySuche);
    left->addSpacing(SectionGap);
    left->addWidget(grpProxy, 1);
    grpProxy->setMinimumWidth(LeftColumnWidth);

    // The proxy group: the switch row with the log box and its button, then the labelled fields.
    auto* switches = new QHBoxLayout;
    switches->addWidget(cbProxyVerwenden);
    switches->addStretch();
    switches->addWidget(cbLog);
    switches->addWidget(BitBtn4);
    auto* fields = new QGridLayout;
    fields->setHorizontalSpacing(9);
    fields->setVerticalSpacing(3);
    fields->addWidget(lbledtProxyServer->EditLabel, 0, 0);
    fields->addWidget(lbledtProxyPort->EditLabel, 0, 1);
    fields->addWidget(lbledtProxyServer, 1, 0);
    fields->addWidget(lbledtProxyPort, 1, 1);
    fields->addWidget(lbledtProxyUsername->EditLabel, 2, 0);
    fields->addWidget(lbledtProxyUsername, 3, 0);
    fields->addWidget(lbledtProxyPassword->EditLabel, 4, 0);
    fields->addWidget(lbledtProxyPassword, 5, 0);
    fields->addWidget(lbledtUserAgent->EditLabel, 6, 0);
    fields->addWidget(lbledtUserAgent, 7, 0, 1, 2);
    fields->setColumnStretch(0, 1);
    auto* group = new QVBoxLayout(grpProxy);
    group->setContentsMargins(10, 6, 28, 12);
    group->setSpacing(0);
    group->addLayout(switches);
    group->addSpacing(SectionGap);
    group->addLayout(fields);
    lblPolicyProxy->setContentsMargins(0, SectionGap / 2, 0, 0);
    group->addWidget(lblPolicyProxy);
    group->addStretch();

    // Right column: the module list, then the buttons.
    auto* buttons = new QHBoxLayout(FButtonRow);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(ButtonGap);
    buttons->addStretch();
    buttons->addWidget(btnFeedbackTool);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    buttons->addWidget(BitBtn3);
    auto* right = new QVBoxLayout;
    FRightColumn = right;
    right->setSpacing(0);
    right->addSpacing(2);
    right->addWidget(Label3);
    right->addSpacing(6);
    right->addWidget(clbModule, 1);
    right->addSpacing(9);
    right->addWidget(FButtonRow);

    auto* columns = new QHBoxLayout(page);
    columns->setContentsMargins(ClientMargins);
    columns->setSpacing(ColumnGap);
    columns->addLayout(left, 0);
    columns->addLayout(right, 1);
    FitToScreen();
}

void TfrmEinstellungen::FitToScreen()
{
    QWidget* page = FScrollArea->widget();
    PlaceButtons(false);
    page->layout()->activate();
    const QSize needed = ClientSize.expandedTo(page->minimumSizeHint());
    if (CapToScreen(*this, needed) == needed) {
        setFixedSize(needed);
        return;
    }
    // The screen is too small: the page scrolls, and OK, Abbrechen and Hilfe stay in sight below it.
    PlaceButtons(true);
    page->layout()->activate();
    const QSize pageNeeded = page->minimumSizeHint();
    const QSize wanted = pageNeeded + QSize(0, FButtonRow->sizeHint().height());
    const QSize shown = CapToScreen(*this, wanted);
    // Scroll bars only in the direction that lacks room, and then room for them.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    QSize size = shown;
    if (shown.height() < wanted.height())
        size.rwidth() = std::min(wanted.width() + bar, CapToScreen(*this, wanted + QSize(bar, 0)).width());
    if (shown.width() < wanted.width())
        size.rheight() = std::min(wanted.height() + bar, CapToScreen(*this, wanted + QSize(0, bar)).height());
    setFixedSize(size);
}

void TfrmEinstellungen::PlaceButtons(bool belowThePage)
{
    if (belowThePage == FButtonsBelow)
        return;
    FButtonsBelow = belowThePage;
    auto* outer = static_cast<QVBoxLayout*>(layout());
    if (belowThePage) {
        FRightColumn->removeWidget(FButtonRow);
        FButtonRow->setContentsMargins(ClientMargins.left(), ClientMargins.top() / 2, ClientMargins.right(),
                                       ClientMargins.bottom());
        outer->addWidget(FButtonRow);
    } else {
        outer->removeWidget(FButtonRow);
        FButtonRow->setContentsMargins(0, 0, 0, 0);
        FRightColumn->addWidget(FButtonRow);
    }
    // A widget that changes its parent goes to the end of the tab order.
    ApplyTabOrder();
}

void TfrmEinstellungen::ApplyTabOrder()
{
    for (qsizetype i = 1; i < FTabOrder.size(); ++i)
        setTabOrder(FTabOrder[i - 1], FTabOrder[i]);
}

bool TfrmEinstellungen::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == clbModule && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        PlaceNoAdminWarning();
    return QDialog::eventFilter(watched, event);
}

void TfrmEinstellungen::PlaceNoAdminWarning()
{
    // Three lines of bold text within the panel's margin; never smaller than at the default font.
    const QFontMetrics metrics(memoNoAdminWarning->font());
    int textWidth = 0;
    for (const QString& line : NoAdminWarning.split(u'\n'))
        textWidth = std::max(textWidth, metrics.horizontalAdvance(line));
    const int inner = 2 * WarningMargin + 2 * 1 + 4;
    const QSize size = WarningSize.expandedTo(QSize(textWidth + inner, 3 * metrics.lineSpacing() + inner))
                           .boundedTo(clbModule->size());
    QRect place(QPoint(0, 0), size);
    place.moveCenter(clbModule->geometry().center());
    pnlNoAdminWarning->setGeometry(place);
}

int TfrmEinstellungen::exec()
{
    FSaveError.reset();
    FInExec = true;
    const int result = QDialog::exec();
    FInExec = false;
    if (FSaveError) {
        const EVorlandtError error = *FSaveError;
        FSaveError.reset();
        throw error;
    }
    return result;
}

void TfrmEinstellungen::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        FormShow();
        FitToScreen();
        CentreOverOwnerWindow(*this);
        MoveOntoScreen(*this);
    }
}

void TfrmEinstellungen::FormShow()
{
    LoadSettings();
    UpdateProxyControls();
    LoadModuleList();
}

void TfrmEinstellungen::LoadSettings()
{
    const TSettingsValues values = ReadSettingsValues();
    cbAktiv->setChecked(values.Enabled);
    seDays->setValue(values.Days);
    cbLocalSource->setChecked(values.LocalSource);
    edLocalSource->setText(values.LocalSourceText);
    cbNews->setChecked(values.News);
    cbLog->setChecked(values.Log);
    cbProxyVerwenden->setChecked(values.ProxyEnabled);
    lbledtProxyServer->setText(values.ProxyServer);
    lbledtProxyPort->setText(values.ProxyPort);
    lbledtProxyUsername->setText(values.ProxyUsername);
    lbledtProxyPassword->setText(values.ProxyPassword);
    lbledtUserAgent->setText(values.UserAgent);
    FLocks = values.Locks;
    ApplyPolicyLocks();
    UpdateControlStates();
}

void TfrmEinstellungen::ApplyPolicyLocks()
{
    const TSettingsLocks& g = FLocks;
    cbAktiv->setEnabled(!g.Enabled);
    cbLog->setEnabled(!g.Log);
    cbProxyVerwenden->setEnabled(!g.ProxyEnabled);
    lbledtUserAgent->setEnabled(!g.UserAgent);
    MarkLocked(cbAktiv, g.Enabled);
    MarkLocked(cbNews, g.News);
    MarkLocked(cbLocalSource, g.LocalSource);
    MarkLocked(edLocalSource, g.LocalSource);
    MarkLocked(btnLocalSourceBrowse, g.LocalSource);
    MarkLocked(seDays, g.Days);
    MarkLocked(cbLog, g.Log);
    MarkLocked(cbProxyVerwenden, g.ProxyEnabled);
    MarkLocked(lbledtProxyServer, g.ProxyServer);
    MarkLocked(lbledtProxyPort, g.ProxyPort);
    MarkLocked(lbledtProxyUsername, g.ProxyUsername);
    MarkLocked(lbledtProxyPassword, g.ProxyPassword);
    MarkLocked(lbledtUserAgent, g.UserAgent);
    lblPolicySuche->setVisible(g.Enabled || g.Days || g.LocalSource || g.News);
    lblPolicyProxy->setVisible(g.Log || g.ProxyEnabled || g.ProxyServer || g.ProxyPort || g.ProxyUsername ||
                               g.ProxyPassword || g.UserAgent);
}

void TfrmEinstellungen::MarkLocked(QWidget* control, bool locked)
{
    const TOwnHints own = FOwnHints.value(control);
    if (!locked) {
        control->setToolTip(own.ToolTip);
        control->setAccessibleDescription(own.Description);
        return;
    }
    // A control's own words come first: the folder button's tooltip is its only caption.
    const auto withNote = [](const QString& text) {
        return text.isEmpty() ? PolicyLockNote : text + u'\n' + PolicyLockNote;
    };
    control->setToolTip(withNote(own.ToolTip));
    control->setAccessibleDescription(withNote(own.Description));
}

void TfrmEinstellungen::LoadModuleList()
{
    clbModule->clear();
    const bool adminRights = HasAdminRights();
    pnlNoAdminWarning->setVisible(!adminRights);
    if (!adminRights)
        return;
    try {
        for (const TModuleEntry& eintrag : ReadModuleEntries()) {
            auto* item = new QListWidgetItem(eintrag.Name, clbModule);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(eintrag.Enabled ? Qt::Checked : Qt::Unchecked);
        }
    } catch (const EVorlandtError& error) {
        // The dialog still opens with everything else loaded; the box waits until it is on the
        // screen instead of interrupting the show event.
        const QString message = error.message();
        QTimer::singleShot(0, this, [this, message] { ShowError(message); });
    }
}

void TfrmEinstellungen::SaveSettings()
{
    TSettingsValues values;
    values.Enabled = cbAktiv->isChecked();
    values.Days = seDays->value();
    values.LocalSource = cbLocalSource->isChecked();
    values.LocalSourceText = edLocalSource->text();
    values.News = cbNews->isChecked();
    values.Log = cbLog->isChecked();
    values.ProxyEnabled = cbProxyVerwenden->isChecked();
    values.ProxyServer = lbledtProxyServer->text();
    values.ProxyPort = lbledtProxyPort->text();
    values.ProxyUsername = lbledtProxyUsername->text();
    values.ProxyPassword = lbledtProxyPassword->text();
    values.UserAgent = lbledtUserAgent->text();
    for (int i = 0; i < clbModule->count(); ++i) {
        const QListWidgetItem* item = clbModule->item(i);
        values.Modules.append({item->text(), item->checkState() == Qt::Checked});
    }
    WriteSettingsValues(values, HasAdminRights(), QCoreApplication::applicationFilePath());
}

void TfrmEinstellungen::UpdateControlStates()
{
    const bool aktiv = cbAktiv->isChecked();
    cbNews->setEnabled(aktiv && !FLocks.News);
    cbLocalSource->setEnabled(aktiv && !FLocks.LocalSource);
    seDays->setEnabled(aktiv && !FLocks.Days);
    SetLocalSourceEnabled(aktiv && cbLocalSource->isChecked());
    const QColor colour =
        palette().color(seDays->isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    SetTextColour(Label1, colour);
    SetTextColour(Label2, colour);
}

void TfrmEinstellungen::UpdateProxyControls()
{
    const bool proxy = cbProxyVerwenden->isChecked();
    lbledtProxyServer->setEnabled(proxy && !FLocks.ProxyServer);
    lbledtProxyPort->setEnabled(proxy && !FLocks.ProxyPort);
    lbledtProxyUsername->setEnabled(proxy && !FLocks.ProxyUsername);
    lbledtProxyPassword->setEnabled(proxy && !FLocks.ProxyPassword);
}

void TfrmEinstellungen::BitBtn1Click()
{
    // The dialog closes with OK whether saving works or not; what was written stays written.
    setResult(QDialog::Accepted);
    try {
        SaveSettings();
    } catch (const EVorlandtError& error) {
        FSaveError = error;
    } catch (const std::exception& error) {
        FSaveError = EVorlandtError(QString::fromUtf8(error.what()));
    }
    if (FSaveError && !FInExec) {
        // Shown without exec(): nobody would receive the error, so it is shown here.
        ShowError(FSaveError->message());
        FSaveError.reset();
    }
    accept();
}

void TfrmEinstellungen::BitBtn3Click()
{
    try {
        ShowHelpTopic(this, SettingsHelpContext);
    } catch (const EVorlandtError& error) {
        ShowError(error.message());
    }
}

void TfrmEinstellungen::BitBtn4Click()
{
    TInfo info(this);
    info.ShowMessage(LogInfoText(LogDirectory()));
}

void TfrmEinstellungen::btnFeedbackToolClick()
{
    try {
        StartFeedbackTool();
    } catch (const EVorlandtError& error) {
        ShowError(error.message());
    }
}

void TfrmEinstellungen::cbAktivClick()
{
    UpdateControlStates();
}

void TfrmEinstellungen::cbLocalSourceClick()
{
    SetLocalSourceEnabled(cbLocalSource->isChecked());
}

void TfrmEinstellungen::SetLocalSourceEnabled(bool enabled)
{
    enabled = enabled && !FLocks.LocalSource;
    edLocalSource->setEnabled(enabled);
    btnLocalSourceBrowse->setEnabled(enabled);
}

void TfrmEinstellungen::cbProxyVerwendenClick()
{
    UpdateProxyControls();
}

void TfrmEinstellungen::BrowseLocalSource()
{
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Verzeichnis auswählen"),
                                                             edLocalSource->text());
    if (!folder.isEmpty())
        edLocalSource->setText(LocalSourceForStore(folder));
}

void TfrmEinstellungen::ShowError(const QString& message)
{
    MessageDialog(message, TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
}
