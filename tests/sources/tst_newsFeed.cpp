// The news step of an update run against a real store and a news file in a local source
// folder: which item is shown and which id is remembered, the updater version, the switch,
// postponed items and their order, damaged numbers, and the log lines.
#include "support/NewsWorld.h"

#include "core/news/NewsItem.h"
#include "core/platform/VorlandtError.h"
#include "core/sources/UpdateCheck.h"
#include "support/FrontEndFixture.h"
#include "support/ScriptedFrontEnd.h"

#include <QScopeGuard>
#include <QTest>

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qint32 NotStored = -100;

QByteArray Item(const QByteArray& attributes, const QByteArray& text = "{\\rtf1 Neu}")
{
    return "<item " + attributes + "><beschreibung><![CDATA[" + text + "]]></beschreibung></item>";
}

qint32 StoredLastNewsID()
{
    if (!ValueExists(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastNewsID))
        return NotStored;
    return ReadIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastNewsID,
                            NotStored);
}

}  // namespace

class TestNewsFeed : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TNewsWorld> FWorld;
    std::unique_ptr<TFrontEndFixture> FFrontEnd;
    std::unique_ptr<TUpdateCheck> FCheck;

    bool PublishNews(const QByteArray& items)
    {
        return WriteFile(FWorld->SourceDir() + QStringLiteral("news/news.xml"),
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<news>\n" + items + "\n</news>\n");
    }

    bool Postpone(const QString& name, const QByteArray& rtf)
    {
        return WriteFile(FWorld->DataDir() + name, rtf);
    }

    QStringList ShownDates() const
    {
        QStringList dates;
        for (const TShownNews& news : FFrontEnd->ShownNews())
            dates.append(news.datum);
        return dates;
    }

    // The log from the first line of the news step on, without the lines of the helpers it
    // calls (directories, the fetch).
    static QStringList NewsLogLines()
    {
        QStringList lines;
        for (const QString& line : LogLines()) {
            if (line.startsWith(QLatin1String("CheckForNews")) ||
                line.startsWith(QLatin1String("OldNewsExist")) || line.startsWith(QLatin1String("NewsExist")))
                lines.append(line);
        }
        return lines;
    }

private Q_SLOTS:
    void init()
    {
        FWorld = std::make_unique<TNewsWorld>();
        QVERIFY(FWorld->IsValid());
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                         FWorld->SourceDir());
        FFrontEnd = std::make_unique<TFrontEndFixture>(TScriptCheck::Unanswered);
        FCheck = std::make_unique<TUpdateCheck>(nullptr);
    }

    void cleanup()
    {
        FCheck.reset();
        FFrontEnd.reset();
        FWorld.reset();
    }

    void newItemIsShownWhenItsIdIsGreater_data()
    {
        QTest::addColumn<qint32>("lastNewsID");  // NotStored: a fresh installation
        QTest::addColumn<QByteArray>("items");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<qint32>("lastNewsIDAfter");
        QTest::addColumn<QString>("logLine");  // a line the step must have logged

        const QString shownLine = QStringLiteral("NewsExist - Ende - Result: True");
        const QString oldLine = QStringLiteral("NewsExist - NewsItem bereits angezeigt");
        const QString newerLine =
            QStringLiteral("NewsExist - NewsItem verlangt höhere Updater-Version als installiert");

        QTest::newRow("5 after 4") << 4 << Item("id=\"5\" updaterversion=\"6\" datum=\"15.03.2024\"") << true
                                   << 5 << shownLine;
        QTest::newRow("5 after 5") << 5 << Item("id=\"5\" updaterversion=\"6\" datum=\"15.03.2024\"") << false
                                   << 5 << oldLine;
        QTest::newRow("3 after 5: not shown, but stored")
            << 5 << Item("id=\"3\" updaterversion=\"6\" datum=\"15.03.2024\"") << false << 3 << oldLine;
        QTest::newRow("fresh installation, id 0")
            << NotStored << Item("id=\"0\" updaterversion=\"1\" datum=\"1.1.2024\"") << true << 0
            << shownLine;
        QTest::newRow("fresh installation, id -1")
            << NotStored << Item("id=\"-1\" updaterversion=\"6\" datum=\"1.1.2024\"") << false << -1
            << oldLine;
        QTest::newRow("id with blanks and sign")
            << 4 << Item("id=\" +5 \" updaterversion=\" 6 \" datum=\"1.1.2024\"") << true << 5 << shownLine;
        QTest::newRow("the second item is ignored")
            << 5
            << Item("id=\"2\" updaterversion=\"6\" datum=\"1.1.2024\"") +
                   Item("id=\"9\" updaterversion=\"6\" datum=\"2.1.2024\"")
            << false << 2 << oldLine;
        QTest::newRow("a comment before the item does not hide it")
            << 4 << "<!-- aktuell -->" + Item("id=\"5\" updaterversion=\"6\" datum=\"1.1.2024\"") << true << 5
            << shownLine;
        QTest::newRow("updaterversion 7")
            << 4 << Item("id=\"5\" updaterversion=\"7\" datum=\"1.1.2024\"") << false << 4 << newerLine;
        QTest::newRow("updaterversion beyond 64 bits")
            << 4 << Item("id=\"5\" updaterversion=\"99999999999999999999999\" datum=\"1.1.2024\"") << false
            << 4 << newerLine;
        QTest::newRow("no updaterversion")
            << 4 << Item("id=\"5\" datum=\"1.1.2024\"") << false << 4 << newerLine;
        QTest::newRow("no id") << 4 << Item("updaterversion=\"6\" datum=\"1.1.2024\"") << false << 4
                               << QStringLiteral("NewsExist - NewsItem hat keine ID-Angabe");
        QTest::newRow("no item") << 4 << QByteArray() << false << 4
                                 << QStringLiteral("NewsExist - Ende - Result: False");
    }

    void newItemIsShownWhenItsIdIsGreater()
    {
        QFETCH(qint32, lastNewsID);
        QFETCH(QByteArray, items);
        QFETCH(bool, shown);
        QFETCH(qint32, lastNewsIDAfter);
        QFETCH(QString, logLine);
        if (lastNewsID != NotStored)
            WriteIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastNewsID,
                              lastNewsID);
        QVERIFY(PublishNews(items));

        QCOMPARE(FCheck->CheckForNews(), shown);
        QCOMPARE(FFrontEnd->ShownNews().size(), shown ? 1 : 0);
        QCOMPARE(StoredLastNewsID(), lastNewsIDAfter);
        QVERIFY2(LogLines().contains(logLine), qPrintable(LogLines().join(u'\n')));
    }

    void shownItemIsNotShownAtTheNextRun()
    {
        QVERIFY(PublishNews(
            Item("id=\"5\" updaterversion=\"6\" datum=\"15.03.2024\"", "{\\rtf1 Hallo {\\b Welt}}")));
        QVERIFY(FCheck->CheckForNews());
        QCOMPARE(FFrontEnd->ShownNews(),
                 (QList<TShownNews>{{QStringLiteral("15.03.2024"), QStringLiteral("Hallo Welt")}}));
        QVERIFY(!FCheck->CheckForNews());
        QCOMPARE(FFrontEnd->ShownNews().size(), 1);
    }

    void lowerIdLetsTheNextHigherOneThrough()
    {
        WriteIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastNewsID, 5);
        QVERIFY(PublishNews(Item("id=\"3\" updaterversion=\"6\" datum=\"1.1.2024\"")));
        QVERIFY(!FCheck->CheckForNews());
        QVERIFY(PublishNews(Item("id=\"4\" updaterversion=\"6\" datum=\"1.1.2024\"")));
        QVERIFY(FCheck->CheckForNews());
    }

    void numberThatIsNoIntegerStopsTheStep_data()
    {
        QTest::addColumn<QByteArray>("attributes");
        QTest::addColumn<QString>("named");  // the text the message must name

        QTest::newRow("updaterversion in words")
            << QByteArray("id=\"5\" updaterversion=\"sechs\"") << QStringLiteral("sechs");
        QTest::newRow("updaterversion empty")
            << QByteArray("id=\"5\" updaterversion=\"\"") << QStringLiteral("\"\"");
        QTest::newRow("updaterversion with a fraction")
            << QByteArray("id=\"5\" updaterversion=\"6.5\"") << QStringLiteral("6.5");
        QTest::newRow("id in words") << QByteArray("id=\"f\xC3\xBCnf\" updaterversion=\"6\"")
                                     << QStringLiteral("fünf");
        QTest::newRow("id in hexadecimal")
            << QByteArray("id=\"$10\" updaterversion=\"6\"") << QStringLiteral("$10");
        QTest::newRow("id beyond 32 bits")
            << QByteArray("id=\"2147483648\" updaterversion=\"6\"") << QStringLiteral("2147483648");
    }

    void numberThatIsNoIntegerStopsTheStep()
    {
        QFETCH(QByteArray, attributes);
        QFETCH(QString, named);
        WriteIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastNewsID, 4);
        QVERIFY(PublishNews(Item(attributes + " datum=\"1.1.2024\"")));
        try {
            FCheck->CheckForNews();
            QFAIL("no error");
        } catch (const EVorlandtError& error) {
            QCOMPARE(error.kind(), EVorlandtError::Kind::Convert);
            QVERIFY2(error.message().contains(named), qPrintable(error.message()));
        }
        QCOMPARE(StoredLastNewsID(), 4);
        QVERIFY(FFrontEnd->ShownNews().isEmpty());
        QCOMPARE(LogLines().last(), QStringLiteral("CheckForNews - Result: False"));
    }

    void switchedOffNothingIsFetchedOrShown()
    {
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::NewsAktiv, false);
        QVERIFY(PublishNews(Item("id=\"5\" updaterversion=\"6\" datum=\"1.1.2024\"")));
        QVERIFY(Postpone(QStringLiteral("2024-03-01_2024-03-15_1_VL_NewsRTF.tmp"), "alt"));

        QVERIFY(!FCheck->CheckForNews());
        QVERIFY(FFrontEnd->ShownNews().isEmpty());
        QVERIFY(!QFileInfo::exists(FWorld->TempDir() + QStringLiteral("news.xml")));
        QCOMPARE(NewsLogLines(),
                 (QStringList{QStringLiteral("CheckForNews - News-Anzeige in den Einstellungen deaktiviert"),
                              QStringLiteral("CheckForNews - Result: False")}));
        QCOMPARE(StoredLastNewsID(), NotStored);
    }

    void unreachableNewsFileHidesPostponedItemsToo()
    {
        const QString due = QStringLiteral("2024-03-01_2024-03-15_1_VL_NewsRTF.tmp");
        QVERIFY(Postpone(due, "alt"));
        QVERIFY(!FCheck->CheckForNews());
        QVERIFY(FFrontEnd->ShownNews().isEmpty());
        QCOMPARE(FWorld->DataFiles(), QStringList{due});
        QCOMPARE(NewsLogLines(), (QStringList{QStringLiteral("CheckForNews - Aufruf von \"DownloadNewsXML\""),
                                              QStringLiteral("CheckForNews - Result: False")}));
    }

    void postponedItemsComeFirstThenTheNewOne()
    {
        WriteIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastNewsID, 7);
        QVERIFY(PublishNews(Item("id=\"8\" updaterversion=\"6\" datum=\"15.03.2024\"", "{\\rtf1 neu}")));
        QVERIFY(Postpone(QStringLiteral("2024-03-02_2024-03-15_1_VL_NewsRTF.tmp"), "{\\rtf1 zwei}"));
        QVERIFY(Postpone(QStringLiteral("2024-03-01_2024-03-15_10_VL_NewsRTF.tmp"), "{\\rtf1 eins}"));
        QVERIFY(Postpone(QStringLiteral("2024-03-01_2024-03-16_1_VL_NewsRTF.tmp"), "{\\rtf1 morgen}"));

        QVERIFY(FCheck->CheckForNews());
        QCOMPARE(FFrontEnd->ShownNews(),
                 (QList<TShownNews>{{QStringLiteral("01.03.2024"), QStringLiteral("eins")},
                                    {QStringLiteral("02.03.2024"), QStringLiteral("zwei")},
                                    {QStringLiteral("15.03.2024"), QStringLiteral("neu")}}));
        // Shown and closed with "Nicht wieder anzeigen.": only tomorrow's stays.
        QCOMPARE(FWorld->DataFiles(), QStringList{QStringLiteral("2024-03-01_2024-03-16_1_VL_NewsRTF.tmp")});
        QCOMPARE(NewsLogLines(), (QStringList{QStringLiteral("CheckForNews - Aufruf von \"DownloadNewsXML\""),
                                              QStringLiteral("CheckForNews - Check von \"OldNewsExists\""),
                                              QStringLiteral("OldNewsExist - Start"),
                                              QStringLiteral("OldNewsExist - Ende - Result: True"),
                                              QStringLiteral("CheckForNews - Check von \"NewsExists\""),
                                              QStringLiteral("NewsExist - Start"),
                                              QStringLiteral("NewsExist - Ende - Result: True"),
                                              QStringLiteral("CheckForNews - Result: True")}));
    }

    void postponedItemComesBackOnItsDayWithItsFirstDate()
    {
        QVERIFY(
            PublishNews(Item("id=\"5\" updaterversion=\"6\" datum=\"12.03.2024\"", "{\\rtf1 Sommerfest}")));
        TNewsWorld::SetNow(QDate(2024, 3, 15), QTime(23, 0));
        FFrontEnd->ChooseForNews({0});
        QVERIFY(FCheck->CheckForNews());

        // Later the same evening: nothing.
        TNewsWorld::SetNow(QDate(2024, 3, 15), QTime(23, 30));
        QVERIFY(!FCheck->CheckForNews());
        QCOMPARE(FFrontEnd->ShownNews().size(), 1);

        // Next day: the old item again, though the file's item was shown already; postponed
        // once more for a week.
        TNewsWorld::SetNow(QDate(2024, 3, 16), QTime(8, 0));
        FFrontEnd->ChooseForNews({2});
        QVERIFY(!FCheck->CheckForNews());
        QCOMPARE(FFrontEnd->ShownNews().size(), 2);
        QCOMPARE(FFrontEnd->ShownNews().last(),
                 (TShownNews{QStringLiteral("12.03.2024"), QStringLiteral("Sommerfest")}));
        QCOMPARE(FWorld->DataFiles(), QStringList{QStringLiteral("2024-03-12_2024-03-23_1_VL_NewsRTF.tmp")});
    }

    void postponedItemThatCannotBeShownDoesNotStopTheStep()
    {
        // A damaged copy far too large to be a news text: its error is shown, it is removed as
        // shown, and the step goes on.
        const QString damaged = FWorld->DataDir() + QStringLiteral("2024-03-01_2024-03-15_1_VL_NewsRTF.tmp");
        QFile file(damaged);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(1) << 36));
        file.close();
        QVERIFY(Postpone(QStringLiteral("2024-03-02_2024-03-15_1_VL_NewsRTF.tmp"), "{\\rtf1 alt}"));
        QVERIFY(PublishNews(Item("id=\"5\" updaterversion=\"6\" datum=\"15.03.2024\"")));
        FFrontEnd->Answer({mrOk});

        QVERIFY(FCheck->CheckForNews());
        QCOMPARE(ShownDates(), (QStringList{TNewsItem::EmptyNewsDate, QStringLiteral("02.03.2024"),
                                            QStringLiteral("15.03.2024")}));
        QCOMPARE(FFrontEnd->Messages().size(), 1);
        QCOMPARE(FFrontEnd->Messages().first().type, TMsgDlgType::mtError);
        QVERIFY(FFrontEnd->Messages().first().text.contains(damaged));
        QVERIFY(FWorld->DataFiles().isEmpty());
    }

    void consoleLessFrontEndPrintsTheItemsAndDoesNotPostpone()
    {
        QVERIFY(PublishNews(
            Item("id=\"5\" updaterversion=\"6\" datum=\"15.03.2024\"", "{\\rtf1 Neu\\par Zeile}")));
        QVERIFY(Postpone(QStringLiteral("2024-03-01_2024-03-15_1_VL_NewsRTF.tmp"), "{\\rtf1 alt}"));
        const QString captured = FWorld->Path(QStringLiteral("stderr.txt"));
        const int savedStderr = ::dup(STDERR_FILENO);
        const int file = ::open(QFile::encodeName(captured).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(savedStderr >= 0 && file >= 0);
        ::dup2(file, STDERR_FILENO);
        ::close(file);
        TFrontEnd* scripted = SetFrontEnd(nullptr);
        bool result = false;
        {
            const auto restore = qScopeGuard([&] {
                SetFrontEnd(scripted);
                std::fflush(stderr);
                ::dup2(savedStderr, STDERR_FILENO);
                ::close(savedStderr);
            });
            result = FCheck->CheckForNews();
        }
        QVERIFY(result);
        QCOMPARE(ReadFile(captured),
                 QByteArray("Neuigkeit vom 01.03.2024\nalt\nNeuigkeit vom 15.03.2024\nNeu\nZeile\n"));
        QVERIFY(FWorld->DataFiles().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestNewsFeed)
#include "tst_newsFeed.moc"
