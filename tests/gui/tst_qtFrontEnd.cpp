// The Qt message boxes: caption, icon and buttons of every type and button set, the code each way
// of closing a box returns, the text as shown, where the box appears, and how documents and
// addresses reach the desktop.
#include "gui/QtFrontEnd.h"
#include "support/ModalAnswer.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProxyStyle>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <memory>

Q_DECLARE_METATYPE(TMsgDlgType)
Q_DECLARE_METATYPE(TMsgDlgButtons)
Q_DECLARE_METATYPE(QDialogButtonBox::ButtonLayout)

namespace {

QAbstractButton* ButtonWithCaption(QMessageBox* box, const QString& caption)
{
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == caption) {
            return button;
        }
    }
    return nullptr;
}

QStringList SortedCaptions(QMessageBox* box)
{
    QStringList captions;
    for (QAbstractButton* button : box->buttons()) {
        captions << button->text();
    }
    captions.sort();
    return captions;
}

QString CaptionOf(QAbstractButton* button)
{
    return button != nullptr ? button->text() : QString();
}

// A style that lays out dialog buttons in the order of one desktop's conventions.
class TButtonLayoutStyle : public QProxyStyle {
public:
    explicit TButtonLayoutStyle(QDialogButtonBox::ButtonLayout layout) : FLayout(layout) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_DialogButtonLayout)
            return FLayout;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

private:
    QDialogButtonBox::ButtonLayout FLayout;
};

// The button captions as the person reads them on the screen, left to right.
QStringList CaptionsLeftToRight(QMessageBox* box)
{
    QList<QAbstractButton*> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
        return a->mapToGlobal(QPoint(0, 0)).x() < b->mapToGlobal(QPoint(0, 0)).x();
    });
    QStringList captions;
    for (QAbstractButton* button : buttons)
        captions << button->text();
    return captions;
}

// The way a box is closed: a button, a key, or the window's close button.
enum class TCloseBy { Button, EscapeKey, ReturnKey, WindowCloseButton };

}  // namespace

Q_DECLARE_METATYPE(TCloseBy)

// Receives what QDesktopServices would hand to the desktop.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Urls;
public slots:
    void Open(const QUrl& url) { Urls << url; }
};

class TestQtFrontEnd : public QObject {
    Q_OBJECT

private slots:
    void boxShowsCaptionIconAndButtonsOfItsTypeAndSet_data()
    {
        QTest::addColumn<TMsgDlgType>("type");
        QTest::addColumn<TMsgDlgButtons>("buttons");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::addColumn<QStringList>("buttonCaptions");
        QTest::addColumn<QString>("defaultCaption");
        QTest::addColumn<QString>("escapeCaption");

        struct TTypeRow {
            TMsgDlgType type;
            QString caption;
            QMessageBox::Icon icon;
        };
        const TTypeRow types[] = {
            {TMsgDlgType::mtWarning, QStringLiteral("Warnung"), QMessageBox::Warning},
            {TMsgDlgType::mtError, QStringLiteral("Fehler"), QMessageBox::Critical},
            {TMsgDlgType::mtInformation, QStringLiteral("Informationen"), QMessageBox::Information},
            {TMsgDlgType::mtConfirmation, QStringLiteral("Bestätigen"), QMessageBox::Question},
        };
        struct TSetRow {
            TMsgDlgButtons buttons;
            const char* name;
            QStringList captions;
            QString defaultCaption;
            QString escapeCaption;
        };
        const TSetRow sets[] = {
            {TMsgDlgButtons::mbOK,
             "OK",
             {QStringLiteral("&OK")},
             QStringLiteral("&OK"),
             QStringLiteral("&OK")},
            {TMsgDlgButtons::mbAbortRetry,
             "Abort/Retry",
             {QStringLiteral("&Abbrechen"), QStringLiteral("&Wiederholen")},
             QStringLiteral("&Wiederholen"),
             QString()},
            {TMsgDlgButtons::mbYesNo,
             "Yes/No",
             {QStringLiteral("&Ja"), QStringLiteral("&Nein")},
             QStringLiteral("&Ja"),
             QStringLiteral("&Nein")},
        };
        for (const TTypeRow& t : types) {
            for (const TSetRow& s : sets) {
                QTest::addRow("%s, %s", qPrintable(t.caption), s.name)
                    << t.type << s.buttons << t.caption << t.icon << s.captions << s.defaultCaption
                    << s.escapeCaption;
            }
        }
    }

    void boxShowsCaptionIconAndButtonsOfItsTypeAndSet()
    {
        QFETCH(TMsgDlgType, type);
        QFETCH(TMsgDlgButtons, buttons);
        QFETCH(QString, caption);
        QFETCH(QMessageBox::Icon, icon);
        QFETCH(QStringList, buttonCaptions);
        QFETCH(QString, defaultCaption);
        QFETCH(QString, escapeCaption);

        TQtFrontEnd frontEnd;
        std::unique_ptr<TMessageBox> box =
            frontEnd.CreateMessageBox(QStringLiteral("Text"), type, buttons, 42);
        QCOMPARE(box->windowTitle(), caption);
        QCOMPARE(box->icon(), icon);
        QCOMPARE(SortedCaptions(box.get()), buttonCaptions);
        QCOMPARE(CaptionOf(box->defaultButton()), defaultCaption);
        QCOMPARE(CaptionOf(box->escapeButton()), escapeCaption);
        QCOMPARE(box->property("helpContext").toInt(), 42);
    }

    void boxAnswersWithCodeOfWhatClosedIt_data()
    {
        QTest::addColumn<TMsgDlgType>("type");
        QTest::addColumn<TMsgDlgButtons>("buttons");
        QTest::addColumn<TCloseBy>("closeBy");
        QTest::addColumn<QString>("buttonCaption");
        QTest::addColumn<bool>("openAfterIt");
        QTest::addColumn<int>("code");

        const auto ok = TMsgDlgButtons::mbOK;
        const auto abortRetry = TMsgDlgButtons::mbAbortRetry;
        const auto yesNo = TMsgDlgButtons::mbYesNo;
        const QString none;
        QTest::newRow("OK: button") << TMsgDlgType::mtError << ok << TCloseBy::Button << "&OK" << false << 1;
        QTest::newRow("OK: Escape") << TMsgDlgType::mtWarning << ok << TCloseBy::EscapeKey << none << false
                                    << 1;
        QTest::newRow("OK: Return") << TMsgDlgType::mtInformation << ok << TCloseBy::ReturnKey << none
                                    << false << 1;
        QTest::newRow("OK: close button")
            << TMsgDlgType::mtError << ok << TCloseBy::WindowCloseButton << none << false << 2;
        QTest::newRow("Abort/Retry: Abbrechen")
            << TMsgDlgType::mtWarning << abortRetry << TCloseBy::Button << "&Abbrechen" << false << 3;
        QTest::newRow("Abort/Retry: Wiederholen")
            << TMsgDlgType::mtWarning << abortRetry << TCloseBy::Button << "&Wiederholen" << false << 4;
        // Escape does nothing here; the box is then closed with its close button.
        QTest::newRow("Abort/Retry: Escape has no effect")
            << TMsgDlgType::mtWarning << abortRetry << TCloseBy::EscapeKey << none << true << 2;
        QTest::newRow("Abort/Retry: Return")
            << TMsgDlgType::mtError << abortRetry << TCloseBy::ReturnKey << none << false << 4;
        QTest::newRow("Abort/Retry: close button")
            << TMsgDlgType::mtWarning << abortRetry << TCloseBy::WindowCloseButton << none << false << 2;
        QTest::newRow("Yes/No: Ja") << TMsgDlgType::mtConfirmation << yesNo << TCloseBy::Button << "&Ja"
                                    << false << 6;
        QTest::newRow("Yes/No: Nein")
            << TMsgDlgType::mtConfirmation << yesNo << TCloseBy::Button << "&Nein" << false << 7;
        QTest::newRow("Yes/No: Escape")
            << TMsgDlgType::mtConfirmation << yesNo << TCloseBy::EscapeKey << none << false << 7;
        QTest::newRow("Yes/No: Return")
            << TMsgDlgType::mtInformation << yesNo << TCloseBy::ReturnKey << none << false << 6;
        QTest::newRow("Yes/No: close button")
            << TMsgDlgType::mtConfirmation << yesNo << TCloseBy::WindowCloseButton << none << false << 2;
    }

    void boxAnswersWithCodeOfWhatClosedIt()
    {
        QFETCH(TMsgDlgType, type);
        QFETCH(TMsgDlgButtons, buttons);
        QFETCH(TCloseBy, closeBy);
        QFETCH(QString, buttonCaption);
        QFETCH(bool, openAfterIt);
        QFETCH(int, code);

        bool stillOpen = false;
        bool wasMessageBox = false;
        TModalAnswer answer([&](QWidget* modal) {
            auto* box = qobject_cast<TMessageBox*>(modal);
            wasMessageBox = box != nullptr;
            if (box == nullptr) {
                return;
            }
            switch (closeBy) {
                case TCloseBy::Button:
                    QTest::mouseClick(ButtonWithCaption(box, buttonCaption), Qt::LeftButton);
                    break;
                case TCloseBy::EscapeKey:
                    QTest::keyClick(box, Qt::Key_Escape);
                    break;
                case TCloseBy::ReturnKey:
                    QTest::keyClick(box, Qt::Key_Return);
                    break;
                case TCloseBy::WindowCloseButton:
                    // Takes the same way as the window manager's close request.
                    box->windowHandle()->close();
                    break;
            }
            stillOpen = box->isVisible();
            if (stillOpen) {
                box->windowHandle()->close();
            }
        });
        TQtFrontEnd frontEnd;
        const int result = frontEnd.MessageDialog(QStringLiteral("Weiter?"), type, buttons, 0);

        QVERIFY(!answer.WatchdogFired());
        QVERIFY(wasMessageBox);
        QCOMPARE(stillOpen, openAfterIt);
        QCOMPARE(result, code);
    }

    void boxShowsTextAsWritten_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");

        QTest::newRow("doubled ampersand in a display name") << "Vorlandt-Lohn&&Gehalt ist noch geöffnet."
                                                             << "Vorlandt-Lohn&Gehalt ist noch geöffnet.";
        QTest::newRow("single ampersand stays") << "a=1&b=2"
                                                << "a=1&b=2";
        QTest::newRow("four ampersands become two") << "x&&&&y"
                                                    << "x&&y";
        QTest::newRow("markup is not interpreted") << "<b>Fehler</b> in <update_1_6.xml>"
                                                   << "<b>Fehler</b> in <update_1_6.xml>";
        QTest::newRow("every kind of line end breaks once") << "eins\r\nzwei\n\rdrei\rvier\nfünf"
                                                            << "eins\nzwei\ndrei\nvier\nfünf";
        QTest::newRow("empty lines survive") << "oben\r\n\r\nunten"
                                             << "oben\n\nunten";
    }

    void boxShowsTextAsWritten()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);

        TQtFrontEnd frontEnd;
        std::unique_ptr<TMessageBox> box =
            frontEnd.CreateMessageBox(text, TMsgDlgType::mtWarning, TMsgDlgButtons::mbOK, 0);
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QCOMPARE(box->text(), shown);
    }

    void boxIsCentredOverVisibleMainWindowElseOnScreen_data()
    {
        QTest::addColumn<QString>("mainWindowState");
        QTest::addColumn<bool>("overMainWindow");

        QTest::newRow("no main window") << "none" << false;
        QTest::newRow("visible main window") << "visible" << true;
        QTest::newRow("hidden main window (tray, autostart)") << "hidden" << false;
        QTest::newRow("minimised main window") << "minimised" << false;
    }

    void boxIsCentredOverVisibleMainWindowElseOnScreen()
    {
        QFETCH(QString, mainWindowState);
        QFETCH(bool, overMainWindow);

        // Off the screen's centre, so that both centres can be told apart.
        QWidget mainWindow;
        mainWindow.setGeometry(20, 30, 500, 400);
        TQtFrontEnd frontEnd;
        if (mainWindowState != QLatin1String("none")) {
            frontEnd.setMainWindow(&mainWindow);
        }
        if (mainWindowState == QLatin1String("visible")) {
            mainWindow.show();
            QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
        } else if (mainWindowState == QLatin1String("minimised")) {
            mainWindow.showMinimized();
        }
        const QPoint expected = overMainWindow
                                    ? mainWindow.frameGeometry().center()
                                    : QGuiApplication::primaryScreen()->availableGeometry().center();

        QPoint centre;
        TModalAnswer answer([&](QWidget* modal) {
            centre = modal->frameGeometry().center();
            modal->close();
        });
        frontEnd.MessageDialog(QStringLiteral("Es laufen noch Anwendungen: Vorlandt-Lohn&&Gehalt.\r\nSollen "
                                              "die Updates trotzdem installiert werden?"),
                               TMsgDlgType::mtConfirmation, TMsgDlgButtons::mbYesNo, 0);

        QVERIFY(!answer.WatchdogFired());
        QVERIFY2((centre - expected).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("centre (%1, %2), expected (%3, %4)")
                                .arg(centre.x())
                                .arg(centre.y())
                                .arg(expected.x())
                                .arg(expected.y())));
    }

    void boxStaysOnScreenNearScreenEdges_data()
    {
        QTest::addColumn<QRect>("over");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("position");

        const QRect screen(0, 0, 800, 600);
        QTest::newRow("main window in the middle") << QRect(200, 100, 400, 300) << screen << QPoint(250, 200);
        QTest::newRow("no main window: middle of the screen") << QRect() << screen << QPoint(250, 250);
        QTest::newRow("main window in the bottom right corner")
            << QRect(700, 500, 200, 100) << screen << QPoint(500, 500);
        QTest::newRow("main window half off the left edge")
            << QRect(-300, 10, 400, 300) << screen << QPoint(0, 110);
        QTest::newRow("screen smaller than the box keeps its corner")
            << QRect() << QRect(0, 0, 200, 80) << QPoint(0, 0);
    }

    void boxStaysOnScreenNearScreenEdges()
    {
        QFETCH(QRect, over);
        QFETCH(QRect, available);
        QFETCH(QPoint, position);

        QCOMPARE(TMessageBox::CentredPosition(over, available, QSize(300, 100)), position);
    }

    void mainWindowDestroyedWhileBoxIsOpenCountsAsClosed()
    {
        auto mainWindow = std::make_unique<QWidget>();
        mainWindow->setGeometry(20, 30, 500, 400);
        mainWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(mainWindow.get()));
        TQtFrontEnd frontEnd;
        frontEnd.setMainWindow(mainWindow.get());

        TModalAnswer answer([&](QWidget*) { mainWindow.reset(); });
        const int result = frontEnd.MessageDialog(QStringLiteral("Weiter?"), TMsgDlgType::mtConfirmation,
                                                  TMsgDlgButtons::mbYesNo, 0);

        QVERIFY(!answer.WatchdogFired());
        QCOMPARE(result, mrCancel);
        QCOMPARE(frontEnd.mainWindow(), nullptr);
    }

    void boxAskedForByWorkerThreadIsShownAndAnswered()
    {
        TQtFrontEnd frontEnd;
        int result = 0;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            result = frontEnd.MessageDialog(QStringLiteral("Weiter?"), TMsgDlgType::mtConfirmation,
                                            TMsgDlgButtons::mbYesNo, 0);
        }));
        bool shownOnUserInterfaceThread = false;
        TModalAnswer answer([&](QWidget* modal) {
            shownOnUserInterfaceThread = modal->thread() == QThread::currentThread();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                ButtonWithCaption(box, QStringLiteral("&Nein"))->click();
            }
        });
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 30000);

        QVERIFY(!answer.WatchdogFired());
        QVERIFY(shownOnUserInterfaceThread);
        QCOMPARE(result, mrNo);
    }

    // Whatever order the desktop gives accept and reject buttons, the boxes keep the program's.
    void buttonsStandInTheProgramsOrderOnEveryDesktop_data()
    {
        QTest::addColumn<QDialogButtonBox::ButtonLayout>("layout");
        QTest::addColumn<TMsgDlgButtons>("buttons");
        QTest::addColumn<QStringList>("leftToRight");
        const std::pair<const char*, QDialogButtonBox::ButtonLayout> layouts[] = {
            {"Windows", QDialogButtonBox::WinLayout},
            {"macOS", QDialogButtonBox::MacLayout},
            {"KDE", QDialogButtonBox::KdeLayout},
            {"GNOME", QDialogButtonBox::GnomeLayout},
        };
        for (const auto& [name, layout] : layouts) {
            QTest::addRow("%s, Abort/Retry", name)
                << layout << TMsgDlgButtons::mbAbortRetry
                << QStringList{QStringLiteral("&Abbrechen"), QStringLiteral("&Wiederholen")};
            QTest::addRow("%s, Yes/No", name) << layout << TMsgDlgButtons::mbYesNo
                                              << QStringList{QStringLiteral("&Ja"), QStringLiteral("&Nein")};
        }
    }

    void buttonsStandInTheProgramsOrderOnEveryDesktop()
    {
        QFETCH(QDialogButtonBox::ButtonLayout, layout);
        QFETCH(TMsgDlgButtons, buttons);
        QFETCH(QStringList, leftToRight);
        TButtonLayoutStyle style(layout);  // outlives the box
        TMessageBox box(QStringLiteral("Die folgenden Module sind zur Zeit aktiv:"), TMsgDlgType::mtWarning,
                        buttons, 0);
        box.setStyle(&style);
        for (QWidget* child : box.findChildren<QWidget*>())
            child->setStyle(&style);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QCOMPARE(CaptionsLeftToRight(&box), leftToRight);
    }

    // The hourglass of a fetch covers the program's windows; each End gives back what its Begin
    // replaced, and an End too many leaves a cursor somebody else set alone.
    void waitCursorNestsAndRestoresThePreviousCursor()
    {
        const auto shape = []() -> std::optional<Qt::CursorShape> {
            const QCursor* cursor = QGuiApplication::overrideCursor();
            return cursor != nullptr ? std::optional(cursor->shape()) : std::nullopt;
        };
        QCOMPARE(shape(), std::nullopt);
        TQtFrontEnd frontEnd;
        frontEnd.BeginWaitCursor();
        QCOMPARE(shape(), Qt::WaitCursor);
        frontEnd.EndWaitCursor();
        QCOMPARE(shape(), std::nullopt);

        QGuiApplication::setOverrideCursor(Qt::PointingHandCursor);
        const auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
        frontEnd.BeginWaitCursor();
        frontEnd.BeginWaitCursor();
        frontEnd.EndWaitCursor();
        QCOMPARE(shape(), Qt::WaitCursor);
        frontEnd.EndWaitCursor();
        QCOMPARE(shape(), Qt::PointingHandCursor);
        frontEnd.EndWaitCursor();
        QCOMPARE(shape(), Qt::PointingHandCursor);
    }

    void documentsAndAddressesReachTheDesktop_data()
    {
        QTest::addColumn<QString>("fileOrUrl");
        QTest::addColumn<QString>("relativeFile");  // created in the current folder first
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("scheme");

        QTest::newRow("absolute path with blank and hash")
            << "/opt/vorlandt/Handbuch Version#2.pdf" << QString() << true << "file";
        QTest::newRow("existing file in the current folder")
            << "Lizenz.rtf" << QStringLiteral("Lizenz.rtf") << true << "file";
        QTest::newRow("address with query")
            << "http://127.0.0.1:8080/news?id=3&lang=de" << QString() << true << "http";
        QTest::newRow("empty") << "" << QString() << false << QString();
        QTest::newRow("blanks only") << "   " << QString() << false << QString();
    }

    void documentsAndAddressesReachTheDesktop()
    {
        QFETCH(QString, fileOrUrl);
        QFETCH(QString, relativeFile);
        QFETCH(bool, opened);
        QFETCH(QString, scheme);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString previousFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const auto restoreFolder = qScopeGuard([&] { QDir::setCurrent(previousFolder); });
        QString expectedLocalFile = fileOrUrl;
        if (!relativeFile.isEmpty()) {
            QFile file(dir.filePath(relativeFile));
            QVERIFY(file.open(QIODevice::WriteOnly));
            expectedLocalFile = QFileInfo(file).absoluteFilePath();
        }

        // Nothing may reach a real desktop handler (xdg-open) from a test.
        TUrlCatcher catcher;
        for (const char* caught : {"file", "http", "https"}) {
            QDesktopServices::setUrlHandler(QString::fromLatin1(caught), &catcher, "Open");
        }
        const auto removeHandlers = qScopeGuard([] {
            for (const char* caught : {"file", "http", "https"}) {
                QDesktopServices::unsetUrlHandler(QString::fromLatin1(caught));
            }
        });

        TQtFrontEnd frontEnd;
        QCOMPARE(frontEnd.OpenDocument(fileOrUrl), opened);
        if (!opened) {
            QVERIFY(catcher.Urls.isEmpty());
            return;
        }
        QCOMPARE(catcher.Urls.size(), 1);
        const QUrl url = catcher.Urls.first();
        QCOMPARE(url.scheme(), scheme);
        if (scheme == QLatin1String("file")) {
            QCOMPARE(url.toLocalFile(), expectedLocalFile);
        } else {
            QCOMPARE(url.toString(), fileOrUrl);
        }
    }
};

QTEST_MAIN(TestQtFrontEnd)
#include "tst_qtFrontEnd.moc"
