// The news window on the screen: layout, captions and choices, the formatted text and date it
// shows, what closing it stores, which links it opens, how it reports a damaged item, and the
// Qt front end showing it modally.
#include "support/NewsWorld.h"

#include "core/news/NewsItem.h"
#include "gui/OpenAddress.h"
#include "gui/QtFrontEnd.h"
#include "gui/frmNewsAnzeige.h"
#include "support/FrontEndFixture.h"
#include "support/ModalAnswer.h"
#include "support/ScriptedFrontEnd.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>

#include <functional>
#include <memory>

namespace {

// Bold text, a bulleted list and a link, as a word processor writes them.
const QByteArray SampleRtf =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 Tahoma;}}"
    "{\\colortbl ;\\red0\\green0\\blue255;}\n"
    "\\pard\\f0\\fs20{\\b Neue Kassenversion 5.4}\\par\n"
    "Das Update bringt:\\par\n"
    "{\\pntext\\f0\\'95\\tab}{\\*\\pn\\pnlvlblt\\pnf0\\pnindent0{\\pntxtb\\'95}}\\fi-360\\li720 "
    "schnellere Tagesabschl\\'fcsse\\par\n"
    "{\\pntext\\f0\\'95\\tab}den Export nach DATEV\\par\n"
    "\\pard Mehr dazu: {\\field{\\*\\fldinst{HYPERLINK \"https://www.vorlandt.example/kasse\"}}"
    "{\\fldrslt{\\ul\\cf1 Neuigkeiten im Web}}}\\par\n}";

QByteArray NewsItem(const QByteArray& rtf, const QByteArray& datum = "15.03.2024")
{
    return "<news><item id=\"5\" updaterversion=\"6\" datum=\"" + datum + "\"><beschreibung><![CDATA[" + rtf +
           "]]></beschreibung></item></news>";
}

// The point in the browser's viewport where the text `anchorText` is drawn.
QPoint PointOfText(QTextBrowser* browser, const QString& anchorText)
{
    const QTextCursor found = browser->document()->find(anchorText);
    if (found.isNull())
        return QPoint(-1, -1);
    QTextCursor middle(browser->document());
    middle.setPosition(found.selectionStart() + 2);
    return browser->cursorRect(middle).center();
}

// The Qt front end with the scripted one's message boxes and documents, so that a test sees the
// real window and still records every box.
class TQtNewsFrontEnd : public TQtFrontEnd {
public:
    explicit TQtNewsFrontEnd(TScriptedFrontEnd& scripted) : FScripted(scripted) {}
    int MessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) override
    {
        return FScripted.MessageDialog(text, type, buttons, helpContext);
    }
    bool OpenDocument(const QString& fileOrUrl) override { return FScripted.OpenDocument(fileOrUrl); }

private:
    TScriptedFrontEnd& FScripted;
};

}  // namespace

class TestFrmNewsAnzeige : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TNewsWorld> FWorld;
    std::unique_ptr<TFrontEndFixture> FFrontEnd;
    pugi::xml_document FDocument;

    TNewsItem NewItem(const QByteArray& rtf = SampleRtf, const QByteArray& datum = "15.03.2024")
    {
        if (!ParseNews(FDocument, NewsItem(rtf, datum)))
            qFatal("bad fixture");
        return TNewsItem(FDocument.document_element().first_child());
    }

    // What the window shows of a new item, loaded as a showing loads it.
    TNewsView NewView(const QByteArray& rtf = SampleRtf, const QByteArray& datum = "15.03.2024")
    {
        TNewsItem news = NewItem(rtf, datum);
        news.FormShow();
        return news.View();
    }

    // Shows `news` as a news step does, with `frontEnd` in charge, and hands the modal window to
    // `act`, which must close it. False when no window came.
    static bool ShowAndAnswer(TNewsItem& news, TFrontEnd& frontEnd,
                              const std::function<void(TfrmNewsAnzeige*)>& act)
    {
        TScopedFrontEnd scope(frontEnd);
        bool answered = false;
        TModalAnswer answer([&](QWidget* modal) {
            if (auto* form = qobject_cast<TfrmNewsAnzeige*>(modal)) {
                answered = true;
                act(form);
            }
        });
        news.ShowModal();
        return answered;
    }

private Q_SLOTS:
    void init()
    {
        FWorld = std::make_unique<TNewsWorld>();
        QVERIFY(FWorld->IsValid());
        FFrontEnd = std::make_unique<TFrontEndFixture>(TScriptCheck::Unanswered);
    }

    void cleanup()
    {
        FFrontEnd.reset();
        FWorld.reset();
    }

    void windowHasItsCaptionsFontsAndLayout()
    {
        TfrmNewsAnzeige form(NewView());
        QCOMPARE(form.windowTitle(), QStringLiteral("Es gibt Neuigkeiten!"));
        QCOMPARE(form.size(), QSize(559, 477));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(form.font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(form.font().pointSize(), 8);

        QCOMPARE(form.Panel1->geometry(), QRect(0, 0, 559, 477));
        QCOMPARE(form.Panel1->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(form.Panel2->geometry(), QRect(8, 7, 545, 64));
        QCOMPARE(form.Image1->geometry(), QRect(292, 0, 253, 64));
        QCOMPARE(form.Label1->text(), QStringLiteral("Neuigkeit vom"));
        QCOMPARE(form.Label1->pos(), QPoint(8, 45));
        // At 106 where Calibri is installed; a wider substitute pushes it along, never over
        // the caption.
        QCOMPARE(form.lbNewsDatum->y(), 45);
        QVERIFY(form.lbNewsDatum->x() >= 106);
        QVERIFY(form.Label1->geometry().right() < form.lbNewsDatum->x());
        QCOMPARE(form.lbNewsDatum->text(), QStringLiteral("xx.yy.zzzz"));
        for (const QLabel* label : {form.Label1, form.lbNewsDatum}) {
            QCOMPARE(label->font().family(), QStringLiteral("Calibri"));
            QCOMPARE(label->font().pointSize(), 12);
        }

        QCOMPARE(form.reNews->geometry(), QRect(8, 74, 545, 365));
        QVERIFY(form.reNews->isReadOnly());
        // Reached with Tab and read with the keyboard, never edited.
        QCOMPARE(form.reNews->focusPolicy(), Qt::StrongFocus);
        QVERIFY(!form.reNews->openLinks());
        QCOMPARE(form.reNews->font().pointSize(), 8);

        QCOMPARE(form.cbErneutZeigen->pos(), QPoint(8, 447));
        QCOMPARE(form.cbErneutZeigen->width(), 508);
        QVERIFY(!form.cbErneutZeigen->isEditable());
        QStringList choices;
        for (int i = 0; i < form.cbErneutZeigen->count(); ++i)
            choices.append(form.cbErneutZeigen->itemText(i));
        QCOMPARE(choices, (QStringList{QStringLiteral("Morgen noch einmal anzeigen."),
                                       QStringLiteral("Übermorgen noch einmal anzeigen."),
                                       QStringLiteral("In einer Woche noch einmal anzeigen."),
                                       QStringLiteral("Nicht wieder anzeigen.")}));
        QCOMPARE(form.cbErneutZeigen->currentIndex(), 3);

        QCOMPARE(form.btnSchliessen->geometry(), QRect(521, 442, 31, 30));
        QCOMPARE(form.btnSchliessen->toolTip(), QStringLiteral("Schließen"));
        QVERIFY(!form.btnSchliessen->icon().isNull());
    }

    void showingFillsTextAndDate()
    {
        TfrmNewsAnzeige form(NewView());
        form.show();
        QCOMPARE(form.lbNewsDatum->text(), QStringLiteral("15.03.2024"));
        const QString text = form.reNews->toPlainText();
        QVERIFY2(text.contains(QStringLiteral("Neue Kassenversion 5.4")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("schnellere Tagesabschlüsse")), qPrintable(text));

        // Formatted: the heading bold, the two points a list, the link an anchor.
        QTextCursor bold = form.reNews->document()->find(QStringLiteral("Kassenversion"));
        QVERIFY(!bold.isNull());
        QVERIFY(bold.charFormat().fontWeight() >= QFont::Bold);
        QTextCursor point = form.reNews->document()->find(QStringLiteral("DATEV"));
        QVERIFY(!point.isNull());
        QVERIFY(point.block().textList() != nullptr);
        QTextCursor link = form.reNews->document()->find(QStringLiteral("Neuigkeiten im Web"));
        QVERIFY(!link.isNull());
        QVERIFY(link.charFormat().isAnchor());
        QCOMPARE(link.charFormat().anchorHref(), QStringLiteral("https://www.vorlandt.example/kasse"));
        form.close();
    }

    void clickingAWebLinkOpensIt()
    {
        TfrmNewsAnzeige form(NewView());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QPoint at = PointOfText(form.reNews, QStringLiteral("Neuigkeiten im Web"));
        QVERIFY(at.x() >= 0);
        QTest::mouseClick(form.reNews->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(FFrontEnd->OpenedDocuments(),
                 QStringList{QStringLiteral("https://www.vorlandt.example/kasse")});
        form.close();
    }

    // With the keyboard alone: Tab goes from the text to the choice and the close button; inside
    // the text it selects the link, which Enter opens; Enter on the close button closes.
    void keyboardReachesTheLinkAndCloses()
    {
        TfrmNewsAnzeige form(NewView());
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        auto press = [&form](Qt::Key key) { QTest::keyClick(form.windowHandle(), key); };
        QCOMPARE(QApplication::focusWidget(), form.cbErneutZeigen);
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.btnSchliessen);
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.reNews);
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.reNews);
        QCOMPARE(form.reNews->textCursor().selectedText(), QStringLiteral("Neuigkeiten im Web"));
        press(Qt::Key_Return);
        QCOMPARE(FFrontEnd->OpenedDocuments(),
                 QStringList{QStringLiteral("https://www.vorlandt.example/kasse")});
        QVERIFY(form.isVisible());
        QVERIFY(form.reNews->isReadOnly());
        QCOMPARE(form.reNews->toPlainText().contains(QStringLiteral("Neue Kassenversion 5.4")), true);

        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.cbErneutZeigen);
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.btnSchliessen);
        press(Qt::Key_Return);
        QVERIFY(!form.isVisible());
    }

    // A screen reader names the icon button by its tooltip's words and the choice by what it
    // decides, and still reads the choice made as its value.
    void controlsAreNamedForScreenReaders()
    {
        TfrmNewsAnzeige form(NewView());
        QAccessibleInterface* close = QAccessible::queryAccessibleInterface(form.btnSchliessen);
        QCOMPARE(close->text(QAccessible::Name), QStringLiteral("Schließen"));
        QAccessibleInterface* choice = QAccessible::queryAccessibleInterface(form.cbErneutZeigen);
        QCOMPARE(choice->text(QAccessible::Name), QStringLiteral("Diese Neuigkeit erneut anzeigen"));
        QCOMPARE(choice->text(QAccessible::Value), QStringLiteral("Nicht wieder anzeigen."));
        form.cbErneutZeigen->setCurrentIndex(0);
        QCOMPARE(choice->text(QAccessible::Value), QStringLiteral("Morgen noch einmal anzeigen."));
        QAccessibleInterface* text = QAccessible::queryAccessibleInterface(form.reNews);
        QVERIFY(!text->text(QAccessible::Name).isEmpty());
    }

    // Where no program opens a link, one window shows the address to copy.
    void linkThatCannotBeOpenedIsShownToCopy()
    {
        TfrmNewsAnzeige form(NewView());
        FFrontEnd->SetOpenDocumentResult(false);
        QStringList shown;
        TModalAnswer answer([&](QWidget* modal) {
            if (auto* address = qobject_cast<TfrmAddress*>(modal)) {
                shown << address->edAdresse->text();
                address->btnOK->click();
            }
        });
        form.reNewsURLClick(QUrl(QStringLiteral("https://www.vorlandt.example/kasse")));
        QVERIFY(!answer.WatchdogFired());
        QCOMPARE(shown, QStringList{QStringLiteral("https://www.vorlandt.example/kasse")});
        QCOMPARE(FFrontEnd->Messages(), QList<TShownMessage>());
    }

    void onlyWebAndMailAddressesAreOpened_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("opened");  // empty: not opened, but logged

        QTest::newRow("https") << QStringLiteral("https://www.vorlandt.example/a?b=1")
                               << QStringLiteral("https://www.vorlandt.example/a?b=1");
        QTest::newRow("http, scheme in capitals") << QStringLiteral("HTTP://www.vorlandt.example/")
                                                  << QStringLiteral("http://www.vorlandt.example/");
        QTest::newRow("mailto") << QStringLiteral("mailto:support@vorlandt.example?subject=Kasse")
                                << QStringLiteral("mailto:support@vorlandt.example?subject=Kasse");
        QTest::newRow("mailto that would attach a local file")
            << QStringLiteral("mailto:a@vorlandt.example?attach=/home/user/.ssh/id_rsa&subject=Hallo")
            << QStringLiteral("mailto:a@vorlandt.example?subject=Hallo");
        QTest::newRow("file address") << QStringLiteral("file:///etc/passwd") << QString();
        QTest::newRow("local program") << QStringLiteral("/usr/bin/xterm") << QString();
        QTest::newRow("relative program") << QStringLiteral("setup.sh") << QString();
        QTest::newRow("javascript") << QStringLiteral("javascript:alert(1)") << QString();
        QTest::newRow("web address without a host") << QStringLiteral("http:/usr/bin/xterm") << QString();
        QTest::newRow("anchor in the text") << QStringLiteral("#kapitel2") << QString();
    }

    void onlyWebAndMailAddressesAreOpened()
    {
        QFETCH(QString, link);
        QFETCH(QString, opened);
        TfrmNewsAnzeige form(NewView());
        form.reNewsURLClick(QUrl(link));
        if (opened.isEmpty()) {
            QVERIFY(FFrontEnd->OpenedDocuments().isEmpty());
            QVERIFY2(LogLines().contains(QStringLiteral("reNewsURLClick - Link nicht geöffnet: ") +
                                         QUrl(link).toString()),
                     qPrintable(LogLines().join(u'\n')));
        } else {
            QCOMPARE(FFrontEnd->OpenedDocuments(), QStringList{opened});
        }
    }

    void closingHandsTheChoiceOverOnce_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("stored");

        const QStringList tomorrow{QStringLiteral("2024-03-15_2024-03-16_1_VL_NewsRTF.tmp")};
        QTest::newRow("close button, tomorrow") << 0 << QStringLiteral("button") << tomorrow;
        QTest::newRow("title bar, tomorrow") << 0 << QStringLiteral("close") << tomorrow;
        QTest::newRow("escape, tomorrow") << 0 << QStringLiteral("escape") << tomorrow;
        QTest::newRow("close button, in a week")
            << 2 << QStringLiteral("button")
            << QStringList{QStringLiteral("2024-03-15_2024-03-22_1_VL_NewsRTF.tmp")};
        QTest::newRow("close button, the default") << 3 << QStringLiteral("button") << QStringList();
    }

    void closingHandsTheChoiceOverOnce()
    {
        QFETCH(int, choice);
        QFETCH(QString, how);
        QFETCH(QStringList, stored);
        TNewsItem news = NewItem();
        TQtNewsFrontEnd frontEnd(*FFrontEnd);
        QVERIFY(ShowAndAnswer(news, frontEnd, [&](TfrmNewsAnzeige* form) {
            form->cbErneutZeigen->setCurrentIndex(choice);
            if (how == QLatin1String("button"))
                QTest::mouseClick(form->btnSchliessen, Qt::LeftButton);
            else if (how == QLatin1String("close"))
                form->close();
            else
                QTest::keyClick(form, Qt::Key_Escape);
            QVERIFY(!form->isVisible());
            // A second closing changes nothing.
            form->cbErneutZeigen->setCurrentIndex(1);
            form->close();
        }));
        QCOMPARE(FWorld->DataFiles(), stored);
    }

    void damagedItemIsReportedAndShownAsFarAsLoaded()
    {
        ParseNews(FDocument,
                  "<news><item><beschreibung>{\\rtf1 {\\b Nur Text}}</beschreibung></item></news>");
        TNewsItem news(FDocument.document_element().first_child());
        FFrontEnd->Answer({mrOk});
        TQtNewsFrontEnd frontEnd(*FFrontEnd);
        QVERIFY(ShowAndAnswer(news, frontEnd, [&](TfrmNewsAnzeige* form) {
            const auto close = qScopeGuard([form] { form->close(); });
            QTRY_COMPARE(FFrontEnd->Messages().size(), 1);
            QCOMPARE(FFrontEnd->Messages().first().type, TMsgDlgType::mtError);
            QVERIFY(form->isVisible());
            QCOMPARE(form->lbNewsDatum->text(), QStringLiteral("xx.yy.zzzz"));
            QCOMPARE(form->reNews->toPlainText(), QStringLiteral("Nur Text"));
        }));
    }

    void qtFrontEndShowsTheWindowModally()
    {
        TNewsItem news = NewItem();
        TQtFrontEnd frontEnd;
        QString shownDate;
        QVERIFY(ShowAndAnswer(news, frontEnd, [&](TfrmNewsAnzeige* form) {
            shownDate = form->lbNewsDatum->text();
            form->cbErneutZeigen->setCurrentIndex(1);
            QTest::mouseClick(form->btnSchliessen, Qt::LeftButton);
        }));
        QCOMPARE(shownDate, QStringLiteral("15.03.2024"));
        QCOMPARE(FWorld->DataFiles(), QStringList{QStringLiteral("2024-03-15_2024-03-17_1_VL_NewsRTF.tmp")});
    }

    // Not a check: with VORLANDT_NEWS_SCREENSHOT set to a file name, the window with a real
    // item is saved there as a picture for a person to look at.
    void screenshot()
    {
        const QString target = qEnvironmentVariable("VORLANDT_NEWS_SCREENSHOT");
        if (target.isEmpty())
            QSKIP("VORLANDT_NEWS_SCREENSHOT not set");
        TfrmNewsAnzeige form(NewView());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::qWait(200);
        QVERIFY(form.grab().save(target));
        // With the keyboard's focus on the link of the text.
        form.activateWindow();
        if (QTest::qWaitForWindowActive(&form)) {
            form.reNews->setFocus(Qt::TabFocusReason);
            QTest::keyClick(form.windowHandle(), Qt::Key_Tab);
            QTest::qWait(50);
            QString name = target;
            QVERIFY(form.grab().save(name.insert(name.lastIndexOf(u'.'), QStringLiteral("-link"))));
        }
        form.close();
    }
};

QTEST_MAIN(TestFrmNewsAnzeige)
#include "tst_frmNewsAnzeige.moc"
