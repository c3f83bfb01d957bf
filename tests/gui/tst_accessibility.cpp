// Every window of the program as a screen reader, a keyboard and the screen meet it: each control
// that takes the focus has a name (icon buttons their tooltip's words, fields their label's), each
// window reports the role of its kind, and each fits its screen with no caption cut. ctest runs
// the test again with a large font on the small test screen, and the fit on a full-HD screen at
// twice the interface scale and with a 144 dpi font (see CMakeLists.txt).
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/UpdateListWorld.h"
#include "gui/Application.h"
#include "gui/Einstellungen.h"
#include "gui/Information.h"
#include "gui/OpenAddress.h"
#include "gui/QtFrontEnd.h"
#include "gui/UpdateBenachrichtigung.h"
#include "gui/frmUserLog.h"
#include "gui/frmNewsAnzeige.h"
#include "gui/frmTrackingOkConfirmation.h"
#include "gui/mainFrontend.h"
#include "support/AccessibilityWalk.h"
#include "support/FrontEndFixture.h"
#include "support/ScriptedFrontEnd.h"

#include "support/RunWorld.h"

#include <QAccessible>
#include <QLibraryInfo>
#include <QListWidget>
#include <QProgressBar>
#include <QSpinBox>
#include <QToolButton>
#include <QTranslator>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// A window and the world it was opened in, kept alive as long as the window.
struct TWindowUnderTest {
    std::unique_ptr<TUpdateListWorld> World;
    std::unique_ptr<QWidget> Window;
};

using TWindowFactory = std::function<TWindowUnderTest()>;

QString Rtf(const QString& text)
{
    return QStringLiteral(
               "{\\rtf1\\ansi\\deff0\\pard %1 {\\field{\\*\\fldinst{HYPERLINK "
               "\"https://www.vorlandt.example/\"}}{\\fldrslt Vorlandt}}\\par\n}")
        .arg(text);
}

TWindowUnderTest NotificationDialog()
{
    TWindowUnderTest under;
    under.World = std::make_unique<TUpdateListWorld>();
    under.World->Add(QStringLiteral("Vorlandt Lohn & Gehalt"), 10, 5, 2, 9,
                     Rtf(QStringLiteral("Lohn 5.2.9")));
    under.World->Add(QStringLiteral("Vorlandt Lohn & Gehalt"), 10, 5, 2, 10,
                     Rtf(QStringLiteral("Lohn 5.2.10")));
    under.World->Add(QStringLiteral("Vorlandt Lager"), 12, 3, 1, 0, Rtf(QStringLiteral("Lager 3.1.0")));
    auto dialog = std::make_unique<TfrmUpdateBenachrichtigung>();
    dialog->Initialize(under.World->Updates);
    under.Window = std::move(dialog);
    return under;
}

TWindowUnderTest NewsWindow()
{
    TNewsView news;
    news.Datum = QStringLiteral("15.03.2024");
    news.Html =
        QStringLiteral("<p>Neue Kassenversion. <a href=\"https://www.vorlandt.example/\">Mehr</a></p>");
    news.Choices = QStringList{
        QStringLiteral("Morgen noch einmal anzeigen."), QStringLiteral("Übermorgen noch einmal anzeigen."),
        QStringLiteral("In einer Woche noch einmal anzeigen."), QStringLiteral("Nicht wieder anzeigen.")};
    news.DefaultChoice = 3;
    return {nullptr, std::make_unique<TfrmNewsAnzeige>(news)};
}

TWindowUnderTest MessageBox(TMsgDlgButtons buttons)
{
    return {nullptr, std::make_unique<TMessageBox>(QStringLiteral("Die Datei konnte nicht gelesen werden."),
                                                   TMsgDlgType::mtError, buttons, 0)};
}

// The main window is shown on a desktop with a system tray.
bool WithTray()
{
    return true;
}

template <typename Window, typename... Args>
TWindowFactory Plain(Args... args)
{
    return [args...] { return TWindowUnderTest{nullptr, std::make_unique<Window>(args...)}; };
}

QString AccessibleName(QWidget* widget)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    return iface != nullptr ? iface->text(QAccessible::Name) : QString();
}

}  // namespace

Q_DECLARE_METATYPE(TWindowFactory)
Q_DECLARE_METATYPE(QAccessible::Role)

class TestAccessibility : public QObject {
    Q_OBJECT

    std::unique_ptr<TRunWorld> FWorld;
    std::unique_ptr<TFrontEndFixture> FFrontEnd;

    // One row per window of the program: how to open it, and the role it reports.
    void windows_data()
    {
        QTest::addColumn<TWindowFactory>("open");
        QTest::addColumn<QAccessible::Role>("role");
        QTest::newRow("main window") << Plain<TfrmMain>(QStringList(), TfrmMain::TTrayCheck(WithTray))
                                     << QAccessible::Window;
        QTest::newRow("settings") << Plain<TfrmEinstellungen>() << QAccessible::Dialog;
        // Locked controls in both parts of the dialog, and the notes that say so.
        QTest::newRow("settings under a policy") << TWindowFactory([] {
            WriteIntegerValue(HKEY_LOCAL_MACHINE, SettingsKeys::PolicyOnlineUpdate, SettingsKeys::Disable, 0);
            WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::PolicyOnlineUpdate, SettingsKeys::LocalSource,
                             QStringLiteral("/srv/updates/"));
            WriteIntegerValue(HKEY_LOCAL_MACHINE, SettingsKeys::PolicyLog, SettingsKeys::LogAktiv, 1);
            WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::PolicyProxy, SettingsKeys::UserAgent,
                             QStringLiteral("Firmen-Updater"));
            return TWindowUnderTest{nullptr, std::make_unique<TfrmEinstellungen>()};
        }) << QAccessible::Dialog;
        QTest::newRow("installed updates") << Plain<TfrmUserLog>() << QAccessible::Dialog;
        QTest::newRow("information") << TWindowFactory([] {
            auto info = std::make_unique<TInfo>();
            info->Label1->setText(QStringLiteral("Die Log-Dateien sind unter folgendem Pfad zu finden:"));
            return TWindowUnderTest{nullptr, std::move(info)};
        }) << QAccessible::Dialog;
        QTest::newRow("address") << Plain<TfrmAddress>(QStringLiteral("https://www.vorlandt.example/hilfe"))
                                 << QAccessible::Dialog;
        QTest::newRow("frmUpdateBenachrichtigung")
            << TWindowFactory(NotificationDialog) << QAccessible::Dialog;
        QTest::newRow("frmNewsAnzeige") << TWindowFactory(NewsWindow) << QAccessible::Dialog;
        QTest::newRow("frmTrackingOkConfirmation")
            << Plain<TfrmTrackingOkConfirmation>() << QAccessible::Dialog;
        QTest::newRow("message box OK")
            << TWindowFactory([] { return MessageBox(TMsgDlgButtons::mbOK); }) << QAccessible::AlertMessage;
        QTest::newRow("message box Ja/Nein")
            << TWindowFactory([] { return MessageBox(TMsgDlgButtons::mbYesNo); })
            << QAccessible::AlertMessage;
        QTest::newRow("message box Abbrechen/Wiederholen")
            << TWindowFactory([] { return MessageBox(TMsgDlgButtons::mbAbortRetry); })
            << QAccessible::AlertMessage;
    }

private Q_SLOTS:
    void init()
    {
        FWorld = std::make_unique<TRunWorld>();
        QVERIFY(FWorld->IsValid());
        FFrontEnd = std::make_unique<TFrontEndFixture>(TScriptCheck::None);
        // Administrator or not, the module list and the warning over it are both named.
        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdateModule + QStringLiteral("Kasse"),
                         QStringLiteral("Name"), QStringLiteral("Vorlandt Kasse"));
    }

    void cleanup()
    {
        FFrontEnd.reset();
        FWorld.reset();
    }

    void everyFocusableControlHasAName_data() { windows_data(); }
    void everyFocusableControlHasAName()
    {
        QFETCH(TWindowFactory, open);
        QFETCH(QAccessible::Role, role);
        const TWindowUnderTest under = open();
        QWidget* window = under.Window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));

        QAccessibleInterface* top = QAccessible::queryAccessibleInterface(window);
        QVERIFY(top != nullptr);
        QCOMPARE(top->role(), role);
        QVERIFY(!top->text(QAccessible::Name).trimmed().isEmpty());

        // Widget by widget, and as the accessibility tree offers them.
        const AccessibilityWalk::TFocusableWidgets focusable = AccessibilityWalk::FocusableWidgets(*window);
        QVERIFY(focusable.Count > 0);
        QVERIFY2(focusable.Nameless.isEmpty(), qPrintable(focusable.Nameless.join(QStringLiteral(", "))));
        QStringList nameless;
        AccessibilityWalk::CollectNameless(top, nameless);
        QVERIFY2(nameless.isEmpty(), qPrintable(nameless.join(QStringLiteral(", "))));
        window->hide();
    }

    // Nothing sticks out of the screen's usable area, and no caption is cut.
    void windowFitsTheScreen_data() { windows_data(); }
    void windowFitsTheScreen()
    {
        QFETCH(TWindowFactory, open);
        const TWindowUnderTest under = open();
        QWidget* window = under.Window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QString off = AccessibilityWalk::OffScreen(*window);
        QVERIFY2(off.isEmpty(), qPrintable(off));
        const QStringList cut = AccessibilityWalk::CutCaptions(*window);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(" | "))));
        window->hide();
    }

    // Icon-only buttons say what their tooltip says; fields say what their label says.
    void controlsCarryTheirLabelsWords()
    {
        TfrmMain main({}, WithTray);
        QCOMPARE(AccessibleName(main.btnFeedbackTool), QStringLiteral("Feedback"));
        QCOMPARE(AccessibleName(main.pbFortschritt), QStringLiteral("Fortschritt"));
        QCOMPARE(QAccessible::queryAccessibleInterface(&main)->role(), QAccessible::Window);

        TfrmEinstellungen settings;
        QCOMPARE(AccessibleName(settings.btnFeedbackTool), QStringLiteral("Feedback"));
        QCOMPARE(AccessibleName(settings.btnLocalSourceBrowse), QStringLiteral("Verzeichnis auswählen"));
        QCOMPARE(AccessibleName(settings.BitBtn4), QStringLiteral("Wo liegen die Log-Dateien?"));
        QCOMPARE(AccessibleName(settings.seDays), QStringLiteral("Alle … Tage nach Updates suchen."));
        QCOMPARE(AccessibleName(settings.clbModule),
                 QStringLiteral("Für folgende Module Updates durchführen:"));
        QCOMPARE(AccessibleName(settings.edLocalSource), QStringLiteral("Lokales Verzeichnis"));
        QCOMPARE(AccessibleName(settings.lbledtProxyPort), QStringLiteral("Port"));
    }

    // The folder button is a button of its own in the tab order, right after its field, and
    // enabled with it.
    void folderButtonIsReachedByTab()
    {
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                         QStringLiteral("/srv/updates/"));
        TfrmEinstellungen settings;
        settings.show();
        QVERIFY(QTest::qWaitForWindowActive(&settings));
        QVERIFY(settings.btnLocalSourceBrowse->isEnabled());
        settings.edLocalSource->setFocus();
        QTest::keyClick(settings.edLocalSource, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), settings.btnLocalSourceBrowse);
        QTest::keyClick(settings.btnLocalSourceBrowse, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), settings.seDays);
        settings.cbLocalSource->setChecked(false);
        QVERIFY(!settings.btnLocalSourceBrowse->isEnabled());
        settings.reject();
    }

    // Qt's own texts (context menus, the folder dialog) in German whatever the desktop's language.
    void qtSpeaksGerman_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany);
        QTest::newRow("Austrian German") << QLocale(QLocale::German, QLocale::Austria);
        QTest::newRow("English desktop") << QLocale(QLocale::English, QLocale::UnitedStates);
    }

    void qtSpeaksGerman()
    {
        QFETCH(QLocale, locale);
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                           QStringLiteral("/qtbase_de.qm")))
            QSKIP("Qt's German translations are not installed (qt6-translations-l10n)");
        QTranslator* translator = InstallQtTranslations(locale);
        QVERIFY(translator != nullptr);
        const auto remove = qScopeGuard([translator] {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        });
        QCOMPARE(QCoreApplication::translate("QLineEdit", "&Undo"), QStringLiteral("&Rückgängig"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Directory:"), QStringLiteral("Verzeichnis:"));
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
