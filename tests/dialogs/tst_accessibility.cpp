// Every window and dialog of the program as a screen reader meets it: each control that takes
// the keyboard focus has a name, and each window reports the role of its kind.
#include "UpdateListWorld.h"

#include "gui/QtFrontEnd.h"
#include "gui/UpdateBenachrichtigung.h"
#include "gui/frmNewsAnzeige.h"
#include "gui/frmTrackingOkConfirmation.h"
#include "support/ScriptedFrontEnd.h"

#include <QAccessible>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <functional>
#include <memory>

namespace {

// The world a window is opened in, kept alive as long as the window.
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

TWindowUnderTest ConsentDialog()
{
    return {nullptr, std::make_unique<TfrmTrackingOkConfirmation>()};
}

TWindowUnderTest MessageBox(TMsgDlgButtons buttons)
{
    return {nullptr, std::make_unique<TMessageBox>(QStringLiteral("Die Datei konnte nicht gelesen werden."),
                                                   TMsgDlgType::mtError, buttons, 0)};
}

QString Describe(QWidget* widget)
{
    return QStringLiteral("%1 (%2)").arg(widget->objectName(),
                                         QString::fromLatin1(widget->metaObject()->className()));
}

}  // namespace

Q_DECLARE_METATYPE(TWindowFactory)
Q_DECLARE_METATYPE(QAccessible::Role)

class TestAccessibility : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TScriptedFrontEnd> FFrontEnd;
    std::unique_ptr<TScopedFrontEnd> FScope;

private Q_SLOTS:
    void init()
    {
        FFrontEnd = std::make_unique<TScriptedFrontEnd>();
        FScope = std::make_unique<TScopedFrontEnd>(*FFrontEnd);
    }
    void cleanup()
    {
        FScope.reset();
        FFrontEnd.reset();
    }

    void everyFocusableControlHasAName_data()
    {
        QTest::addColumn<TWindowFactory>("open");
        QTest::addColumn<QAccessible::Role>("role");
        QTest::newRow("frmUpdateBenachrichtigung")
            << TWindowFactory(NotificationDialog) << QAccessible::Dialog;
        QTest::newRow("frmNewsAnzeige") << TWindowFactory(NewsWindow) << QAccessible::Dialog;
        QTest::newRow("frmTrackingOkConfirmation") << TWindowFactory(ConsentDialog) << QAccessible::Dialog;
        QTest::newRow("message box OK")
            << TWindowFactory([] { return MessageBox(TMsgDlgButtons::mbOK); }) << QAccessible::AlertMessage;
        QTest::newRow("message box Ja/Nein")
            << TWindowFactory([] { return MessageBox(TMsgDlgButtons::mbYesNo); })
            << QAccessible::AlertMessage;
        QTest::newRow("message box Abbrechen/Wiederholen")
            << TWindowFactory([] { return MessageBox(TMsgDlgButtons::mbAbortRetry); })
            << QAccessible::AlertMessage;

        // --- Main window, settings dialog, installed-updates window and information box: their
        // --- rows go here, one per window, in the same form.
    }
    void everyFocusableControlHasAName()
    {
        QFETCH(TWindowFactory, open);
        QFETCH(QAccessible::Role, role);
        TWindowUnderTest under = open();
        QWidget* window = under.Window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));

        QAccessibleInterface* top = QAccessible::queryAccessibleInterface(window);
        QVERIFY(top != nullptr);
        QCOMPARE(top->role(), role);
        QVERIFY(!top->text(QAccessible::Name).trimmed().isEmpty());

        QStringList nameless;
        int focusable = 0;
        for (QWidget* child : window->findChildren<QWidget*>()) {
            if (child->focusPolicy() == Qt::NoFocus || !child->isVisibleTo(window))
                continue;
            ++focusable;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(child);
            if (accessible == nullptr || accessible->text(QAccessible::Name).trimmed().isEmpty())
                nameless << Describe(child);
        }
        QVERIFY(focusable > 0);
        QVERIFY2(nameless.isEmpty(), qPrintable(nameless.join(QStringLiteral(", "))));

        // Whatever the font resolution, the window fits the screen (ctest runs this test once
        // more with a large one).
        const QRect available = window->screen()->availableGeometry();
        QVERIFY2(window->frameGeometry().width() <= available.width() &&
                     window->frameGeometry().height() <= available.height(),
                 qPrintable(QStringLiteral("%1x%2 on %3x%4")
                                .arg(window->frameGeometry().width())
                                .arg(window->frameGeometry().height())
                                .arg(available.width())
                                .arg(available.height())));
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
