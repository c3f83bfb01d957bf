// The notification dialog on the screen: its panels and entries, the description of the entry
// under the pointer, its results, the wheel over the list and the links it opens.
#include "support/UpdateListWorld.h"

#include "gui/OpenAddress.h"
#include "gui/TrackingControls.h"
#include "gui/UpdateBenachrichtigung.h"
#include "support/FrontEndFixture.h"
#include "support/ModalAnswer.h"
#include "support/ScriptedFrontEnd.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QEnterEvent>
#include <QFrame>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QWheelEvent>

#include <memory>

namespace {

QString Rtf(const QString& text)
{
    return QStringLiteral(
               "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Tahoma;}}\\pard{\\b %1}\\par\n"
               "Details unter {\\field{\\*\\fldinst{HYPERLINK \"https://www.vorlandt.example/\"}}"
               "{\\fldrslt Vorlandt}}\\par\n}")
        .arg(text);
}

// The panels as "caption: entry, entry".
QStringList Describe(const TfrmUpdateBenachrichtigung& dialog)
{
    QStringList result;
    for (const TCategoryPanel* panel : dialog.Panels()) {
        QStringList texts;
        for (const TUpdateLabel* label : panel->Entries())
            texts << label->text();
        result << panel->Caption() + QStringLiteral(": ") + texts.join(QStringLiteral(", "));
    }
    return result;
}

enum class TPointer { Enter, Move };

void PointAt(TUpdateLabel* label, TPointer how)
{
    const QPointF local(3, 3);
    const QPointF global = label->mapToGlobal(local);
    if (how == TPointer::Enter) {
        QEnterEvent enter(local, local, global);
        QApplication::sendEvent(label, &enter);
    } else {
        QMouseEvent move(QEvent::MouseMove, local, global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(label, &move);
    }
}

}  // namespace

Q_DECLARE_METATYPE(TPointer)

class TestFrmUpdateBenachrichtigung : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TUpdateListWorld> FWorld;
    std::unique_ptr<TFrontEndFixture> FFrontEnd;
    std::unique_ptr<TfrmUpdateBenachrichtigung> FDialog;

    // Two modules named "Vorlandt Kasse" side by side, then "Vorlandt Lager".
    void AddThreeModules()
    {
        FWorld->Add(QStringLiteral("Vorlandt Kasse"), 10, 5, 2, 10, Rtf(QStringLiteral("Kasse 5.2.10")));
        FWorld->Add(QStringLiteral("Vorlandt Kasse"), 10, 5, 2, 9, Rtf(QStringLiteral("Kasse 5.2.9")));
        FWorld->Add(QStringLiteral("Vorlandt Kasse"), 11, 2, 0, 1, Rtf(QStringLiteral("Kassenbuch 2.0.1")));
        FWorld->Add(QStringLiteral("Vorlandt Lager"), 12, 3, 1, 0, Rtf(QStringLiteral("Lager 3.1.0")),
                    QStringLiteral("https://www.vorlandt.example/lizenz"));
    }

    TUpdateLabel* Entry(int panel, int entry) const
    {
        return FDialog->Panels().at(panel)->Entries().at(entry);
    }

private Q_SLOTS:
    void init()
    {
        FWorld = std::make_unique<TUpdateListWorld>();
        QVERIFY(FWorld->IsValid());
        FFrontEnd = std::make_unique<TFrontEndFixture>(TScriptCheck::None);
        FDialog = std::make_unique<TfrmUpdateBenachrichtigung>();
    }
    void cleanup()
    {
        FDialog.reset();
        FFrontEnd.reset();
        FWorld.reset();
    }

    void layoutAndCaptions()
    {
        QCOMPARE(FDialog->windowTitle(), QStringLiteral("Vorlandt Online-Updates"));
        QCOMPARE(FDialog->size(), QSize(723, 490));
        QCOMPARE(FDialog->minimumSize(), QSize(388, 390));
        // The captions with their access keys marked.
        QCOMPARE(FDialog->BitBtn1->text(), QStringLiteral("&Updates installieren"));
        QCOMPARE(FDialog->BitBtn2->text(), QStringLiteral("&Keine Updates durchführen"));
        QVERIFY(FDialog->BitBtn1->isDefault());
        // Reached with Tab and read with the keyboard, never edited.
        QCOMPARE(FDialog->reBeschreibung->focusPolicy(), Qt::StrongFocus);
        QVERIFY(FDialog->reBeschreibung->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
        QVERIFY(FDialog->reBeschreibung->isReadOnly());

        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        FDialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(FDialog.get()));
        QCOMPARE(FDialog->cpgUpdates->width(), 204);
        QCOMPARE(FDialog->cpgUpdates->geometry().topLeft(), QPoint(3, 3));
        QCOMPARE(FDialog->Panel3->height(), 36);
        QCOMPARE(FDialog->Panel1->height(), 490 - 36);
        QVERIFY(!FDialog->Panel2->isVisible());
        QCOMPARE(FDialog->BitBtn2->x() < FDialog->BitBtn1->x(), true);
        QCOMPARE(FDialog->BitBtn1->geometry().right() > 723 - 20, true);
    }

    void panelsGroupConsecutiveEqualDisplayNames()
    {
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        QCOMPARE(Describe(*FDialog),
                 (QStringList{"Vorlandt Kasse: Version 5.2.9, Version 5.2.10, Version 2.0.1",
                              "Vorlandt Lager: Version 3.1.0"}));
        FDialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(FDialog.get()));
        for (TCategoryPanel* panel : FDialog->Panels()) {
            QVERIFY(panel->Expanded());
            QVERIFY(panel->Body->isVisible());
            for (qsizetype i = 0; i < panel->Entries().size(); ++i) {
                QCOMPARE(panel->Entries()[i]->pos(), QPoint(20, 7 + 22 * int(i)));
                QVERIFY(panel->Body->rect().contains(panel->Entries()[i]->geometry()));
            }
        }
        // Panels follow each other from top to bottom in creation order.
        QVERIFY(FDialog->Panels()[0]->geometry().bottom() < FDialog->Panels()[1]->geometry().top());
    }

    void headerCollapsesAndExpandsItsPanel()
    {
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        FDialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(FDialog.get()));
        TCategoryPanel* panel = FDialog->Panels()[0];
        QTest::mouseClick(panel->Header, Qt::LeftButton);
        QVERIFY(!panel->Expanded());
        QVERIFY(!panel->Body->isVisible());
        QTest::mouseClick(panel->Header, Qt::LeftButton);
        QVERIFY(panel->Body->isVisible());
    }

    // The usage tracking sees a click on a header as one on its panel, which has no caption;
    // the header's text is the module's name, not the caption of a control.
    void headerClickIsTrackedAsItsPanel()
    {
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        FDialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(FDialog.get()));
        TCategoryPanel* panel = FDialog->Panels()[1];
        const QPoint onHeader = panel->Header->mapToGlobal(panel->Header->rect().center());
        const auto event = NewMouseTrackingEvent(FDialog.get(), onHeader, TEventType::etMouseLeftDown);
        QCOMPARE(event->ControlCaption(), NoCaption);
        QCOMPARE(event->ControlName(), panel->objectName());
        QCOMPARE(event->ParentFormName(), QStringLiteral("frmUpdateBenachrichtigung"));
        QCOMPARE(event->Position(), FDialog->mapFromGlobal(onHeader));
    }

    void hoveredEntryShowsItsDescription_data()
    {
        QTest::addColumn<TPointer>("how");
        QTest::newRow("pointer enters") << TPointer::Enter;
        QTest::newRow("pointer moves") << TPointer::Move;
    }
    void hoveredEntryShowsItsDescription()
    {
        QFETCH(TPointer, how);
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        FDialog->show();
        QVERIFY(FDialog->reBeschreibung->toPlainText().isEmpty());

        PointAt(Entry(0, 1), how);
        QVERIFY2(FDialog->reBeschreibung->toPlainText().startsWith(QStringLiteral("Kasse 5.2.10")),
                 qPrintable(FDialog->reBeschreibung->toPlainText()));
        // Shown formatted: the first line is bold.
        QVERIFY(
            FDialog->reBeschreibung->document()->firstBlock().begin().fragment().charFormat().fontWeight() >=
            QFont::Bold);
        QFile file(FWorld->DescriptionFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Kasse 5.2.10"));

        // The description stays after the pointer left, until another entry is passed over.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(Entry(0, 1), &leave);
        QVERIFY(FDialog->reBeschreibung->toPlainText().startsWith(QStringLiteral("Kasse 5.2.10")));
        PointAt(Entry(1, 0), how);
        QVERIFY(FDialog->reBeschreibung->toPlainText().startsWith(QStringLiteral("Lager 3.1.0")));
        QVERIFY(!FDialog->reBeschreibung->toPlainText().contains(QStringLiteral("Kasse")));
    }

    void initializeTwiceReplacesThePanels()
    {
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        PointAt(Entry(1, 0), TPointer::Enter);
        const QPointer<TCategoryPanel> oldPanel = FDialog->Panels()[0];

        TUpdateListWorld second;
        second.Add(QStringLiteral("Vorlandt Zeiterfassung"), 20, 1, 4, 0, Rtf(QStringLiteral("Zeit 1.4.0")));
        FDialog->Initialize(second.Updates);
        QVERIFY(oldPanel.isNull());
        QCOMPARE(Describe(*FDialog), QStringList{"Vorlandt Zeiterfassung: Version 1.4.0"});
        // The earlier description stays until an entry of the new list is passed over; tag 0
        // now names the new list's first update.
        QVERIFY(FDialog->reBeschreibung->toPlainText().startsWith(QStringLiteral("Lager 3.1.0")));
        PointAt(Entry(0, 0), TPointer::Move);
        QVERIFY(FDialog->reBeschreibung->toPlainText().startsWith(QStringLiteral("Zeit 1.4.0")));

        TUpdates empty;
        FDialog->Initialize(empty);
        QVERIFY(FDialog->Panels().isEmpty());
    }

    void results_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("result");
        QTest::newRow("Updates installieren") << QStringLiteral("install") << 1;
        QTest::newRow("Keine Updates durchführen") << QStringLiteral("decline") << 2;
        QTest::newRow("Escape") << QStringLiteral("escape") << 2;
        QTest::newRow("close box") << QStringLiteral("close") << 2;
    }
    void results()
    {
        QFETCH(QString, action);
        QFETCH(int, result);
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        QSignalSpy finished(FDialog.get(), &QDialog::finished);
        FDialog->open();
        QVERIFY(QTest::qWaitForWindowExposed(FDialog.get()));
        if (action == QLatin1String("install"))
            QTest::mouseClick(FDialog->BitBtn1, Qt::LeftButton);
        else if (action == QLatin1String("decline"))
            QTest::mouseClick(FDialog->BitBtn2, Qt::LeftButton);
        else if (action == QLatin1String("escape"))
            QTest::keyClick(FDialog.get(), Qt::Key_Escape);
        else
            QVERIFY(FDialog->close());
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), result);
        QVERIFY(!FDialog->isVisible());
    }

    void licenceCheckBoxTiesTheInstallButton()
    {
        QVERIFY(FDialog->BitBtn1->isEnabled());
        QVERIFY(!FDialog->CheckBox1->isChecked());
        FDialog->CheckBox1->click();
        QVERIFY(FDialog->BitBtn1->isEnabled());
        FDialog->CheckBox1->click();
        QVERIFY(!FDialog->BitBtn1->isEnabled());
    }

    void wheelScrollsTheListOnlyOverTheList()
    {
        for (int i = 0; i < 40; ++i)
            FWorld->Add(QStringLiteral("Vorlandt Modul %1").arg(i / 4), 1 + i / 4, 1, 0, 1 + i % 4,
                        Rtf(QStringLiteral("Update %1").arg(i)));
        FDialog->Initialize(FWorld->Updates);
        FDialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(FDialog.get()));
        QScrollBar* list = FDialog->cpgUpdates->verticalScrollBar();
        QVERIFY(list->maximum() > 0);

        // Qt hands a wheel event that did not come from the system to its receiver alone, so
        // the turn goes where an entry passes it on to: the list's viewport, under the entry.
        auto turn = [](QWidget* target, const QPointF& local, int delta) {
            QWheelEvent wheel(local, target->mapToGlobal(local), QPoint(), QPoint(0, delta), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(target, &wheel);
        };
        QWidget* description = FDialog->reBeschreibung->viewport();
        turn(description, QPointF(description->rect().center()), -120);
        QCOMPARE(list->value(), 0);
        QWidget* viewport = FDialog->cpgUpdates->viewport();
        const QPointF overEntry = Entry(0, 1)->mapTo(viewport, QPointF(3, 3));
        turn(viewport, overEntry, -120);
        QCOMPARE(list->value(), QApplication::wheelScrollLines() * 22);
        turn(viewport, overEntry, 120);
        QCOMPARE(list->value(), 0);
    }

    void onlyWebLinksOpen_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opens");
        QTest::newRow("https") << QStringLiteral("https://www.vorlandt.example/kasse") << true;
        QTest::newRow("local file") << QStringLiteral("file:///etc/passwd") << false;
        QTest::newRow("mail") << QStringLiteral("mailto:info@vorlandt.example") << false;
    }
    void onlyWebLinksOpen()
    {
        QFETCH(QString, address);
        QFETCH(bool, opens);
        FDialog->reBeschreibungURLClick(QUrl(address));
        QCOMPARE(FFrontEnd->OpenedDocuments(), opens ? QStringList{address} : QStringList{});
    }

    void licenceLinkOpensTheShownUpdatesAddress()
    {
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        FDialog->JvLabel1Click();
        PointAt(Entry(0, 0), TPointer::Enter);
        FDialog->JvLabel1Click();
        PointAt(Entry(1, 0), TPointer::Enter);
        FDialog->JvLabel1Click();
        QCOMPARE(FFrontEnd->OpenedDocuments(), QStringList{"https://www.vorlandt.example/lizenz"});
    }

    void unwritableDescriptionFileIsReportedOncePerEntry()
    {
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        FDialog->show();
        QVERIFY(QDir().mkpath(FWorld->DescriptionFile() + QStringLiteral("/inhalt")));
        FFrontEnd->Answer({1});
        PointAt(Entry(0, 0), TPointer::Enter);
        PointAt(Entry(0, 0), TPointer::Move);
        QCOMPARE(FFrontEnd->Messages().size(), 1);
        QCOMPARE(FFrontEnd->Messages()[0].type, TMsgDlgType::mtError);
        QVERIFY(FFrontEnd->Messages()[0].text.contains(QStringLiteral("VL_UpdateRTF.tmp")));
        QVERIFY(FDialog->isVisible());
        QVERIFY(FDialog->reBeschreibung->toPlainText().isEmpty());
    }

    // A person with the keyboard alone: the dialog opens with the first entry focused and its
    // description shown; the list is one stop of the Tab key, the arrows move through headers
    // and entries as in a tree, and the description follows the focused entry as it follows the
    // pointer.
    void keyboardReadsEveryEntrysDescription()
    {
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        FDialog->show();
        QVERIFY(QTest::qWaitForWindowActive(FDialog.get()));
        QCOMPARE(QApplication::focusWidget(), Entry(0, 0));
        QVERIFY(Entry(0, 0)->IsCurrent());
        QVERIFY(FDialog->reBeschreibung->toPlainText().startsWith(QStringLiteral("Kasse 5.2.9")));

        auto press = [this](Qt::Key key) { QTest::keyClick(FDialog->windowHandle(), key); };
        FDialog->BitBtn2->setFocus();
        press(Qt::Key_Tab);
        // Past the header, straight to the entry chosen.
        QCOMPARE(QApplication::focusWidget(), Entry(0, 0));

        const QList<std::pair<Qt::Key, QString>> steps{
            {Qt::Key_Down, QStringLiteral("Kasse 5.2.10")},
            {Qt::Key_Down, QStringLiteral("Kassenbuch 2.0.1")},
            {Qt::Key_Down, QStringLiteral("Kassenbuch 2.0.1")},
            {Qt::Key_Down, QStringLiteral("Lager 3.1.0")},
            {Qt::Key_Up, QStringLiteral("Lager 3.1.0")},
            {Qt::Key_Up, QStringLiteral("Kassenbuch 2.0.1")},
        };
        for (const auto& [key, description] : steps) {
            press(key);
            QVERIFY2(FDialog->reBeschreibung->toPlainText().startsWith(description),
                     qPrintable(FDialog->reBeschreibung->toPlainText()));
        }
        // The second Down went to the next panel's header, whose Up comes back here.
        QCOMPARE(QApplication::focusWidget(), Entry(0, 2));
        QVERIFY(Entry(0, 2)->IsCurrent());
        QVERIFY(!Entry(0, 0)->IsCurrent());

        // One Tab leaves the list for the description; backwards the description first goes
        // through its links, then back to where the list was left.
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), FDialog->reBeschreibung);
        QVERIFY(FDialog->reBeschreibung->toPlainText().startsWith(QStringLiteral("Kassenbuch 2.0.1")));
        const auto backToTheList = [&] {
            for (int i = 0; i < 3 && QApplication::focusWidget() == FDialog->reBeschreibung; ++i)
                press(Qt::Key_Backtab);
        };
        backToTheList();
        QCOMPARE(QApplication::focusWidget(), Entry(0, 2));

        // A header reached with the arrows is the list's stop as well; Right on an open header
        // goes to its first entry, Left from there back to the header.
        press(Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), FDialog->Panels()[1]->Header);
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), FDialog->reBeschreibung);
        backToTheList();
        QCOMPARE(QApplication::focusWidget(), FDialog->Panels()[1]->Header);
        press(Qt::Key_Right);
        QCOMPARE(QApplication::focusWidget(), Entry(1, 0));
        QVERIFY(FDialog->reBeschreibung->toPlainText().startsWith(QStringLiteral("Lager 3.1.0")));
        press(Qt::Key_Left);
        QCOMPARE(QApplication::focusWidget(), FDialog->Panels()[1]->Header);
        // Closing the panel keeps the stop on its header, so that Tab still finds the list.
        press(Qt::Key_Left);
        QVERIFY(!FDialog->Panels()[1]->Expanded());
        FDialog->BitBtn2->setFocus();
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), FDialog->Panels()[1]->Header);
    }

    // The description is read with the keyboard: Tab selects its link, Enter opens it, the next
    // Tab leaves for the buttons, and Enter on a button does what Space does.
    void descriptionLinksAndButtonsWorkWithTheKeyboard()
    {
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        QSignalSpy finished(FDialog.get(), &QDialog::finished);
        FDialog->open();
        QVERIFY(QTest::qWaitForWindowActive(FDialog.get()));
        auto press = [this](Qt::Key key) { QTest::keyClick(FDialog->windowHandle(), key); };
        FDialog->reBeschreibung->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), FDialog->reBeschreibung);
        QVERIFY(FDialog->reBeschreibung->isReadOnly());
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), FDialog->reBeschreibung);
        QCOMPARE(FDialog->reBeschreibung->textCursor().selectedText(), QStringLiteral("Vorlandt"));
        press(Qt::Key_Return);
        QCOMPARE(FFrontEnd->OpenedDocuments(), QStringList{"https://www.vorlandt.example/"});
        QVERIFY(finished.isEmpty());

        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), FDialog->BitBtn1);
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), FDialog->BitBtn2);
        press(Qt::Key_Return);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), 2);
    }

    // Each button's access key answers from anywhere in the dialog, the list included.
    void accessKeysAnswer_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("Alt+U: Updates installieren") << int(Qt::Key_U) << 1;
        QTest::newRow("Alt+K: Keine Updates durchführen") << int(Qt::Key_K) << 2;
    }
    void accessKeysAnswer()
    {
        QFETCH(int, key);
        QFETCH(int, result);
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        QSignalSpy finished(FDialog.get(), &QDialog::finished);
        FDialog->open();
        QVERIFY(QTest::qWaitForWindowActive(FDialog.get()));
        QTRY_COMPARE(QApplication::focusWidget(), Entry(0, 0));
        QTest::keyClick(FDialog->windowHandle(), Qt::Key(key), Qt::AltModifier);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), result);
    }

    void headerOpensAndClosesFromTheKeyboard_data()
    {
        QTest::addColumn<Qt::Key>("key");
        QTest::newRow("Space") << Qt::Key_Space;
        QTest::newRow("Enter") << Qt::Key_Return;
        QTest::newRow("Enter on the keypad") << Qt::Key_Enter;
    }
    void headerOpensAndClosesFromTheKeyboard()
    {
        QFETCH(Qt::Key, key);
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        QSignalSpy finished(FDialog.get(), &QDialog::finished);
        FDialog->open();
        QVERIFY(QTest::qWaitForWindowActive(FDialog.get()));
        TCategoryPanel* panel = FDialog->Panels()[0];
        QVERIFY(panel->Header->focusPolicy() & Qt::ClickFocus);
        panel->Header->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), panel->Header);
        // Focused, the header is where Tab comes back to the list.
        QCOMPARE(panel->Header->focusPolicy(), Qt::StrongFocus);
        QTest::keyClick(FDialog->windowHandle(), key);
        QVERIFY(!panel->Expanded());
        QVERIFY(!panel->Body->isVisible());
        QTest::keyClick(FDialog->windowHandle(), key);
        QVERIFY(panel->Expanded());
        QVERIFY(panel->Body->isVisible());
        // Neither key reached "Updates installieren".
        QVERIFY(finished.isEmpty());
        QCOMPARE(QApplication::focusWidget(), panel->Header);
    }

    // Closing the panel that holds the focus leaves it on the header; the arrows then pass over
    // the hidden entries.
    void closedPanelsEntriesAreSkipped()
    {
        AddThreeModules();
        FDialog->Initialize(FWorld->Updates);
        FDialog->show();
        QVERIFY(QTest::qWaitForWindowActive(FDialog.get()));
        QCOMPARE(QApplication::focusWidget(), Entry(0, 0));
        auto press = [this](Qt::Key key) { QTest::keyClick(FDialog->windowHandle(), key); };
        press(Qt::Key_Left);
        QCOMPARE(QApplication::focusWidget(), FDialog->Panels()[0]->Header);
        press(Qt::Key_Left);
        QVERIFY(!FDialog->Panels()[0]->Expanded());
        press(Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), FDialog->Panels()[1]->Header);
        press(Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), Entry(1, 0));
        FDialog->Panels()[1]->Header->click();
        QCOMPARE(QApplication::focusWidget(), FDialog->Panels()[1]->Header);
    }

    // A module's name with "&" is shown, named and drawn as written, never as a mnemonic.
    void ampersandInAModuleNameIsNoMnemonic()
    {
        FWorld->Add(QStringLiteral("Vorlandt Lohn & Gehalt"), 30, 2, 1, 0, Rtf(QStringLiteral("Lohn 2.1.0")));
        FDialog->Initialize(FWorld->Updates);
        TCategoryPanel* panel = FDialog->Panels()[0];
        QCOMPARE(panel->Caption(), QStringLiteral("Vorlandt Lohn & Gehalt"));
        QCOMPARE(panel->Header->shortcut(), QKeySequence());
        QAccessibleInterface* header = QAccessible::queryAccessibleInterface(panel->Header);
        QVERIFY(header != nullptr);
        QCOMPARE(header->text(QAccessible::Name), QStringLiteral("Vorlandt Lohn & Gehalt"));
        // Heard as a button that opens and closes the panel, without a key of its own.
        QCOMPARE(header->role(), QAccessible::Button);
        QVERIFY(header->state().expanded);
        QVERIFY(header->actionInterface()
                    ->keyBindingsForAction(QAccessibleActionInterface::pressAction())
                    .isEmpty());
        header->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(!panel->Expanded());
        QVERIFY(header->state().collapsed);
        QAccessibleInterface* entry = QAccessible::queryAccessibleInterface(Entry(0, 0));
        QCOMPARE(entry->role(), QAccessible::ListItem);
        QCOMPARE(entry->text(QAccessible::Name), QStringLiteral("Version 2.1.0"));
        QVERIFY(entry->state().selected);
    }

    // Each showing starts afresh: the description of an earlier showing is gone, the first entry
    // is selected and its description shown.
    void everyShowingStartsAfresh()
    {
        AddThreeModules();
        for (int showing = 0; showing < 2; ++showing) {
            FDialog->Initialize(FWorld->Updates);
            FDialog->show();
            QVERIFY(QTest::qWaitForWindowActive(FDialog.get()));
            QCOMPARE(QApplication::focusWidget(), Entry(0, 0));
            QVERIFY(FDialog->reBeschreibung->toPlainText().startsWith(QStringLiteral("Kasse 5.2.9")));
            PointAt(Entry(1, 0), TPointer::Enter);
            QVERIFY(FDialog->reBeschreibung->toPlainText().startsWith(QStringLiteral("Lager 3.1.0")));
            QVERIFY(Entry(1, 0)->IsCurrent());
            QVERIFY(!Entry(0, 0)->IsCurrent());
            FDialog->done(2);
        }
    }

    // Where no program opens a link, one window shows the address to copy, every "&" as it is.
    void linkThatCannotBeOpenedIsShownToCopy()
    {
        FFrontEnd->SetOpenDocumentResult(false);
        QStringList shown;
        TModalAnswer answer([&](QWidget* modal) {
            if (auto* form = qobject_cast<TfrmAddress*>(modal)) {
                shown << form->edAdresse->text();
                form->btnOK->click();
            }
        });
        FDialog->reBeschreibungURLClick(QUrl(QStringLiteral("https://www.vorlandt.example/kasse?a=1&b=2")));
        QVERIFY(!answer.WatchdogFired());
        QCOMPARE(shown, QStringList{QStringLiteral("https://www.vorlandt.example/kasse?a=1&b=2")});
        QCOMPARE(FFrontEnd->Messages(), QList<TShownMessage>());
    }

    // Under xvfb-run with VORLANDT_NOTIFY_SCREENSHOT set: the dialog with three modules, for a
    // person to look at.
    void screenshot()
    {
        const QString path = qEnvironmentVariable("VORLANDT_NOTIFY_SCREENSHOT");
        if (path.isEmpty())
            QSKIP("VORLANDT_NOTIFY_SCREENSHOT not set");
        AddThreeModules();
        FWorld->Add(QStringLiteral("Vorlandt Zeiterfassung"), 20, 1, 4, 0, Rtf(QStringLiteral("Zeit 1.4.0")));
        FDialog->Initialize(FWorld->Updates);
        FDialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(FDialog.get()));
        PointAt(Entry(0, 1), TPointer::Enter);
        QTest::qWait(50);
        QVERIFY(FDialog->grab().save(path));

        // The focus as the keyboard sees it: on an entry, on a header, on a link of the
        // description.
        FDialog->activateWindow();
        if (!QTest::qWaitForWindowActive(FDialog.get()))
            QSKIP("the window did not become active");
        const auto save = [&](QWidget* focus, const QString& suffix, int tabs) {
            focus->setFocus(Qt::TabFocusReason);
            for (int i = 0; i < tabs; ++i)
                QTest::keyClick(FDialog->windowHandle(), Qt::Key_Tab);
            QTest::qWait(50);
            QString name = path;
            name.insert(name.lastIndexOf(u'.'), suffix);
            QVERIFY(FDialog->grab().save(name));
        };
        save(Entry(0, 2), QStringLiteral("-entry"), 0);
        save(FDialog->Panels()[1]->Header, QStringLiteral("-header"), 0);
        save(FDialog->reBeschreibung, QStringLiteral("-link"), 1);
    }
};

QTEST_MAIN(TestFrmUpdateBenachrichtigung)
#include "tst_frmUpdateBenachrichtigung.moc"
