// Every window of the program as a screen reader, a keyboard and the screen meet it: each control
// that takes the focus has a name (icon buttons their tooltip's words, fields their label's, a
// choice its question), each window reports the role of its kind, links are links and list entries
// lie in a list; Enter presses the focused button, F1 opens the window's part of the manual and
// Shift+F10 the context menu; every window is transient for the one it belongs to, and fits its
// screen with no caption cut, also with a large desktop font. Accessibility is switched on as a
// screen reader switches it on. ctest runs the test again with a large font on the small test
// screen, and the fit on a full-HD screen at twice the interface scale, with a 144 dpi font, and
// with both (see CMakeLists.txt).
#include "core/services/BasicProcs.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/settings/SettingsValues.h"
#include "gui/Application.h"
#include "gui/Einstellungen.h"
#include "gui/FocusOutline.h"
#include "gui/Information.h"
#include "gui/OpenAddress.h"
#include "gui/QtFrontEnd.h"
#include "gui/ScreenFit.h"
#include "gui/UpdateBenachrichtigung.h"
#include "gui/frmNewsAnzeige.h"
#include "gui/frmTrackingOkConfirmation.h"
#include "gui/frmUserLog.h"
#include "gui/mainFrontend.h"
#include "support/AccessibilityWalk.h"
#include "support/FrontEndFixture.h"
#include "support/ModalAnswer.h"
#include "support/ScriptedFrontEnd.h"
#include "support/UpdateListWorld.h"

#include "support/RunWorld.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextEdit>
#include <QToolButton>
#include <QTranslator>
#include <QWindow>
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

// The links of a document, address by address, in reading order.
QStringList Anchors(const QTextDocument& document)
{
    QStringList anchors;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor() && !format.anchorHref().isEmpty() &&
                (anchors.isEmpty() || anchors.last() != format.anchorHref()))
                anchors << format.anchorHref();
        }
    }
    return anchors;
}

// Every interface below `parent`, depth first.
void CollectInterfaces(QAccessibleInterface* parent, QList<QAccessibleInterface*>& all, int depth = 0)
{
    if (parent == nullptr || depth > 50)
        return;
    for (int i = 0; i < parent->childCount(); ++i) {
        if (QAccessibleInterface* child = parent->child(i)) {
            all << child;
            CollectInterfaces(child, all, depth + 1);
        }
    }
}

QWindow* TransientParentOf(const QWidget* window)
{
    return window->windowHandle() != nullptr ? window->windowHandle()->transientParent() : nullptr;
}

// Closes the menu a key opened, whether the control shows it and returns or waits in it.
class TMenuWatch {
public:
    TMenuWatch()
    {
        FPoll.setInterval(5);
        QObject::connect(&FPoll, &QTimer::timeout, [this] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                FSeen = true;
                menu->close();
                FPoll.stop();
            }
        });
        FPoll.start();
    }
    bool Seen() const { return FSeen; }

private:
    QTimer FPoll;
    bool FSeen = false;
};

// A look of white text on black whose highlight hardly differs from the background, as some
// high-contrast themes have it: a focus mark in the highlight colour would be lost there.
QPalette HighContrastPalette()
{
    QPalette palette;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, Qt::black);
        palette.setColor(group, QPalette::WindowText, Qt::white);
        palette.setColor(group, QPalette::Base, Qt::black);
        palette.setColor(group, QPalette::Text, Qt::white);
        palette.setColor(group, QPalette::Button, Qt::black);
        palette.setColor(group, QPalette::ButtonText, Qt::white);
        palette.setColor(group, QPalette::Highlight, QColor(0x1a, 0x1a, 0x40));
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    return palette;
}

// The longest run of one of `colours` down the middle column of `image`, in its upper half.
int LongestRunDownTheMiddle(const QImage& image, const QList<QColor>& colours)
{
    int longest = 0;
    int run = 0;
    QRgb runColour = 0;
    const int x = image.width() / 2;
    for (int y = 0; y < image.height() / 2; ++y) {
        const QRgb pixel = image.pixel(x, y);
        const bool marked = std::any_of(colours.cbegin(), colours.cend(),
                                        [pixel](const QColor& c) { return c.rgb() == pixel; });
        run = marked && (run == 0 || pixel == runColour) ? run + 1 : (marked ? 1 : 0);
        runColour = pixel;
        longest = std::max(longest, run);
    }
    return longest;
}

}  // namespace

Q_DECLARE_METATYPE(TWindowFactory)
Q_DECLARE_METATYPE(QAccessible::Role)

class TestAccessibility : public QObject {
    Q_OBJECT

    std::unique_ptr<TRunWorld> FWorld;
    std::unique_ptr<TFrontEndFixture> FFrontEnd;

    // One row per window of the program: how to open it, the role it reports, and the part of the
    // manual its F1 opens.
    void windows_data()
    {
        QTest::addColumn<TWindowFactory>("open");
        QTest::addColumn<QAccessible::Role>("role");
        QTest::addColumn<int>("help");
        QTest::newRow("main window") << Plain<TfrmMain>(QStringList(), TfrmMain::TTrayCheck(WithTray))
                                     << QAccessible::Window << MainHelpContext;
        QTest::newRow("settings") << Plain<TfrmEinstellungen>() << QAccessible::Dialog << SettingsHelpContext;
        // The folder button enabled, for the keys that act on it.
        QTest::newRow("settings with a local folder") << TWindowFactory([] {
            WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                             QStringLiteral("/srv/updates/"));
            return TWindowUnderTest{nullptr, std::make_unique<TfrmEinstellungen>()};
        }) << QAccessible::Dialog << SettingsHelpContext;
        // Locked controls in both parts of the dialog, and the notes that say so.
        QTest::newRow("settings under a policy") << TWindowFactory([] {
            WriteIntegerValue(HKEY_LOCAL_MACHINE, SettingsKeys::PolicyOnlineUpdate, SettingsKeys::Disable, 0);
            WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::PolicyOnlineUpdate, SettingsKeys::LocalSource,
                             QStringLiteral("/srv/updates/"));
            WriteIntegerValue(HKEY_LOCAL_MACHINE, SettingsKeys::PolicyLog, SettingsKeys::LogAktiv, 1);
            WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::PolicyProxy, SettingsKeys::UserAgent,
                             QStringLiteral("Firmen-Updater"));
            return TWindowUnderTest{nullptr, std::make_unique<TfrmEinstellungen>()};
        }) << QAccessible::Dialog << SettingsHelpContext;
        QTest::newRow("installed updates")
            << Plain<TfrmUserLog>() << QAccessible::Dialog << UserLogHelpContext;
        QTest::newRow("information") << TWindowFactory([] {
            auto info = std::make_unique<TInfo>();
            info->Label1->setText(QStringLiteral("Die Log-Dateien sind unter folgendem Pfad zu finden:"));
            return TWindowUnderTest{nullptr, std::move(info)};
        }) << QAccessible::Dialog << 0;
        QTest::newRow("address") << Plain<TfrmAddress>(QStringLiteral("https://www.vorlandt.example/hilfe"))
                                 << QAccessible::Dialog << 0;
        QTest::newRow("frmUpdateBenachrichtigung")
            << TWindowFactory(NotificationDialog) << QAccessible::Dialog << NotificationHelpContext;
        QTest::newRow("frmNewsAnzeige")
            << TWindowFactory(NewsWindow) << QAccessible::Dialog << NewsHelpContext;
        QTest::newRow("frmTrackingOkConfirmation")
            << Plain<TfrmTrackingOkConfirmation>() << QAccessible::Dialog << ConsentHelpContext;
        QTest::newRow("message box OK") << TWindowFactory([] { return MessageBox(TMsgDlgButtons::mbOK); })
                                        << QAccessible::AlertMessage << 0;
        QTest::newRow("message box Ja/Nein")
            << TWindowFactory([] { return MessageBox(TMsgDlgButtons::mbYesNo); }) << QAccessible::AlertMessage
            << 0;
        QTest::newRow("message box Abbrechen/Wiederholen")
            << TWindowFactory([] { return MessageBox(TMsgDlgButtons::mbAbortRetry); })
            << QAccessible::AlertMessage << 0;
    }

    // The ways a secondary window comes up while the main window is on the screen: each opens
    // the window and hands it, with the window it belongs to, to `check`.
    using TCheck = std::function<void(QWidget* window, QWidget* owner)>;
    using TOpenOver = std::function<void(TfrmMain& main, const TCheck& check)>;

private Q_SLOTS:
    void initTestCase()
    {
        // As a screen reader does: from now on Qt answers every accessibility event, and makes
        // (and keeps) each control's interface the moment the control first reports a change.
        QAccessible::setActive(true);
        UseClearFocusMarks();
    }

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

    // Enter on a focused button presses that button and no other, picture buttons included;
    // Enter on another control presses the dialog's default button.
    void enterPressesTheFocusedButton_data() { windows_data(); }
    void enterPressesTheFocusedButton()
    {
        QFETCH(TWindowFactory, open);
        const TWindowUnderTest under = open();
        QWidget* window = under.Window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        // Each button only counts its presses: nothing opens or closes.
        QList<QAbstractButton*> buttons;
        std::vector<std::unique_ptr<QSignalSpy>> presses;
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
            if (qobject_cast<QPushButton*>(button) == nullptr &&
                qobject_cast<QToolButton*>(button) == nullptr)
                continue;
            QObject::disconnect(button, nullptr, nullptr, nullptr);
            buttons << button;
            presses.push_back(std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked));
        }
        const auto pressed = [&] {
            QStringList names;
            for (qsizetype i = 0; i < buttons.size(); ++i) {
                if (!presses[size_t(i)]->isEmpty())
                    names << AccessibilityWalk::Describe(buttons[i]);
                presses[size_t(i)]->clear();
            }
            return names;
        };
        int tried = 0;
        for (QAbstractButton* button : buttons) {
            if (!button->isVisible() || !button->isEnabled() || button->focusPolicy() == Qt::NoFocus)
                continue;
            button->setFocus(Qt::TabFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(button));
            QTest::keyClick(window->windowHandle(), Qt::Key_Return);
            QCOMPARE(pressed(), QStringList{AccessibilityWalk::Describe(button)});
            ++tried;
        }
        QVERIFY(tried > 0);

        // A check box, a field or a spin box hands Enter on to the default button.
        if (qobject_cast<QDialog*>(window) == nullptr)
            return;
        for (QWidget* control : window->findChildren<QWidget*>()) {
            const bool handsOn = qobject_cast<QCheckBox*>(control) != nullptr ||
                                 qobject_cast<QLineEdit*>(control) != nullptr ||
                                 qobject_cast<QAbstractSpinBox*>(control) != nullptr;
            if (!handsOn || !control->isVisible() || !control->isEnabled() ||
                !(control->focusPolicy() & Qt::TabFocus) ||
                control->objectName().startsWith(QLatin1String("qt_")))
                continue;
            control->setFocus(Qt::TabFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), control);
            QPushButton* defaultButton = nullptr;
            for (QPushButton* button : window->findChildren<QPushButton*>()) {
                if (button->isDefault())
                    defaultButton = button;
            }
            QVERIFY(defaultButton != nullptr);
            QTest::keyClick(window->windowHandle(), Qt::Key_Return);
            QCOMPARE(pressed(), QStringList{AccessibilityWalk::Describe(defaultButton)});
            break;
        }
    }

    // A control that shows a value (the news window's choice, the interval, the progress) is named
    // by what it asks or shows, not by the value it holds, also with a screen reader running from
    // before the window was made.
    void valueControlsAreNamedByTheirQuestion_data() { windows_data(); }
    void valueControlsAreNamedByTheirQuestion()
    {
        QFETCH(TWindowFactory, open);
        const TWindowUnderTest under = open();
        QWidget* window = under.Window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        for (QWidget* control : window->findChildren<QWidget*>()) {
            if (qobject_cast<QComboBox*>(control) == nullptr &&
                qobject_cast<QAbstractSpinBox*>(control) == nullptr &&
                qobject_cast<QProgressBar*>(control) == nullptr)
                continue;
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
            QVERIFY(iface != nullptr);
            const QString name = iface->text(QAccessible::Name);
            const QString value = iface->text(QAccessible::Value);
            QVERIFY2(!name.trimmed().isEmpty() && name != value,
                     qPrintable(AccessibilityWalk::Describe(control) + QStringLiteral(": ") + name));
            if (auto* choice = qobject_cast<QComboBox*>(control)) {
                QCOMPARE(value, choice->currentText());
                // Its list opens from the screen reader as from the keyboard.
                QVERIFY(iface->actionInterface() != nullptr);
                QVERIFY(iface->actionInterface()->actionNames().contains(
                    QAccessibleActionInterface::showMenuAction()));
            }
        }
    }

    // The links in a description or a news item are links for a screen reader: objects of their
    // own inside the text, named by their text, carrying their address, opened by their action as
    // a click opens them.
    void linksInRichTextAreLinks_data() { windows_data(); }
    void linksInRichTextAreLinks()
    {
        QFETCH(TWindowFactory, open);
        const TWindowUnderTest under = open();
        QWidget* window = under.Window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        for (QTextBrowser* pane : window->findChildren<QTextBrowser*>()) {
            if (!pane->isVisible())
                continue;
            // The notification dialog loads the first description once it is on the screen.
            QTRY_VERIFY(!pane->toPlainText().isEmpty());
            const QStringList anchors = Anchors(*pane->document());
            QVERIFY(!anchors.isEmpty());
            QAccessibleInterface* text = QAccessible::queryAccessibleInterface(pane);
            QVERIFY(text != nullptr && text->textInterface() != nullptr);
            QVERIFY(text->state().readOnly);
            QStringList targets;
            for (int i = 0; i < text->childCount(); ++i) {
                QAccessibleInterface* link = text->child(i);
                if (link == nullptr || link->role() != QAccessible::Link)
                    continue;
                QCOMPARE(link->parent(), text);
                QCOMPARE(text->indexOfChild(link), i);
                QAccessibleHyperlinkInterface* hyperlink = link->hyperlinkInterface();
                QVERIFY(hyperlink != nullptr);
                QVERIFY(!link->text(QAccessible::Name).trimmed().isEmpty());
                QCOMPARE(text->textInterface()->text(hyperlink->startIndex(), hyperlink->endIndex()),
                         hyperlink->anchor());
                targets << hyperlink->anchorTarget();
                QSignalSpy clicked(pane, &QTextBrowser::anchorClicked);
                link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
                QCOMPARE(clicked.size(), 1);
                QCOMPARE(clicked.at(0).at(0).toUrl(), QUrl(hyperlink->anchorTarget()));
            }
            QCOMPARE(targets, anchors);
        }
    }

    // Every item of a list lies in a list: the update entries in their module's, the modules in
    // the settings' list.
    void listItemsLieInAList_data() { windows_data(); }
    void listItemsLieInAList()
    {
        QFETCH(TWindowFactory, open);
        const TWindowUnderTest under = open();
        QWidget* window = under.Window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QList<QAccessibleInterface*> all;
        CollectInterfaces(QAccessible::queryAccessibleInterface(window), all);
        for (QAccessibleInterface* item : std::as_const(all)) {
            if (item->role() != QAccessible::ListItem)
                continue;
            QVERIFY2(item->parent() != nullptr && item->parent()->role() == QAccessible::List,
                     qPrintable(item->text(QAccessible::Name)));
            QVERIFY(!item->parent()->text(QAccessible::Name).trimmed().isEmpty());
        }
    }

    // F1 opens the manual at the window's own part; a window without one opens the start page.
    void f1OpensTheWindowsPartOfTheManual_data() { windows_data(); }
    void f1OpensTheWindowsPartOfTheManual()
    {
        QFETCH(TWindowFactory, open);
        QFETCH(int, help);
        const QString helpFile = FWorld->Path(QStringLiteral("index.html"));
        QFile file(helpFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        SetApplicationHelpFile(helpFile);
        const auto reset = qScopeGuard([] { SetApplicationHelpFile(QString()); });
        // The main window sets the installed manual each time it is shown.
        const QByteArray helpBefore = qgetenv("VORLANDT_HELP");
        qputenv("VORLANDT_HELP", helpFile.toLocal8Bit());
        const auto resetHelp = qScopeGuard([helpBefore] { qputenv("VORLANDT_HELP", helpBefore); });
        const TWindowUnderTest under = open();
        // The main window puts its own front end in charge; the script has to see the manual.
        SetFrontEnd(FFrontEnd.get());
        QWidget* window = under.Window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window->windowHandle(), Qt::Key_F1);
        QCOMPARE(FFrontEnd->OpenedDocuments(), QStringList{HelpTopicAddress(helpFile, help)});
        QCOMPARE(FFrontEnd->Messages(), QList<TShownMessage>());
    }

    // Shift+F10 opens the context menu of every field and text that has one, as the Menu key does.
    void shiftF10OpensTheContextMenu_data() { windows_data(); }
    void shiftF10OpensTheContextMenu()
    {
        QFETCH(TWindowFactory, open);
        const TWindowUnderTest under = open();
        QWidget* window = under.Window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        for (QWidget* control : window->findChildren<QWidget*>()) {
            const bool hasMenu = qobject_cast<QLineEdit*>(control) != nullptr ||
                                 qobject_cast<QAbstractSpinBox*>(control) != nullptr ||
                                 qobject_cast<QTextEdit*>(control) != nullptr ||
                                 qobject_cast<QPlainTextEdit*>(control) != nullptr;
            if (!hasMenu || !control->isVisible() || !control->isEnabled() ||
                control->focusPolicy() == Qt::NoFocus ||
                control->objectName().startsWith(QLatin1String("qt_")))
                continue;
            // A closed menu may leave the window inactive on the test platform.
            window->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), window);
            control->setFocus(Qt::TabFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), control);
            TMenuWatch menu;
            QTest::keyClick(window->windowHandle(), Qt::Key_F10, Qt::ShiftModifier);
            QTRY_VERIFY2(menu.Seen(), qPrintable(AccessibilityWalk::Describe(control)));
            QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
        }
    }

    // Every secondary window is transient for the window it belongs to, so that any window manager
    // or compositor stacks it above that one instead of tiling it beside or behind.
    void secondaryWindowsAreTransientForTheirOwner_data()
    {
        QTest::addColumn<TOpenOver>("openOver");
        QTest::newRow("settings") << TOpenOver([](TfrmMain& main, const TCheck& check) {
            TfrmEinstellungen settings(&main);
            settings.show();
            QVERIFY(QTest::qWaitForWindowExposed(&settings));
            check(&settings, &main);
        });
        QTest::newRow("installed updates") << TOpenOver([](TfrmMain& main, const TCheck& check) {
            TfrmUserLog userLog(&main);
            userLog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&userLog));
            check(&userLog, &main);
        });
        QTest::newRow("notification") << TOpenOver([](TfrmMain& main, const TCheck& check) {
            TUpdateListWorld world;
            world.Add(QStringLiteral("Vorlandt Lager"), 12, 3, 1, 0, Rtf(QStringLiteral("Lager 3.1.0")));
            TModalAnswer answer([&](QWidget* modal) {
                check(modal, &main);
                static_cast<QDialog*>(modal)->done(2);
            });
            QVERIFY(!FrontEnd().ConfirmUpdates(world.Updates));
            QVERIFY(!answer.WatchdogFired());
        });
        QTest::newRow("news") << TOpenOver([](TfrmMain& main, const TCheck& check) {
            TModalAnswer answer([&](QWidget* modal) {
                check(modal, &main);
                static_cast<QDialog*>(modal)->done(0);
            });
            TNewsView news;
            news.Choices = QStringList{QStringLiteral("Nicht wieder anzeigen.")};
            FrontEnd().ShowNews(news);
            QVERIFY(!answer.WatchdogFired());
        });
        QTest::newRow("consent") << TOpenOver([](TfrmMain& main, const TCheck& check) {
            TModalAnswer answer([&](QWidget* modal) {
                check(modal, &main);
                auto* form = static_cast<TfrmTrackingOkConfirmation*>(modal);
                form->rgDecisionItems[1]->click();
                form->btnClose->click();
            });
            QVERIFY(!FrontEnd().AskTrackingConsent());
            QVERIFY(!answer.WatchdogFired());
        });
        QTest::newRow("message") << TOpenOver([](TfrmMain& main, const TCheck& check) {
            TModalAnswer answer([&](QWidget* modal) {
                check(modal, &main);
                static_cast<QDialog*>(modal)->done(0);
            });
            MessageDialog(QStringLiteral("Hinweis"), TMsgDlgType::mtInformation, TMsgDlgButtons::mbOK, 0);
            QVERIFY(!answer.WatchdogFired());
        });
        // Asked from inside the settings: the box belongs to the settings.
        QTest::newRow("message over the settings") << TOpenOver([](TfrmMain& main, const TCheck& check) {
            TfrmEinstellungen settings(&main);
            TModalAnswer inSettings([&](QWidget*) {
                TModalAnswer box([&](QWidget* modal) {
                    check(modal, &settings);
                    static_cast<QDialog*>(modal)->done(0);
                });
                MessageDialog(QStringLiteral("Hinweis"), TMsgDlgType::mtInformation, TMsgDlgButtons::mbOK, 0);
                QVERIFY(!box.WatchdogFired());
                settings.reject();
            });
            settings.exec();
            QVERIFY(!inSettings.WatchdogFired());
        });
        QTest::newRow("information over the settings") << TOpenOver([](TfrmMain& main, const TCheck& check) {
            TfrmEinstellungen settings(&main);
            settings.show();
            QVERIFY(QTest::qWaitForWindowExposed(&settings));
            TInfo info(&settings);
            info.show();
            QVERIFY(QTest::qWaitForWindowExposed(&info));
            check(&info, &settings);
        });
        QTest::newRow("address over the news") << TOpenOver([](TfrmMain& main, const TCheck& check) {
            TNewsView news;
            news.Choices = QStringList{QStringLiteral("Nicht wieder anzeigen.")};
            TfrmNewsAnzeige form(news, &main);
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            TfrmAddress address(QStringLiteral("https://www.vorlandt.example/"), &form);
            address.show();
            QVERIFY(QTest::qWaitForWindowExposed(&address));
            check(&address, &form);
        });
    }
    void secondaryWindowsAreTransientForTheirOwner()
    {
        QFETCH(TOpenOver, openOver);
        TfrmMain main({}, WithTray);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QStringList checked;
        openOver(main, [&](QWidget* window, QWidget* owner) {
            QVERIFY(window->isWindow());
            QVERIFY(owner->windowHandle() != nullptr);
            QCOMPARE(TransientParentOf(window), owner->windowHandle());
            checked << window->objectName();
        });
        QCOMPARE(checked.size(), 1);
    }

    // With the desktop's font twice its usual size the windows take a font of that proportion
    // (Tahoma 8 beside a 9-point desktop font), grow with it, and still fit the screen whole.
    void windowsGrowWithTheDesktopFont_data() { windows_data(); }
    void windowsGrowWithTheDesktopFont()
    {
        QFETCH(TWindowFactory, open);
        if (QApplication::primaryScreen()->logicalDotsPerInchY() > 96)
            QSKIP(
                "the large dpi runs with the usual desktop font: both together would need a screen "
                "three times the test screen's size");
        const QFont desktop = QApplication::font();
        const auto restore = qScopeGuard([desktop] { QApplication::setFont(desktop); });
        QFont large = desktop;
        large.setPointSizeF(2 * ReferenceDesktopPointSize);
        QApplication::setFont(large);
        const TWindowUnderTest under = open();
        QWidget* window = under.Window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY2(window->font().pointSizeF() >= 2 * 8 - 0.01, qPrintable(window->font().toString()));
        const QString off = AccessibilityWalk::OffScreen(*window);
        QVERIFY2(off.isEmpty(), qPrintable(off));
        const QStringList cut = AccessibilityWalk::CutCaptions(*window);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(" | "))));
    }

    // A focus mark is at least two pixels wide and stands out from what lies behind it, in the
    // default look and in a high-contrast look whose highlight is nearly the background.
    void focusMarksAreWideAndStandOut_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("default look") << QApplication::palette();
        QTest::newRow("high contrast") << HighContrastPalette();
    }
    void focusMarksAreWideAndStandOut()
    {
        QFETCH(QPalette, palette);
        const QPalette before = QApplication::palette();
        const auto restore = qScopeGuard([before] { QApplication::setPalette(before); });
        QApplication::setPalette(palette);
        QList<QColor> marks;
        for (const QPalette::ColorRole background :
             {QPalette::Window, QPalette::Button, QPalette::Base, QPalette::Highlight}) {
            const QColor colour = FocusMarkColour(palette, palette.color(QPalette::Active, background));
            QVERIFY(ContrastRatio(colour, palette.color(QPalette::Active, background)) >= FocusMarkContrast);
            marks << colour;
        }

        const TWindowUnderTest notification = NotificationDialog();
        TfrmEinstellungen settings;
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                         QStringLiteral("/srv/updates/"));
        auto* dialog = static_cast<TfrmUpdateBenachrichtigung*>(notification.Window.get());
        const QList<QWidget*> controls{settings.BitBtn1,
                                       settings.cbAktiv,
                                       settings.edLocalSource,
                                       settings.btnLocalSourceBrowse,
                                       settings.seDays,
                                       settings.clbModule,
                                       dialog->Panels()[0]->Header,
                                       dialog->Panels()[0]->Entries()[0],
                                       dialog->reBeschreibung};
        settings.show();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        for (QWidget* control : controls) {
            control->window()->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(control->window()));
            if (!control->isEnabled())
                control->setEnabled(true);
            control->setFocus(Qt::TabFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), control);
            const QImage image = control->grab().toImage();
            if (qEnvironmentVariableIsSet("VORLANDT_FOCUS_MARKS"))
                image.save(qEnvironmentVariable("VORLANDT_FOCUS_MARKS") + u'/' + control->objectName() +
                           QStringLiteral(".png"));
            QVERIFY2(LongestRunDownTheMiddle(image, marks) >= FocusMarkWidth,
                     qPrintable(AccessibilityWalk::Describe(control)));
        }
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
