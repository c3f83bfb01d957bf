// The widget side of the usage tracking: the consent dialog, captions, and the input hook that
// must make exactly one event of each click, horizontal wheel turn and key press.
#include "support/ConsentFrontEnd.h"
#include "support/TrackingServerProcess.h"

#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/tracking/Tracker.h"
#include "gui/AppMessageHook.h"
#include "gui/TrackingControls.h"
#include "gui/frmTrackingOkConfirmation.h"
#include "support/ModalAnswer.h"
#include "support/PrivateStores.h"
#include "support/ScriptedFrontEnd.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QWheelEvent>
#include <QWindow>

#include <functional>
#include <memory>
#include <vector>

namespace {

// A form with a panel holding a button, a text box, a label and a memo.
class TTestForm : public QWidget {
public:
    TTestForm()
    {
        setObjectName(QStringLiteral("frmTest"));
        setGeometry(100, 100, 400, 300);
        auto* panel = new QFrame(this);
        panel->setObjectName(QStringLiteral("pnlUnten"));
        panel->setGeometry(50, 150, 300, 100);
        btnStart = new QPushButton(QStringLiteral("Start"), panel);
        btnStart->setObjectName(QStringLiteral("btnStart"));
        btnStart->setGeometry(20, 30, 100, 30);
        edtSuche = new QLineEdit(QStringLiteral("Hallo"), this);
        edtSuche->setObjectName(QStringLiteral("edtSuche"));
        edtSuche->setGeometry(50, 20, 200, 25);
        auto* label = new QLabel(QStringLiteral("Hinweis"), this);
        label->setObjectName(QStringLiteral("lblHinweis"));
        label->setGeometry(50, 60, 100, 20);
        memNotiz = new QPlainTextEdit(QStringLiteral("Notiz"), this);
        memNotiz->setObjectName(QStringLiteral("memNotiz"));
        memNotiz->setGeometry(260, 20, 120, 100);
    }
    QPushButton* btnStart;
    QLineEdit* edtSuche;
    QPlainTextEdit* memNotiz;
};

struct TRecorded {
    QString Kind;  // "mouse", "keyboard", "user"
    TEventType Type;
    QString Name;
    QString Caption;
    QString Form;
    QPoint Position;
};

// Installs a hook that records what it hands on.
class THookRecorder {
public:
    THookRecorder()
    {
        FHook.Install([this](std::unique_ptr<TTrackingEvent> event) {
            TRecorded recorded{QStringLiteral("user"),  event->EventType(),      event->ControlName(),
                               event->ControlCaption(), event->ParentFormName(), QPoint()};
            if (const auto* mouse = dynamic_cast<TMouseTrackingEvent*>(event.get())) {
                recorded.Kind = QStringLiteral("mouse");
                recorded.Position = mouse->Position();
            } else if (dynamic_cast<TKeyboardTrackingEvent*>(event.get())) {
                recorded.Kind = QStringLiteral("keyboard");
            }
            Events.push_back(recorded);
        });
    }
    TAppMessageHook FHook;
    std::vector<TRecorded> Events;
};

void ShowForm(QWidget& form)
{
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
}

QStringList ExpectedLetter()
{
    return {
        QStringLiteral("Sehr geehrter Vorlandt-Software-Anwender,"),
        QStringLiteral(""),
        QStringLiteral(
            "wir bei Vorlandt arbeiten ständig daran, Sie mit unseren Softwareprodukten in Ihrer täglichen "),
        QStringLiteral("Arbeit optimal zu unterstützen.   "),
        QStringLiteral(""),
        QStringLiteral(
            "Um unseren Service noch weiter zu verbessern, bitten wir Sie jetzt um Ihre Mithilfe."),
        QStringLiteral(""),
        QStringLiteral("Mit Ihrer Erlaubnis möchten wir die Nutzung unserer Software analysieren - "
                       "selbstverständlich völlig "),
        QStringLiteral("anonym!"),
        QStringLiteral(""),
        QStringLiteral(
            "Dazu erstellen die Vorlandt-Anwendungen zusammenfassende anonymisierte Statistiken und "),
        QStringLiteral(
            "Fehlerreports. Diese enthalten keinerlei von Ihnen getätigte Eingaben, sondern dienen "
            "lediglich "),
        QStringLiteral("dazu, die Bedienung der Vorlandt-Software zu analysieren."),
        QStringLiteral(
            "Damit helfen Sie uns, die Anwendungen noch besser zu machen und künftige Features noch "),
        QStringLiteral("zielgerichteter zu entwickeln. "),
        QStringLiteral(""),
        QStringLiteral(
            "Es werden ausschließlich nicht personenbezogene Daten erhoben. Es ist technisch nicht "
            "möglich, sie "),
        QStringLiteral("einem Nutzer zuzuordnen."),
        QStringLiteral(""),
        QStringLiteral("Bitte helfen Sie mit, indem Sie \"Ja, ich möchte helfen, die Software zu "
                       "verbessern\" aktivieren."),
        QStringLiteral(""),
        QStringLiteral("Diese Option können Sie jederzeit nachträglich in den Programmeinstellungen (Punkt "),
        QStringLiteral("\"Automatisierungseinstellungen\") ändern."),
        QStringLiteral(""),
        QStringLiteral("Vielen Dank, dass Sie uns helfen, Ihre Anwendungen zu verbessern."),
        QStringLiteral(""),
        QStringLiteral(""),
        QStringLiteral("Ihr Vorlandt-Software-Team"),
    };
}

using TDialogScript = std::function<void(TfrmTrackingOkConfirmation*, TConsentFrontEnd&)>;

void PressKey(QWidget* dialog, Qt::Key key)
{
    QTest::keyClick(dialog->windowHandle(), key);
}

}  // namespace

Q_DECLARE_METATYPE(TDialogScript)
Q_DECLARE_METATYPE(TEventType)

class TestTrackingWidgets : public QObject {
    Q_OBJECT

private:
    TPrivateStores FStores;

private slots:
    void init()
    {
        QVERIFY(FStores.IsValid());
        QFile::remove(FStores.FilePath(QStringLiteral("user.db")));
        QFile::remove(FStores.FilePath(QStringLiteral("calls.db")));
    }
    void cleanup() { qunsetenv("VORLANDT_TRACKING_PORT"); }

    void consentDialogShowsTheLetterAndTwoUnselectedChoices()
    {
        TfrmTrackingOkConfirmation form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Wir bitten um Ihre Mithilfe"));
        QCOMPARE(form.size(), QSize(520, 502));
        QVERIFY(!(form.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(form.windowFlags() & Qt::WindowSystemMenuHint));
        QVERIFY(form.redtTrackingOk->isReadOnly());
        QCOMPARE(form.redtTrackingOk->toPlainText().split(u'\n'), ExpectedLetter());
        QCOMPARE(form.redtTrackingOk->geometry(), QRect(8, 8, 504, 382));
        QCOMPARE(form.rgDecision->title(), QStringLiteral(" "));
        QVERIFY(form.rgDecision->font().bold());
        QCOMPARE(form.rgDecisionItems.size(), 2);
        QCOMPARE(form.rgDecisionItems[0]->text(),
                 QStringLiteral("Ja, ich möchte helfen, die Software zu verbessern."));
        QCOMPARE(form.rgDecisionItems[1]->text(), QStringLiteral("Nein, ich möchte nicht helfen."));
        QCOMPARE(form.ItemIndex(), -1);
        // "OK", its access key marked.
        QCOMPARE(form.btnClose->text(), QStringLiteral("&OK"));
        QVERIFY(form.btnClose->isDefault());
        QCOMPARE(form.btnClose->geometry(), QRect(415, 469, 99, 25));
    }

    void consentDialogReturnsTheChoiceAtOk_data()
    {
        QTest::addColumn<TDialogScript>("script");
        QTest::addColumn<bool>("consent");
        QTest::addColumn<int>("messages");
        QTest::newRow("yes and OK") << TDialogScript([](auto* form, auto&) {
            form->rgDecisionItems[0]->click();
            form->btnClose->click();
        }) << true << 0;
        QTest::newRow("no and OK") << TDialogScript([](auto* form, auto&) {
            form->rgDecisionItems[1]->click();
            form->btnClose->click();
        }) << false << 0;
        QTest::newRow("yes, then no, then OK") << TDialogScript([](auto* form, auto&) {
            form->rgDecisionItems[0]->click();
            form->rgDecisionItems[1]->click();
            form->btnClose->click();
        }) << false << 0;
        QTest::newRow("Enter at once: asked to choose, dialog stays")
            << TDialogScript([](auto* form, auto& frontEnd) {
                   PressKey(form, Qt::Key_Return);
                   QCOMPARE(frontEnd.Messages(), QStringList{"Bitte wählen Sie eine der Antworten aus."});
                   QVERIFY(form->isVisible());
                   form->rgDecisionItems[0]->click();
                   PressKey(form, Qt::Key_Return);
               })
            << true << 1;
        QTest::newRow("Escape does nothing") << TDialogScript([](auto* form, auto&) {
            form->rgDecisionItems[0]->click();
            PressKey(form, Qt::Key_Escape);
            QVERIFY(form->isVisible());
            QVERIFY(!form->close());
            QVERIFY(form->isVisible());
            form->btnClose->click();
        }) << true << 0;
    }
    void consentDialogReturnsTheChoiceAtOk()
    {
        QFETCH(TDialogScript, script);
        QFETCH(bool, consent);
        QFETCH(int, messages);
        TConsentFrontEnd frontEnd;
        TScopedFrontEnd scope(frontEnd);
        TfrmTrackingOkConfirmation form;
        bool focusOnTheFirstAnswer = false;
        TModalAnswer answer([&](QWidget* modal) {
            QCOMPARE(modal, &form);
            // The keyboard starts at the question, with nothing chosen by the focus.
            focusOnTheFirstAnswer = form.focusWidget() == form.rgDecisionItems[0] && form.ItemIndex() == -1;
            script(&form, frontEnd);
            // A failed check inside the script leaves the dialog open: end it so the test reports.
            if (form.isVisible())
                form.done(0);
        });
        const bool result = form.TrackingOk();
        QVERIFY(!answer.WatchdogFired());
        QVERIFY(focusOnTheFirstAnswer);
        QCOMPARE(result, consent);
        QCOMPARE(frontEnd.Messages().size(), messages);
    }

    // The arrows choose as in any group of radio buttons, also while nothing is chosen yet, so
    // that Enter afterwards takes the answer the person sees.
    void consentArrowsChooseAnAnswer_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<bool>("consent");
        QTest::newRow("Down from yes: no") << QList<int>{Qt::Key_Down} << false;
        QTest::newRow("Down, Up: yes") << QList<int>{Qt::Key_Down, Qt::Key_Up} << true;
        QTest::newRow("Right, Right: yes again") << QList<int>{Qt::Key_Right, Qt::Key_Right} << true;
        QTest::newRow("Left: no") << QList<int>{Qt::Key_Left} << false;
    }
    void consentArrowsChooseAnAnswer()
    {
        QFETCH(QList<int>, keys);
        QFETCH(bool, consent);
        TConsentFrontEnd frontEnd;
        TScopedFrontEnd scope(frontEnd);
        TfrmTrackingOkConfirmation form;
        TModalAnswer answer([&](QWidget*) {
            // The dialog opens on the first answer, which is not chosen by getting the focus;
            // Shift+Tab reaches the letter before it.
            QCOMPARE(QApplication::focusWidget(), form.rgDecisionItems[0]);
            QCOMPARE(form.ItemIndex(), -1);
            PressKey(&form, Qt::Key_Backtab);
            QCOMPARE(QApplication::focusWidget(), form.redtTrackingOk);
            PressKey(&form, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), form.rgDecisionItems[0]);
            QCOMPARE(form.ItemIndex(), -1);
            for (const int key : keys)
                PressKey(&form, Qt::Key(key));
            QCOMPARE(QApplication::focusWidget(), form.rgDecisionItems[consent ? 0 : 1]);
            QCOMPARE(form.ItemIndex(), consent ? 0 : 1);
            PressKey(&form, Qt::Key_Return);
            if (form.isVisible())
                form.done(0);
        });
        QCOMPARE(form.TrackingOk(), consent);
        QVERIFY(!answer.WatchdogFired());
        QVERIFY(frontEnd.Messages().isEmpty());
    }

    // Named for screen readers, and never out of sight: modal, no button to minimise it, and
    // restored should a window manager minimise it anyway.
    void consentDialogIsNamedAndStaysOnTheScreen()
    {
        TfrmTrackingOkConfirmation form;
        QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
        QCOMPARE(form.windowModality(), Qt::ApplicationModal);
        QAccessibleInterface* group = QAccessible::queryAccessibleInterface(form.rgDecision);
        QVERIFY(!group->text(QAccessible::Name).trimmed().isEmpty());
        QAccessibleInterface* letter = QAccessible::queryAccessibleInterface(form.redtTrackingOk);
        QVERIFY(!letter->text(QAccessible::Name).trimmed().isEmpty());
        QVERIFY(form.redtTrackingOk->focusPolicy() & Qt::TabFocus);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.setWindowState(Qt::WindowMinimized);
        QVERIFY(!(form.windowState() & Qt::WindowMinimized));
        form.done(0);
    }

    void consentDialogScreenshot()
    {
        const QByteArray folder = qgetenv("VORLANDT_SCREENSHOT_DIR");
        if (folder.isEmpty())
            QSKIP("VORLANDT_SCREENSHOT_DIR names the folder for screenshots");
        TfrmTrackingOkConfirmation form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(QDir().mkpath(QString::fromLocal8Bit(folder)));
        QVERIFY(
            form.grab().save(QDir(QString::fromLocal8Bit(folder)).filePath(QStringLiteral("consent.png"))));
        // With the keyboard's focus on the letter.
        form.activateWindow();
        if (QTest::qWaitForWindowActive(&form)) {
            form.redtTrackingOk->setFocus(Qt::TabFocusReason);
            QTest::qWait(50);
            QVERIFY(form.grab().save(
                QDir(QString::fromLocal8Bit(folder)).filePath(QStringLiteral("consent-letter.png"))));
        }
    }

    void captionOnlyForButtonsAndLabels_data()
    {
        QTest::addColumn<QWidget*>("control");
        QTest::addColumn<QString>("caption");
        QTest::newRow("push button") << static_cast<QWidget*>(new QPushButton(QStringLiteral("&Start")))
                                     << "&Start";
        QTest::newRow("tool button") << static_cast<QWidget*>([] {
            auto* button = new QToolButton;
            button->setText(QStringLiteral("Schließen"));
            return button;
        }()) << "Schließen";
        QTest::newRow("label") << static_cast<QWidget*>(new QLabel(QStringLiteral("Hinweis"))) << "Hinweis";
        QTest::newRow("text box") << static_cast<QWidget*>(new QLineEdit(QStringLiteral("Text")))
                                  << "no caption";
        QTest::newRow("check box") << static_cast<QWidget*>(new QCheckBox(QStringLiteral("Aktiv")))
                                   << "no caption";
    }
    void captionOnlyForButtonsAndLabels()
    {
        QFETCH(QWidget*, control);
        QFETCH(QString, caption);
        const std::unique_ptr<QWidget> owner(control);
        QCOMPARE(GetControlCaption(control), caption);
    }

    void clickIsOneEventWithControlFormAndPosition_data()
    {
        QTest::addColumn<QPoint>("point");  // in the form's client area
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::newRow("form background") << QPoint(10, 10) << "frmTest"
                                         << "no caption";
        QTest::newRow("button inside a panel") << QPoint(80, 190) << "btnStart"
                                               << "Start";
        QTest::newRow("panel") << QPoint(300, 240) << "pnlUnten"
                               << "no caption";
        QTest::newRow("text box") << QPoint(60, 30) << "edtSuche"
                                  << "no caption";
        QTest::newRow("label: the form behind it") << QPoint(60, 65) << "frmTest"
                                                   << "no caption";
        QTest::newRow("memo, not its viewport") << QPoint(300, 60) << "memNotiz"
                                                << "no caption";
    }
    void clickIsOneEventWithControlFormAndPosition()
    {
        QFETCH(QPoint, point);
        QFETCH(QString, name);
        QFETCH(QString, caption);
        TTestForm form;
        ShowForm(form);
        THookRecorder recorder;
        QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, point);
        QCOMPARE(recorder.Events.size(), size_t(1));
        const TRecorded& event = recorder.Events.front();
        QCOMPARE(event.Kind, QStringLiteral("mouse"));
        QCOMPARE(event.Type, TEventType::etMouseLeftDown);
        QCOMPARE(event.Name, name);
        QCOMPARE(event.Caption, caption);
        QCOMPARE(event.Form, QStringLiteral("frmTest"));
        QCOMPARE(event.Position, point);
    }

    void buttonsAndWheelDirectionsMakeTheirEvents_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QList<TEventType>>("expected");
        QTest::newRow("right click") << "right" << QList<TEventType>{TEventType::etMouseRightDown};
        QTest::newRow("middle click") << "middle" << QList<TEventType>{};
        QTest::newRow("double click")
            << "double" << QList<TEventType>{TEventType::etMouseLeftDown, TEventType::etMouseLeftDouble};
        QTest::newRow("right double click")
            << "rightdouble" << QList<TEventType>{TEventType::etMouseRightDown};
        QTest::newRow("horizontal wheel") << "wheel-x" << QList<TEventType>{TEventType::etMouseWheel};
        QTest::newRow("vertical wheel") << "wheel-y" << QList<TEventType>{};
        QTest::newRow("diagonal wheel") << "wheel-xy" << QList<TEventType>{};
    }
    void buttonsAndWheelDirectionsMakeTheirEvents()
    {
        QFETCH(QString, input);
        QFETCH(QList<TEventType>, expected);
        TTestForm form;
        ShowForm(form);
        THookRecorder recorder;
        QWindow* window = form.windowHandle();
        const QPoint point(80, 190);
        const auto wheel = [&](QPoint angle) {
            QWheelEvent event(point, form.mapToGlobal(point), QPoint(), angle, Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(window, &event);
            QApplication::processEvents();
        };
        if (input == QLatin1String("right"))
            QTest::mouseClick(window, Qt::RightButton, {}, point);
        else if (input == QLatin1String("middle"))
            QTest::mouseClick(window, Qt::MiddleButton, {}, point);
        else if (input == QLatin1String("double"))
            QTest::mouseDClick(window, Qt::LeftButton, {}, point);
        else if (input == QLatin1String("rightdouble"))
            QTest::mouseDClick(window, Qt::RightButton, {}, point);
        else if (input == QLatin1String("wheel-x"))
            wheel(QPoint(120, 0));
        else if (input == QLatin1String("wheel-y"))
            wheel(QPoint(0, -120));
        else
            wheel(QPoint(120, 120));
        QList<TEventType> types;
        for (const TRecorded& event : recorder.Events)
            types << event.Type;
        QCOMPARE(types, expected);
    }

    void keyPressIsOneEventForTheFocusedControl()
    {
        TTestForm form;
        ShowForm(form);
        form.activateWindow();
        form.memNotiz->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), form.memNotiz);
        THookRecorder recorder;
        QTest::keyClick(form.windowHandle(), 'a');
        QTest::keyClick(form.windowHandle(), Qt::Key_Return);
        QCOMPARE(recorder.Events.size(), size_t(2));
        for (const TRecorded& event : recorder.Events) {
            QCOMPARE(event.Kind, QStringLiteral("keyboard"));
            QCOMPARE(event.Type, TEventType::etKeyboardKeyPress);
            QCOMPARE(event.Name, QStringLiteral("memNotiz"));
            QCOMPARE(event.Caption, QStringLiteral("no caption"));
            QCOMPARE(event.Form, QStringLiteral("frmTest"));
        }
    }

    void installingAHookReplacesTheOther()
    {
        TTestForm form;
        ShowForm(form);
        THookRecorder first;
        THookRecorder second;
        QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(first.Events.size(), size_t(0));
        QCOMPARE(second.Events.size(), size_t(1));
        second.FHook.Remove();
        QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(second.Events.size(), size_t(1));
    }

    void clickTypingAndClickReachTheServerAsThreeEvents()
    {
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Standardeinstellungen, SettingsKeys::TrackingOk,
                       true);
        TTrackingServerProcess server(FStores.FilePath(QStringLiteral("calls.db")));
        QVERIFY(server.Start(101));
        qputenv("VORLANDT_TRACKING_PORT", QByteArray::number(server.Port()));
        {
            TTestForm form;
            ShowForm(form);
            form.activateWindow();
            TTracker tracker(QString(), std::make_unique<TAppMessageHook>());
            tracker.Start();
            QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, QPoint(60, 30));
            QTRY_COMPARE(QApplication::focusWidget(), form.edtSuche);
            for (const char letter : QByteArrayLiteral("abcdefghij")) {
                QTest::keyClick(form.windowHandle(), letter);
                // However the ticks fall between the letters.
                if (letter == 'c' || letter == 'g')
                    tracker.SendEvents();
            }
            QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, QPoint(80, 190));
            tracker.Stop();
            // The letters went into the text box, at the place clicked.
            QCOMPARE(form.edtSuche->text(), QStringLiteral("Habcdefghijallo"));
        }
        QCOMPARE(server.Summary(),
                 (QStringList{"GetTrackingProbability", "SendUserEvent:Tracker-Start", "SendMouseEvent",
                              "SendKeyboardEvent", "SendMouseEvent", "SendUserEvent:Tracker-Ende"}));
        const QList<TStoredCall> calls = server.Calls();
        QCOMPARE(calls[2].Params.at(5).toString(), QStringLiteral("edtSuche"));
        QCOMPARE(calls[3].Params.at(5).toString(), QStringLiteral("edtSuche"));
        QCOMPARE(calls[4].Params.at(5).toString(), QStringLiteral("btnStart"));
        QCOMPARE(calls[4].Params.at(8).toInt(), 80);
        QCOMPARE(calls[4].Params.at(9).toInt(), 190);
    }
};

QTEST_MAIN(TestTrackingWidgets)
#include "tst_trackingWidgets.moc"
