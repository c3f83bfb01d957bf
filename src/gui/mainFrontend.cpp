// The main window: its controls, the two modes, the tray icon and the manual update run.
#include "gui/mainFrontend.h"

#include "core/catalog/Updates.h"
#include "core/run/UpdateRun.h"
#include "core/services/BasicProcs.h"
#include "core/services/Log.h"
#include "core/sources/TransferCancel.h"
#include "core/sources/UpdateCheck.h"
#include "core/tracking/Tracker.h"
#include "core/tracking/TrackingEvents.h"
#include "gui/AppMessageHook.h"
#include "gui/Application.h"
#include "gui/DeferredIcon.h"
#include "gui/ScreenFit.h"
#include "gui/UpdateBenachrichtigung.h"
#include "gui/WindowKeys.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

namespace {

// The layout at the default font, in pixels of the client area: the window never gets smaller than
// this, and grows where a larger font needs more room.
constexpr QSize ClientSize(975, 74);
constexpr QSize StartSize(141, 59);
constexpr QSize SideButtonSize(137, 29);
constexpr QSize FeedbackSize(45, 37);
constexpr int ProgressBarHeight = 17;
// Left, top, right and bottom margins, and the room between the columns.
constexpr QMargins ClientMargins(12, 8, 8, 7);
constexpr int ColumnGap = 6;
// The label sits a little below the top of the search button, the bar close beneath the label.
constexpr int LabelTop = 6;
constexpr int LabelToBar = 3;
// The bar's least width, in average characters of the window's font: room for a progress that
// can still be read when the window is held to a narrow screen.
constexpr int ProgressBarMinimumChars = 20;

const QString Caption = QStringLiteral("Vorlandt Online-Updater");

QIcon ProgramIcon(const QWidget* widget)
{
    QList<TIconFile> files;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString file = QStringLiteral(":/icons/vorlandt-online-updater-%1.png").arg(size);
        if (QFileInfo::exists(file))
            files.append({file, QSize(size, size)});
    }
    // Decoded when the window or the tray first shows it.
    const QIcon icon = DeferredIcon(files);
    // The tray needs some picture, or it shows nothing to double-click.
    return icon.isNull() ? widget->style()->standardIcon(QStyle::SP_ComputerIcon) : icon;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, QChar accessKey,
                        const QString& image, QSize minimumSize, QSize iconSize)
{
    auto* button = new QPushButton(parent);
    SetCaptionWithAccessKey(button, caption, accessKey);
    button->setObjectName(QLatin1String(name));
    button->setMinimumSize(minimumSize);
    if (QFileInfo::exists(image)) {
        button->setIcon(DeferredIcon({{image, QSize()}}));
        button->setIconSize(iconSize);
    }
    // Enter acts on the button that has the focus, as in a dialog; Space does anyway.
    button->setAutoDefault(true);
    return button;
}

// A plain top-level widget reads as an anonymous pane to screen readers; the main window is a
// window with a title, like every dialog of the program.
QAccessibleInterface* MainWindowAccessible(const QString& className, QObject* object)
{
    if (className != QLatin1String("TfrmMain"))
        return nullptr;
    auto* widget = qobject_cast<QWidget*>(object);
    return widget != nullptr && widget->isWindow() ? new QAccessibleWidget(widget, QAccessible::Window)
                                                   : nullptr;
}

}  // namespace

void TMainFrontEnd::ShowProgress(int position, int maximum, const QString& text)
{
    if (!text.isNull())
        FfrmMain.lblFortschritt->setText(text);
    FfrmMain.pbFortschritt->setAccessibleDescription(FfrmMain.lblFortschritt->text());
    // Qt draws a bar whose maximum is 0 as an endless busy animation; with nothing to check the
    // bar stays empty instead.
    FfrmMain.pbFortschritt->setMaximum(maximum > 0 ? maximum : 1);
    FfrmMain.pbFortschritt->setValue(maximum > 0 ? position : 0);
    // The run keeps the user-interface thread between downloads: paint now, or the person would
    // only see the last text.
    if (FfrmMain.isVisible())
        FfrmMain.repaint();
}

bool TMainFrontEnd::ConfirmUpdates(const TUpdates& updates)
{
    // Made when first needed: a run with nothing to offer never loads its fonts.
    if (!FfrmMain.FfrmUpdateBenachrichtigung)
        FfrmMain.FfrmUpdateBenachrichtigung = std::make_unique<TfrmUpdateBenachrichtigung>();
    TfrmUpdateBenachrichtigung& dialog = *FfrmMain.FfrmUpdateBenachrichtigung;
    // Transient for the main window while that is on the screen, so that every window manager
    // keeps it above; in an autostart run, with the main window hidden, it stands alone.
    QWidget* owner = FfrmMain.isVisible() && !FfrmMain.isMinimized() ? &FfrmMain : nullptr;
    if (dialog.parentWidget() != owner)
        dialog.setParent(owner, dialog.windowFlags());
    dialog.Initialize(updates);
    return dialog.exec() == 1;
}

TfrmMain::TfrmMain(const QStringList& arguments, TTrayCheck trayAvailable, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      tiUpdater(new QSystemTrayIcon(this)),
      btnStart(MakeButton(this, "btnStart", QStringLiteral("Suche Updates"), u'S',
                          QStringLiteral(":/icons/search.png"), StartSize, QSize(32, 32))),
      btnEinstellungen(MakeButton(this, "btnEinstellungen", QStringLiteral("Einstellungen"), u'E',
                                  QStringLiteral(":/icons/settings.png"), SideButtonSize, QSize(16, 16))),
      lblFortschritt(new QLabel(QStringLiteral("Bereit."), this)),
      pbFortschritt(new QProgressBar(this)),
      btnFeedbackTool(MakeButton(this, "btnFeedbackTool", QString(), QChar(),
                                 QStringLiteral(":/icons/feedback.png"), FeedbackSize, QSize(24, 24))),
      btnInstallierteUpdates(
          MakeButton(this, "btnInstallierteUpdates", QStringLiteral("Installierte Updates"), u'I',
                     QStringLiteral(":/icons/history.png"), SideButtonSize, QSize(16, 16))),
      FTrayAvailable(trayAvailable ? std::move(trayAvailable)
                                   : TTrayCheck(&QSystemTrayIcon::isSystemTrayAvailable)),
      FFrontEnd(*this)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(Caption);
    setWindowIcon(ProgramIcon(this));
    // Tahoma 8 beside the usual desktop font, larger beside a larger one.
    setFont(WindowFont());
    static const bool accessibleRoleInstalled = [] {
        QAccessible::installFactory(MainWindowAccessible);
        return true;
    }();
    Q_UNUSED(accessibleRoleInstalled);

    tiUpdater->setObjectName(QStringLiteral("tiUpdater"));
    tiUpdater->setToolTip(Caption);
    tiUpdater->setIcon(windowIcon());
    // StatusNotifierItem trays (KDE, GNOME with its extension, most panels today) report a single
    // activation and never a double click; the older XEmbed trays report both. Either brings the
    // window back; the second call of a double click finds it restored already.
    connect(tiUpdater, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger)
            return;
        try {
            tiUpdaterDblClick();
        } catch (...) {
            ShowException();
        }
    });
    // Some trays offer nothing but the context menu; it must reach the window and the end.
    auto* trayMenu = new QMenu(this);
    trayMenu->setObjectName(QStringLiteral("pmTray"));
    connect(trayMenu->addAction(QStringLiteral(u"Öffnen")), &QAction::triggered, this, [this] {
        try {
            tiUpdaterDblClick();
        } catch (...) {
            ShowException();
        }
    });
    connect(trayMenu->addAction(QStringLiteral("Beenden")), &QAction::triggered, this, &QWidget::close);
    tiUpdater->setContextMenu(trayMenu);
    if (TrayAvailable())
        tiUpdater->show();

    btnStart->setDefault(true);
    btnStart->setFocus();
    lblFortschritt->setObjectName(QStringLiteral("lblFortschritt"));
    // Progress texts come and go; a long one must not push the buttons aside.
    lblFortschritt->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pbFortschritt->setObjectName(QStringLiteral("pbFortschritt"));
    pbFortschritt->setTextVisible(false);
    pbFortschritt->setValue(0);
    pbFortschritt->setAccessibleName(QStringLiteral("Fortschritt"));
    pbFortschritt->setAccessibleDescription(lblFortschritt->text());
    lblFortschritt->setBuddy(pbFortschritt);
    btnFeedbackTool->setToolTip(QStringLiteral("Feedback"));
    btnFeedbackTool->setAccessibleName(btnFeedbackTool->toolTip());
    LayOut();

    // Tab goes as the eye does: the search, then the column of Einstellungen over Installierte
    // Updates, then the feedback button at the right edge.
    setTabOrder(btnStart, btnEinstellungen);
    setTabOrder(btnEinstellungen, btnInstallierteUpdates);
    setTabOrder(btnInstallierteUpdates, btnFeedbackTool);

    // The manual, at the part that describes this window.
    SetUpWindowKeys(this, MainHelpContext);
    // Sized anew once the window manager has told the real frame.
    HoldOnScreen(*this, [this] { FitToFont(); });

    // Each handler is an entry point from the event loop: its errors end at the general error
    // display here, never inside Qt's own code.
    const auto guarded = [this](void (TfrmMain::*handler)()) {
        return [this, handler]() {
            try {
                (this->*handler)();
            } catch (...) {
                ShowException();
            }
        };
    };
    connect(btnStart, &QPushButton::clicked, this, guarded(&TfrmMain::btnStartClick));
    connect(btnEinstellungen, &QPushButton::clicked, this, guarded(&TfrmMain::btnEinstellungenClick));
    connect(btnInstallierteUpdates, &QPushButton::clicked, this,
            guarded(&TfrmMain::btnInstallierteUpdatesClick));
    connect(btnFeedbackTool, &QPushButton::clicked, this, guarded(&TfrmMain::btnFeedbackToolClick));

    FFrontEnd.setMainWindow(this);
    FPreviousFrontEnd = SetFrontEnd(&FFrontEnd);

    try {
        FormCreate(arguments);
    } catch (...) {
        // The general error display, as for an error leaving any event handler. The window stays:
        // hidden with the tray icon in autostart mode, so the person can still reach it.
        ShowException();
        if (FAutostartModus && !TrayAvailable())
            FShowMainForm = true;
    }
}

TfrmMain::~TfrmMain()
{
    try {
        FormDestroy();
    } catch (...) {
        ShowException();
    }
    SetFrontEnd(FPreviousFrontEnd);
}

void TfrmMain::FormCreate(const QStringList& arguments)
{
    FAutostartModus = !arguments.isEmpty() && arguments.first() == QStringLiteral("-a");
    FUpdates = std::make_unique<TUpdates>();
    FUpdateCheck = std::make_unique<TUpdateCheck>(FUpdates.get());
    // May ask for consent first; it never raises, whatever the tracking server does.
    FStatisticsTracker = std::make_unique<TTracker>(QString(), std::make_unique<TAppMessageHook>());
    FStatisticsTracker->Start();
    FShowMainForm = !FAutostartModus;
    if (FAutostartModus) {
        WriteLog(TLogAction::AppendLine, QStringLiteral("FormCreate - AutostartModus aktiv"));
        if (FStatisticsTracker->TrackingActive())
            FStatisticsTracker->AddEvent(
                std::make_unique<TUserTrackingEvent>(ueBereichBetreten, QStringLiteral("Auto-Modus")));
        RunUpdateCheck(false);
        FTerminated = true;
    }
}

void TfrmMain::FormShow()
{
    WriteLog(TLogAction::AppendLine, QStringLiteral("VorlandtOnlineUpdater gestartet"));
    SetApplicationHelpFile(HelpIndexFile());
}

void TfrmMain::FormDestroy()
{
    FinishProgramLog();
    if (FStatisticsTracker)
        FStatisticsTracker->Stop();
    FUpdates.reset();
    FUpdateCheck.reset();
    FStatisticsTracker.reset();
    FfrmUpdateBenachrichtigung.reset();
}

void TfrmMain::showEvent(QShowEvent* event)
{
    // Sized when first seen: measuring text loads the fonts, which a hidden autostart run with
    // nothing to do never needs.
    lblFortschritt->adjustSize();
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmMain::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || !TrayAvailable())
        return;
    // Hidden once the state change is through: hiding inside it leaves some window managers
    // with a minimised window they never restore.
    QTimer::singleShot(0, this, [this]() {
        if (!isMinimized())
            return;
        hide();
        tiUpdater->show();
    });
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    // A search may be waiting for a download right now (this event arrived through its local
    // event loop): the transfer stops, quit() ends that loop, and the run ends without asking
    // anything more, so the program ends at once instead of when a slow server is done.
    sources::CancelTransfers();
    QCoreApplication::quit();
}

void TfrmMain::tiUpdaterDblClick()
{
    tiUpdater->hide();
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

void TfrmMain::LayOut()
{
    auto* middle = new QVBoxLayout;
    middle->setSpacing(0);
    middle->addSpacing(LabelTop);
    middle->addWidget(lblFortschritt);
    middle->addSpacing(LabelToBar);
    middle->addWidget(pbFortschritt);
    middle->addStretch();
    auto* right = new QVBoxLayout;
    right->setSpacing(1);
    right->addWidget(btnEinstellungen);
    right->addWidget(btnInstallierteUpdates);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(ClientMargins);
    row->setSpacing(ColumnGap);
    row->addWidget(btnStart);
    row->addLayout(middle, 1);
    row->addLayout(right);
    row->addWidget(btnFeedbackTool, 0, Qt::AlignVCenter);
}

void TfrmMain::setVisible(bool visible)
{
    // Sized when first shown, before the window is made: measuring text loads the fonts, which a
    // hidden autostart run never needs. Boxes are centred on the screen while this window is
    // hidden, so nothing looks at its size before.
    if (visible && !FFittedToFont) {
        FFittedToFont = true;
        FitToFont();
    }
    QWidget::setVisible(visible);
}

void TfrmMain::FitToFont()
{
    const QFontMetrics metrics(font());
    pbFortschritt->setMinimumWidth(metrics.averageCharWidth() * ProgressBarMinimumChars);
    pbFortschritt->setFixedHeight(std::max(ProgressBarHeight, metrics.height() + 4));
    layout()->activate();
    // The size of the default font where that is enough; a larger font gets the room its texts
    // need; and never more than the screen holds.
    const QSize wanted = ClientSize.expandedTo(layout()->totalMinimumSize());
    setFixedSize(CapToScreen(*this, wanted));
    const QRect available = AvailableGeometryFor(*this);
    if (available.isValid()) {
        const QSize frame = size() + FrameExtent(*this);
        MoveFrameTo(*this,
                    KeptOnScreen(available, available.center() - QPoint(frame.width(), frame.height()) / 2, frame));
    }
}

void TfrmMain::btnStartClick()
{
    BeginSearchLog();
    SetButtonsEnabled(false);
    // However the run ends: an error goes on to the general error display after this.
    const auto ready = qScopeGuard([this] {
        SetButtonsEnabled(true);
        lblFortschritt->setText(QStringLiteral("Bereit."));
        // An empty bar beside "Bereit.": nothing is in progress any more.
        pbFortschritt->setValue(0);
        pbFortschritt->setAccessibleDescription(lblFortschritt->text());
        // Disabled, the buttons lost the focus; without it Enter and Space would do nothing.
        btnStart->setFocus(Qt::OtherFocusReason);
    });
    RunUpdateCheck(true);
}

void TfrmMain::RunUpdateCheck(bool Manual)
{
    TUpdateRun run(*FUpdates, *FUpdateCheck, FAutostartModus);
    run.RunUpdateCheck(Manual);
    if (!run.DLLPfad().isEmpty())
        FDLLPfad = run.DLLPfad();
}

void TfrmMain::SetButtonsEnabled(bool enabled)
{
    for (QPushButton* button : {btnStart, btnEinstellungen, btnInstallierteUpdates, btnFeedbackTool})
        button->setEnabled(enabled);
}

void TfrmMain::btnEinstellungenClick()
{
    if (FfrmEinstellungen)
        FfrmEinstellungen->exec();
}

void TfrmMain::btnInstallierteUpdatesClick()
{
    if (FfrmUserLog)
        FfrmUserLog->exec();
}

void TfrmMain::btnFeedbackToolClick()
{
    StartFeedbackTool();
}
