// The main window, the settings dialog, the installed-updates window, the information window and
// the address window as a screen reader and a keyboard meet them: every control that takes the
// focus has a name (icon buttons their tooltip's words, fields their label's), the main window is
// a window, and each window fits its screen with no caption cut. The same test runs at the default
// font, at twice the interface scale and with a 144 dpi font (see CMakeLists.txt).
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "gui/Application.h"
#include "gui/Einstellungen.h"
#include "gui/Information.h"
#include "gui/OpenAddress.h"
#include "gui/UserLogWindow.h"
#include "gui/mainFrontend.h"
#include "support/ScriptedFrontEnd.h"

#include "RunWorld.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QToolButton>
#include <QTranslator>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

using TWindowFactory = std::function<std::unique_ptr<QWidget>()>;

// Every interface below `parent` that takes the focus and has no name, by object name.
void CollectNameless(QAccessibleInterface* parent, QStringList& nameless, int depth = 0)
{
    if (parent == nullptr || depth > 50)
        return;
    for (int i = 0; i < parent->childCount(); ++i) {
        QAccessibleInterface* child = parent->child(i);
        if (child == nullptr)
            continue;
        const QAccessible::State state = child->state();
        if (state.focusable && !state.invisible && child->text(QAccessible::Name).trimmed().isEmpty()) {
            const QObject* object = child->object();
            nameless.append(object != nullptr
                                ? object->objectName() + u':' + object->metaObject()->className()
                                : QStringLiteral("?"));
        }
        CollectNameless(child, nameless, depth + 1);
    }
}

QString AccessibleName(QWidget* widget)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    return iface != nullptr ? iface->text(QAccessible::Name) : QString();
}

// The captions that do not fit their control: a text wider or taller than the room it is drawn in.
QStringList CutCaptions(const QWidget& window)
{
    QStringList cut;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window))
            continue;
        const QFontMetrics metrics(widget->font());
        QString text;
        int room = widget->width();
        if (const auto* box = qobject_cast<const QCheckBox*>(widget)) {
            text = box->text();
            if (box->sizeHint().width() > box->width() || box->sizeHint().height() > box->height() + 1)
                cut.append(text);
            continue;
        }
        if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
            text = QString(button->text()).remove(u'&');
            if (!button->icon().isNull())
                room -= button->iconSize().width() + 4;
            if (!text.isEmpty() &&
                (metrics.horizontalAdvance(text) + 6 > room || metrics.height() + 4 > button->height()))
                cut.append(text);
            continue;
        }
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            if (label->wordWrap() || label->text().isEmpty() ||
                label->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored)
                continue;
            if (label->sizeHint().width() > label->width() + 1 || metrics.height() > label->height() + 1)
                cut.append(label->text());
        }
    }
    return cut;
}

}  // namespace

Q_DECLARE_METATYPE(TWindowFactory)

class tst_AccessibilityMain : public QObject {
    Q_OBJECT

    std::unique_ptr<TRunWorld> FWorld;
    std::unique_ptr<TScriptedFrontEnd> FFrontEnd;
    std::unique_ptr<TScopedFrontEnd> FScope;

    void windows_data()
    {
        QTest::addColumn<TWindowFactory>("create");
        QTest::newRow("main window") << TWindowFactory(
            [] { return std::make_unique<TfrmMain>(QStringList()); });
        QTest::newRow("settings") << TWindowFactory([] { return std::make_unique<TfrmEinstellungen>(); });
        QTest::newRow("installed updates") << TWindowFactory([] { return std::make_unique<TfrmUserLog>(); });
        QTest::newRow("information") << TWindowFactory([] {
            auto info = std::make_unique<TInfo>();
            info->Label1->setText(QStringLiteral("Die Log-Dateien sind unter folgendem Pfad zu finden:"));
            return info;
        });
        QTest::newRow("address") << TWindowFactory([] {
            return std::make_unique<TfrmAdresse>(QStringLiteral("https://www.vorlandt.example/hilfe"));
        });
    }

private Q_SLOTS:
    void initTestCase() { TfrmMain::SetTrayAvailableForTesting(true); }
    void cleanupTestCase() { TfrmMain::SetTrayAvailableForTesting(std::nullopt); }

    void init()
    {
        FWorld = std::make_unique<TRunWorld>();
        QVERIFY(FWorld->IsValid());
        FFrontEnd = std::make_unique<TScriptedFrontEnd>();
        FScope = std::make_unique<TScopedFrontEnd>(*FFrontEnd);
        // Administrator or not, the module list and the warning over it are both named.
        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdateModule + QStringLiteral("Kasse"),
                         QStringLiteral("Name"), QStringLiteral("Vorlandt Kasse"));
    }

    void cleanup()
    {
        FScope.reset();
        FFrontEnd.reset();
        FWorld.reset();
    }

    void everyFocusableControlHasAName_data() { windows_data(); }
    void everyFocusableControlHasAName()
    {
        QFETCH(TWindowFactory, create);
        const std::unique_ptr<QWidget> window = create();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window.get());
        QVERIFY(root != nullptr);
        QVERIFY(!root->text(QAccessible::Name).isEmpty());
        QVERIFY2(root->role() == QAccessible::Window || root->role() == QAccessible::Dialog,
                 qPrintable(QString::number(root->role())));
        QStringList nameless;
        CollectNameless(root, nameless);
        QVERIFY2(nameless.isEmpty(), qPrintable(nameless.join(QStringLiteral(", "))));
        window->hide();
    }

    // Icon-only buttons say what their tooltip says; fields say what their label says.
    void controlsCarryTheirLabelsWords()
    {
        TfrmMain main({});
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

    // Nothing sticks out of the screen's usable area, and no caption is cut.
    void windowFitsTheScreen_data() { windows_data(); }
    void windowFitsTheScreen()
    {
        QFETCH(TWindowFactory, create);
        const std::unique_ptr<QWidget> window = create();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QRect available = window->screen()->availableGeometry();
        QVERIFY2(available.contains(window->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                .arg(window->frameGeometry().x())
                                .arg(window->frameGeometry().y())
                                .arg(window->frameGeometry().width())
                                .arg(window->frameGeometry().height())
                                .arg(available.width())
                                .arg(available.height())));
        const QStringList cut = CutCaptions(*window);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(" | "))));
        window->hide();
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

QTEST_MAIN(tst_AccessibilityMain)
#include "tst_accessibilityMain.moc"
