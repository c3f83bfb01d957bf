// The settings dialog.
#include "gui/Einstellungen.h"

#include "core/settings/EinstellungenStore.h"
#include "core/services/BasicProcs.h"
#include "core/services/FrontEnd.h"
#include "gui/Application.h"
#include "gui/Information.h"
#include "core/services/Log.h"
#include "gui/QtFrontEnd.h"
#include "core/services/Registry.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
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

// The layout, in pixels of the client area at 96 dots per inch.
constexpr QSize ClientSize(905, 375);
constexpr int CheckBoxHeight = 17;
constexpr int EditHeight = 21;
constexpr int LabelAboveEdit = 16;
constexpr QSize ButtonSize(92, 25);
constexpr int ButtonTop = 342;
constexpr int ButtonGap = 6;
constexpr int RightEdge = 897;
constexpr int LeftColumnEnd = 437;
constexpr qreal MinimumPointSize = 6.5;

const QString NoAdminWarning = QStringLiteral(
    "Um diesen Teil der Einstellungen zu \n"
    "ändern, müssen Sie das Programm \n"
    "mit Administratorrechten starten.");

QCheckBox* CheckBox(const QString& name, const QString& caption, QPoint at, QWidget* parent)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    box->move(at);
    return box;
}

QLabel* Label(const QString& name, const QString& caption, QPoint at, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->move(at);
    return label;
}

QPushButton* StandardButton(const QString& name, const QString& caption, QStyle::StandardPixmap glyph,
                            int left, QWidget* parent)
{
    auto* button = new QPushButton(parent->style()->standardIcon(glyph), caption, parent);
    button->setObjectName(name);
    button->setGeometry(QRect(QPoint(left, ButtonTop), ButtonSize));
    return button;
}

QToolButton* PictureButton(const QString& name, const QIcon& icon, const QRect& geometry, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(icon);
    button->setIconSize(QSize(geometry.height() - 4, geometry.height() - 4).boundedTo(QSize(24, 24)));
    button->setGeometry(geometry);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

void SetTextColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

}  // namespace

TLabeledEdit::TLabeledEdit(const QString& caption, const QRect& geometry, QWidget* parent)
    : QLineEdit(parent), EditLabel(new QLabel(caption, parent))
{
    EditLabel->move(geometry.topLeft() - QPoint(0, LabelAboveEdit));
    EditLabel->adjustSize();
    EditLabel->setBuddy(this);
    setGeometry(geometry);
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
    // Where Tahoma is missing the font database substitutes the closest sans-serif face.
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setFixedSize(ClientSize);

    // ---- left column
    cbAktiv =
        CheckBox(QStringLiteral("cbAktiv"),
                 QStringLiteral("Online-Update automatisch beim Rechner-Start ausführen"), {8, 8}, this);
    cbNews = CheckBox(QStringLiteral("cbNews"),
                      QStringLiteral("Beim Rechner-Start über Neuigkeiten informieren"), {8, 31}, this);
    cbLocalSource = CheckBox(
        QStringLiteral("cbLocalSource"),
        QStringLiteral("Updates aus dem folgenden lokalen Verzeichnis statt vom Vorlandt-Server laden:"),
        {8, 54}, this);
    edLocalSource = new QLineEdit(this);
    edLocalSource->setObjectName(QStringLiteral("edLocalSource"));
    edLocalSource->setGeometry(23, 77, 414, EditHeight);
    edLocalSource->setEnabled(false);
    QAction* browse =
        edLocalSource->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
    browse->setObjectName(QStringLiteral("edLocalSourceBrowse"));
    browse->setToolTip(QStringLiteral("Verzeichnis auswählen"));
    connect(browse, &QAction::triggered, this, &TfrmEinstellungen::BrowseLocalSource);

    Label2 = Label(QStringLiteral("Label2"), QStringLiteral("Alle"), {8, 114}, this);
    seDays = new QSpinBox(this);
    seDays->setObjectName(QStringLiteral("seDays"));
    seDays->setRange(MinDays, MaxDays);
    seDays->setValue(MinDays);
    seDays->setGeometry(31, 111, 41, EditHeight);
    Label1 = Label(QStringLiteral("Label1"), QStringLiteral("Tage nach Updates suchen."), {78, 114}, this);

    // ---- proxy group
    grpProxy = new QGroupBox(QStringLiteral(" Proxy / Sicherheit"), this);
    grpProxy->setObjectName(QStringLiteral("grpProxy"));
    grpProxy->setGeometry(8, 145, 429, 222);
    cbProxyVerwenden = CheckBox(QStringLiteral("cbProxyVerwenden"),
                                QStringLiteral("Proxy-Einstellungen verwenden"), {18, 23}, grpProxy);
    lbledtProxyServer = new TLabeledEdit(QStringLiteral("Server"), QRect(18, 68, 321, EditHeight), grpProxy);
    lbledtProxyServer->setObjectName(QStringLiteral("lbledtProxyServer"));
    lbledtProxyPort = new TLabeledEdit(QStringLiteral("Port"), QRect(348, 68, 53, EditHeight), grpProxy);
    lbledtProxyPort->setObjectName(QStringLiteral("lbledtProxyPort"));
    lbledtProxyUsername =
        new TLabeledEdit(QStringLiteral("ggf. Username"), QRect(18, 108, 321, EditHeight), grpProxy);
    lbledtProxyUsername->setObjectName(QStringLiteral("lbledtProxyUsername"));
    lbledtProxyPassword =
        new TLabeledEdit(QStringLiteral("ggf. Passwort"), QRect(18, 148, 321, EditHeight), grpProxy);
    lbledtProxyPassword->setObjectName(QStringLiteral("lbledtProxyPassword"));
    lbledtProxyPassword->setEchoMode(QLineEdit::Password);
    // A star for every character, whatever mask character the desktop's style would pick.
    lbledtProxyPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    lbledtUserAgent =
        new TLabeledEdit(QStringLiteral("UserAgent"), QRect(18, 189, 383, EditHeight), grpProxy);
    lbledtUserAgent->setObjectName(QStringLiteral("lbledtUserAgent"));
    BitBtn4 =
        PictureButton(QStringLiteral("BitBtn4"), style()->standardIcon(QStyle::SP_MessageBoxInformation),
                      QRect(359, 23, 26, 18), grpProxy);
    BitBtn4->setToolTip(QStringLiteral("Wo liegen die Log-Dateien?"));

    // On the dialog itself, over the group's top row, just left of the button that explains it.
    cbLog = CheckBox(QStringLiteral("cbLog"), QStringLiteral("Log-Datei erstellen"), {250, 168}, this);
    cbLog->raise();

    // ---- right column
    Label3 = Label(QStringLiteral("Label3"), QStringLiteral("Für folgende Module Updates durchführen:"),
                   {464, 10}, this);
    clbModule = new QListWidget(this);
    clbModule->setObjectName(QStringLiteral("clbModule"));
    clbModule->setGeometry(464, 29, 433, 304);

    pnlNoAdminWarning = new QFrame(this);
    pnlNoAdminWarning->setObjectName(QStringLiteral("pnlNoAdminWarning"));
    pnlNoAdminWarning->setGeometry(571, 140, 218, 56);
    pnlNoAdminWarning->setAutoFillBackground(true);
    auto* warningLayout = new QVBoxLayout(pnlNoAdminWarning);
    warningLayout->setContentsMargins(4, 4, 4, 4);
    memoNoAdminWarning = new QPlainTextEdit(NoAdminWarning, pnlNoAdminWarning);
    memoNoAdminWarning->setObjectName(QStringLiteral("memoNoAdminWarning"));
    memoNoAdminWarning->setReadOnly(true);
    memoNoAdminWarning->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoNoAdminWarning->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memoNoAdminWarning->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memoNoAdminWarning->setFrameShape(QFrame::NoFrame);
    memoNoAdminWarning->document()->setDocumentMargin(1);
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

    // ---- buttons, bottom right
    const int helpLeft = RightEdge - ButtonSize.width();
    const int cancelLeft = helpLeft - ButtonGap - ButtonSize.width();
    const int okLeft = cancelLeft - ButtonGap - ButtonSize.width();
    BitBtn1 = StandardButton(QStringLiteral("BitBtn1"), QStringLiteral("OK"), QStyle::SP_DialogOkButton,
                             okLeft, this);
    BitBtn1->setDefault(true);
    BitBtn2 = StandardButton(QStringLiteral("BitBtn2"), QStringLiteral("Abbrechen"),
                             QStyle::SP_DialogCancelButton, cancelLeft, this);
    BitBtn3 = StandardButton(QStringLiteral("BitBtn3"), QStringLiteral("&Hilfe"), QStyle::SP_DialogHelpButton,
                             helpLeft, this);
    // The program's own picture where its resources are linked in, the desktop's otherwise.
    const QString feedbackPicture = QStringLiteral(":/icons/feedback.png");
    btnFeedbackTool =
        PictureButton(QStringLiteral("btnFeedbackTool"),
                      QFile::exists(feedbackPicture) ? QIcon(feedbackPicture)
                                                     : style()->standardIcon(QStyle::SP_MessageBoxQuestion),
                      QRect(okLeft - ButtonGap - 30, ButtonTop, 30, 25), this);
    btnFeedbackTool->setToolTip(QStringLiteral("Feedback"));

    FitFontToLayout();

    // ---- tab order
    const QList<QWidget*> tabOrder = {cbAktiv,
                                      cbNews,
                                      cbLocalSource,
                                      edLocalSource,
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
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

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
        CenterOverOwner(*this);
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
    const TSettingsValues werte = ReadSettingsValues();
    cbAktiv->setChecked(werte.Aktiv);
    seDays->setValue(werte.Tage);
    cbLocalSource->setChecked(werte.LocalSource);
    edLocalSource->setText(werte.LocalSourceText);
    cbNews->setChecked(werte.News);
    cbLog->setChecked(werte.Log);
    cbProxyVerwenden->setChecked(werte.ProxyAktiv);
    lbledtProxyServer->setText(werte.ProxyServer);
    lbledtProxyPort->setText(werte.ProxyPort);
    lbledtProxyUsername->setText(werte.ProxyUsername);
    lbledtProxyPassword->setText(werte.ProxyPassword);
    lbledtUserAgent->setText(werte.UserAgent);
    UpdateControlStates();
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
            item->setCheckState(eintrag.Aktiv ? Qt::Checked : Qt::Unchecked);
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
    TSettingsValues werte;
    werte.Aktiv = cbAktiv->isChecked();
    werte.Tage = seDays->value();
    werte.LocalSource = cbLocalSource->isChecked();
    werte.LocalSourceText = edLocalSource->text();
    werte.News = cbNews->isChecked();
    werte.Log = cbLog->isChecked();
    werte.ProxyAktiv = cbProxyVerwenden->isChecked();
    werte.ProxyServer = lbledtProxyServer->text();
    werte.ProxyPort = lbledtProxyPort->text();
    werte.ProxyUsername = lbledtProxyUsername->text();
    werte.ProxyPassword = lbledtProxyPassword->text();
    werte.UserAgent = lbledtUserAgent->text();
    for (int i = 0; i < clbModule->count(); ++i) {
        const QListWidgetItem* item = clbModule->item(i);
        werte.Module.append({item->text(), item->checkState() == Qt::Checked});
    }
    WriteSettingsValues(werte, HasAdminRights(), QCoreApplication::applicationFilePath());
}

void TfrmEinstellungen::UpdateControlStates()
{
    const bool aktiv = cbAktiv->isChecked();
    cbNews->setEnabled(aktiv);
    cbLocalSource->setEnabled(aktiv);
    seDays->setEnabled(aktiv);
    edLocalSource->setEnabled(aktiv && cbLocalSource->isChecked());
    const QColor colour =
        palette().color(seDays->isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    SetTextColour(Label1, colour);
    SetTextColour(Label2, colour);
}

void TfrmEinstellungen::UpdateProxyControls()
{
    const bool proxy = cbProxyVerwenden->isChecked();
    lbledtProxyServer->setEnabled(proxy);
    lbledtProxyPort->setEnabled(proxy);
    lbledtProxyUsername->setEnabled(proxy);
    lbledtProxyPassword->setEnabled(proxy);
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
        OpenHelpTopic(ApplicationHelpFile(), SettingsHelpContext);
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
    edLocalSource->setEnabled(cbLocalSource->isChecked());
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

void TfrmEinstellungen::FitFontToLayout()
{
    // The layout was drawn for Tahoma. A wider substitute face would push captions into their
    // neighbours (the log box over its button, the local-source box under the module list), so
    // the whole dialog's font shrinks a little until every caption fits the room it was given.
    const QList<std::pair<QWidget*, int>> rooms = {
        {cbAktiv, LeftColumnEnd - 8},
        {cbNews, LeftColumnEnd - 8},
        {cbLocalSource, LeftColumnEnd - 8},
        {Label2, seDays->x() - Label2->x()},
        {Label1, LeftColumnEnd - Label1->x()},
        {cbProxyVerwenden, cbLog->x() - grpProxy->x() - cbProxyVerwenden->x()},
        {cbLog, grpProxy->x() + BitBtn4->x() - cbLog->x()},
        {Label3, clbModule->width()},
    };
    // The warning's three lines each within the panel's inner margin and the memo's own.
    const int warningRoom = pnlNoAdminWarning->width() - 2 * 4 - 2 * 1;
    const auto tooWide = [&] {
        const QFontMetrics warning(memoNoAdminWarning->font());
        const QStringList lines = NoAdminWarning.split(u'\n');
        return std::any_of(rooms.cbegin(), rooms.cend(),
                           [](const auto& room) { return room.first->sizeHint().width() > room.second; }) ||
               std::any_of(lines.cbegin(), lines.cend(), [&](const QString& line) {
                   return warning.horizontalAdvance(line.trimmed()) > warningRoom;
               });
    };
    QFont shrunk = font();
    while (tooWide() && shrunk.pointSizeF() > MinimumPointSize) {
        shrunk.setPointSizeF(shrunk.pointSizeF() - 0.25);
        setFont(shrunk);
    }
    for (QLabel* label : findChildren<QLabel*>())
        label->adjustSize();
    for (QCheckBox* box : findChildren<QCheckBox*>())
        box->resize(box->sizeHint().width(), CheckBoxHeight);
}

void TfrmEinstellungen::ShowError(const QString& message)
{
    MessageDialog(message, TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
}
