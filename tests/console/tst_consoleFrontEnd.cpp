// The console front end: what it prints for each conversation, and the answers it takes from the
// terminal or, without one, from the options.
#include "core/catalog/Updates.h"
#include "core/news/NewsItem.h"
#include "console/ConsoleFrontEnd.h"

#include "support/RunWorld.h"

#include <QScopeGuard>
#include <QtTest>

#include <cstdio>

namespace {

// Captures what the front end writes and feeds it the typed input.
class TConsole {
public:
    explicit TConsole(const QByteArray& typed, TConsoleFrontEnd::TOptions options) : FTyped(typed)
    {
        FOut = open_memstream(&FOutBuffer, &FOutSize);
        FErr = open_memstream(&FErrBuffer, &FErrSize);
        // fmemopen refuses an empty buffer.
        FIn = FTyped.isEmpty() ? std::fopen("/dev/null", "r")
                               : fmemopen(FTyped.data(), static_cast<size_t>(FTyped.size()), "r");
        FrontEnd = std::make_unique<TConsoleFrontEnd>(options, FOut, FErr, FIn);
    }
    ~TConsole()
    {
        FrontEnd.reset();
        std::fclose(FOut);
        std::fclose(FErr);
        std::fclose(FIn);
        std::free(FOutBuffer);
        std::free(FErrBuffer);
    }
    QString Out()
    {
        std::fflush(FOut);
        return QString::fromLocal8Bit(FOutBuffer, static_cast<qsizetype>(FOutSize));
    }
    QString Err()
    {
        std::fflush(FErr);
        return QString::fromLocal8Bit(FErrBuffer, static_cast<qsizetype>(FErrSize));
    }

    std::unique_ptr<TConsoleFrontEnd> FrontEnd;

private:
    QByteArray FTyped;
    FILE* FOut = nullptr;
    FILE* FErr = nullptr;
    FILE* FIn = nullptr;
    char* FOutBuffer = nullptr;
    size_t FOutSize = 0;
    char* FErrBuffer = nullptr;
    size_t FErrSize = 0;
};

TConsoleFrontEnd::TOptions Options(bool interactive, bool accept = false, std::optional<int> postpone = {})
{
    TConsoleFrontEnd::TOptions options;
    options.Interactive = interactive;
    options.Accept = accept;
    options.Postpone = postpone;
    return options;
}

}  // namespace

class tst_ConsoleFrontEnd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void messageBoxes_data()
    {
        QTest::addColumn<bool>("interactive");
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("questions");
        // clang-format off
        QTest::newRow("OK, no terminal")                  << false << QByteArray()        << int(TMsgDlgButtons::mbOK)         << mrOk    << 0;
        QTest::newRow("abort/retry, no terminal: abort")  << false << QByteArray()        << int(TMsgDlgButtons::mbAbortRetry) << mrAbort << 0;
        QTest::newRow("yes/no, no terminal: no")          << false << QByteArray()        << int(TMsgDlgButtons::mbYesNo)      << mrNo    << 0;
        QTest::newRow("retry typed after a wrong answer") << true  << QByteArray("x\nW\n") << int(TMsgDlgButtons::mbAbortRetry) << mrRetry << 2;
        QTest::newRow("abort typed")                      << true  << QByteArray("a\n")   << int(TMsgDlgButtons::mbAbortRetry) << mrAbort << 1;
        QTest::newRow("end of input aborts")              << true  << QByteArray()        << int(TMsgDlgButtons::mbAbortRetry) << mrAbort << 1;
        QTest::newRow("yes typed")                        << true  << QByteArray(" j \n") << int(TMsgDlgButtons::mbYesNo)      << mrYes   << 1;
        // clang-format on
    }

    void messageBoxes()
    {
        QFETCH(bool, interactive);
        QFETCH(QByteArray, typed);
        QFETCH(int, buttons);
        QFETCH(int, result);
        QFETCH(int, questions);
        TConsole console(typed, Options(interactive));
        QCOMPARE(console.FrontEnd->MessageDialog(QStringLiteral("Erste Zeile\r\n\r\nDritte Zeile"),
                                                 TMsgDlgType::mtWarning, TMsgDlgButtons(buttons), 0),
                 result);
        const QString out = console.Out();
        QVERIFY2(out.startsWith(QStringLiteral("Warnung: Erste Zeile\n\nDritte Zeile\n")), qPrintable(out));
        QCOMPARE(out.count(u'?'), questions);
        QCOMPARE(console.Err(), QString());
    }

    void progressGoesToStderr()
    {
        TConsole console({}, Options(false));
        console.FrontEnd->ShowProgress(0, 3, QString());
        console.FrontEnd->ShowProgress(1, 3, QStringLiteral(u"[01/03] Überprüfe A..."));
        QCOMPARE(console.Err(), QStringLiteral(u"[01/03] Überprüfe A...\n"));
        QCOMPARE(console.Out(), QString());
    }

    void pendingUpdatesAreListedAndAnswered_data()
    {
        QTest::addColumn<bool>("interactive");
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("no terminal, --accept") << false << QByteArray() << true << true;
        QTest::newRow("no terminal, declined") << false << QByteArray() << false << false;
        QTest::newRow("typed yes") << true << QByteArray("j\n") << false << true;
        QTest::newRow("typed no") << true << QByteArray("n\n") << true << false;
        QTest::newRow("end of input declines") << true << QByteArray() << true << false;
    }

    void pendingUpdatesAreListedAndAnswered()
    {
        QFETCH(bool, interactive);
        QFETCH(QByteArray, typed);
        QFETCH(bool, accept);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        TUpdates updates;
        const QString ziel = dir.path() + u'/';
        updates.AddUpdate(QStringLiteral("Vorlandt Kasse"), 12, 3, 1, 0, {}, {}, {}, {}, {},
                          QStringLiteral("{\\rtf1 Neu:\\par \\b schneller\\b0 }"), ziel);
        updates.AddUpdate(QStringLiteral("Vorlandt Kasse"), 12, 3, 0, 2, {}, {}, {}, {}, {}, QString(), ziel);
        updates.AddUpdate(QStringLiteral("Vorlandt Faktura"), 14, 2, 0, 1, {}, {}, {}, {}, {},
                          QStringLiteral("{\\rtf1 Fehler behoben.}"), ziel);
        TConsole console(typed, Options(interactive, accept));

        QCOMPARE(console.FrontEnd->ConfirmUpdates(updates), accepted);

        const QString listing = QStringLiteral(
            "Anstehende Updates:\n\n"
            "Vorlandt Kasse\n"
            "  Version 3.0.2\n"
            "  Version 3.1.0\n"
            "    Neu:\n"
            "    schneller\n"
            "\n"
            "Vorlandt Faktura\n"
            "  Version 2.0.1\n"
            "    Fehler behoben.\n\n");
        const QString out = console.Out();
        QVERIFY2(out.startsWith(listing), qPrintable(out));
    }

    void newsItemIsPrintedAndClosedWithTheChoice_data()
    {
        QTest::addColumn<bool>("interactive");
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<std::optional<int>>("postpone");
        QTest::addColumn<bool>("postponed");
        QTest::newRow("no terminal: not again") << false << QByteArray() << std::optional<int>() << false;
        QTest::newRow("no terminal, --postpone 1") << false << QByteArray() << std::optional<int>(1) << true;
        QTest::newRow("typed 0") << true << QByteArray("0\n") << std::optional<int>() << true;
        QTest::newRow("Enter keeps not again") << true << QByteArray("\n") << std::optional<int>(2) << false;
    }

    void newsItemIsPrintedAndClosedWithTheChoice()
    {
        QFETCH(bool, interactive);
        QFETCH(QByteArray, typed);
        QFETCH(std::optional<int>, postpone);
        QFETCH(bool, postponed);
        TRunWorld world;
        QVERIFY(world.IsValid());
        pugi::xml_document document;
        QVERIFY(document.load_string(
            "<news><item id=\"4\" datum=\"01.03.2024\" updaterversion=\"6\">"
            "<beschreibung><![CDATA[{\\rtf1 Zeile eins\\par Zeile zwei}]]></beschreibung></item></news>"));
        TNewsItem news(document.document_element().first_child());
        TConsole console(typed, Options(interactive, false, postpone));

        {
            // The showing goes through whichever front end is in charge.
            TFrontEnd* previous = SetFrontEnd(console.FrontEnd.get());
            const auto restore = qScopeGuard([previous] { SetFrontEnd(previous); });
            news.ShowModal();
        }

        const QString out = console.Out();
        QVERIFY2(out.startsWith(QStringLiteral("Neuigkeit vom 01.03.2024\nZeile eins\nZeile zwei\n")),
                 qPrintable(out));
        const QStringList stored = QDir(world.DataDir()).entryList(QDir::Files);
        QCOMPARE(stored.size(), postponed ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(tst_ConsoleFrontEnd)
#include "tst_consoleFrontEnd.moc"
