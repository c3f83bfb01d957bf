// The news window's decisions without a window: what an item shows, how "VL_NewsRTF.tmp" is
// written, which postponed copy is stored under which name, which copies are due today, and
// what happens to a postponed file when its showing closes.
#include "support/NewsWorld.h"
#include "support/TestClock.h"
#include "support/TestFormatSettings.h"

#include "core/news/NewsItem.h"
#include "core/platform/VorlandtError.h"

#include <QTest>

#include <csignal>
#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString NewsTmp = QStringLiteral("VL_NewsRTF.tmp");

QByteArray NewsXml(const QByteArray& item)
{
    return "<news>" + item + "</news>";
}

// Makes every write beyond `bytes` fail for the lifetime of the object, as a full disk would.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &FOld);
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = FOld;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit FOld{};
    void (*FOldHandler)(int) = nullptr;
};

}  // namespace

class TestNewsItem : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TNewsWorld> FWorld;

    // Shows a new item built from `item` and closes it with `choice`; the stored copy's name.
    QString ShowAndClose(const QByteArray& item, int choice)
    {
        pugi::xml_document document;
        if (!ParseNews(document, NewsXml(item)))
            return QStringLiteral("<bad fixture>");
        TNewsItem news(document.document_element().first_child());
        news.FormShow();
        const QStringList before = FWorld->DataFiles();
        news.FormClose(choice);
        QStringList added = FWorld->DataFiles();
        for (const QString& name : before)
            added.removeOne(name);
        return added.join(u',');
    }

private Q_SLOTS:
    void init()
    {
        FWorld = std::make_unique<TNewsWorld>();
        QVERIFY(FWorld->IsValid());
    }

    void cleanup() { FWorld.reset(); }

    void newItemTextGoesThroughTheTemporaryFileAsLines_data()
    {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QByteArray>("fileBytes");

        QTest::newRow("rtf, line ends made CR LF, one after the last line")
            << QByteArray("<n><beschreibung>{\\rtf1 Zeile\\par\nzwei\\par\r\nende}</beschreibung></n>")
            << QByteArray("{\\rtf1 Zeile\\par\r\nzwei\\par\r\nende}\r\n");
        QTest::newRow("letters of the code page become its bytes")
            << QByteArray(
                   "<n><beschreibung>{\\rtf1 Gr\xC3\xB6\xC3\x9F"
                   "e \xE2\x82\xAC}</beschreibung></n>")
            << QByteArray(
                   "{\\rtf1 Gr\xF6\xDF"
                   "e \x80}\r\n");
        QTest::newRow("a letter beyond the code page stays an rtf escape")
            << QByteArray("<n><beschreibung>{\\rtf1 \xE4\xB8\xAD}</beschreibung></n>")
            << QByteArray("{\\rtf1 {\\uc0\\u20013}}\r\n");
        QTest::newRow("text in several CDATA sections arrives whole")
            << QByteArray("<n><beschreibung><![CDATA[{\\rtf1 a]]><!-- x --><![CDATA[b}]]></beschreibung></n>")
            << QByteArray("{\\rtf1 ab}\r\n");
        QTest::newRow("plain text") << QByteArray("<n><beschreibung>Hallo\nWelt</beschreibung></n>")
                                    << QByteArray("Hallo\r\nWelt\r\n");
        QTest::newRow("no text element: an empty file") << QByteArray("<n/>") << QByteArray();
    }

    void newItemTextGoesThroughTheTemporaryFileAsLines()
    {
        QFETCH(QByteArray, item);
        QFETCH(QByteArray, fileBytes);
        // A leftover of an earlier item is replaced, not appended to.
        QVERIFY(WriteFile(FWorld->TempDir() + NewsTmp, QByteArray(5000, 'x')));
        item.insert(2, " datum=\"15.03.2024\"");
        pugi::xml_document document;
        QVERIFY(ParseNews(document, NewsXml(item)));

        TNewsItem news(document.document_element().first_child());
        news.FormShow();
        QCOMPARE(ReadFile(FWorld->TempDir() + NewsTmp), fileBytes);
        QCOMPARE(news.NewsRtf(), fileBytes);
        QCOMPARE(news.NewsDate(), QStringLiteral("15.03.2024"));
    }

    void newItemDateLabelIsTheTextUnchanged_data()
    {
        QTest::addColumn<QByteArray>("datum");
        QTest::newRow("locale date") << QByteArray("01.02.2024");
        QTest::newRow("unreadable as a date") << QByteArray("Mitte M\xC3\xA4rz 2024");
        QTest::newRow("empty") << QByteArray("");
    }

    void newItemDateLabelIsTheTextUnchanged()
    {
        QFETCH(QByteArray, datum);
        pugi::xml_document document;
        QVERIFY(
            ParseNews(document, NewsXml("<n datum=\"" + datum + "\"><beschreibung>x</beschreibung></n>")));
        TNewsItem news(document.document_element().first_child());
        news.FormShow();
        QCOMPARE(news.NewsDate(), QString::fromUtf8(datum));
    }

    void showingErrorsKeepWhatWasLoaded()
    {
        // No node at all.
        {
            TNewsItem news{pugi::xml_node()};
            try {
                news.FormShow();
                QFAIL("no error for a missing node");
            } catch (const EVorlandtError& error) {
                QCOMPARE(error.message(), QStringLiteral("Kein Update-Node angegeben."));
            }
            QCOMPARE(news.NewsDate(), TNewsItem::EmptyNewsDate);
            QVERIFY(news.NewsRtf().isEmpty());
        }
        // A node without "datum": the text is there, the label keeps its placeholder.
        {
            pugi::xml_document document;
            QVERIFY(ParseNews(document, NewsXml("<n><beschreibung>{\\rtf1 Text}</beschreibung></n>")));
            TNewsItem news(document.document_element().first_child());
            QVERIFY_THROWS_EXCEPTION(EVorlandtError, news.FormShow());
            QCOMPARE(news.NewsRtf(), QByteArray("{\\rtf1 Text}\r\n"));
            QCOMPARE(news.NewsDate(), TNewsItem::EmptyNewsDate);
        }
        // A temporary folder that is gone.
        {
            pugi::xml_document document;
            QVERIFY(ParseNews(document, NewsXml("<n datum=\"1.1.2024\"><beschreibung>x</beschreibung></n>")));
            TNewsItem news(document.document_element().first_child());
            qputenv("TMPDIR", QFile::encodeName(FWorld->Path(QStringLiteral("missing"))));
            QVERIFY_THROWS_EXCEPTION(EVorlandtError, news.FormShow());
            QCOMPARE(news.NewsDate(), TNewsItem::EmptyNewsDate);
            // Nothing read, nothing to postpone.
            news.FormClose(0);
            QVERIFY(FWorld->DataFiles().isEmpty());
        }
    }

    void temporaryFileNameTakenByALinkDoesNotWriteThroughIt()
    {
        const QString victim = FWorld->Path(QStringLiteral("victim.txt"));
        QVERIFY(WriteFile(victim, "keep me"));
        QVERIFY(QFile::link(victim, FWorld->TempDir() + NewsTmp));
        pugi::xml_document document;
        QVERIFY(ParseNews(document, NewsXml("<n datum=\"1.1.2024\"><beschreibung>neu</beschreibung></n>")));
        TNewsItem news(document.document_element().first_child());
        news.FormShow();
        QCOMPARE(ReadFile(victim), QByteArray("keep me"));
        QCOMPARE(news.NewsRtf(), QByteArray("neu\r\n"));
    }

    void postponedFileShowsItsBytesAndTheDateFromItsName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("datum");
        QTest::newRow("counter 1") << QStringLiteral("2024-03-15_2024-03-16_1_VL_NewsRTF.tmp")
                                   << QStringLiteral("15.03.2024");
        QTest::newRow("counter 12") << QStringLiteral("2023-12-01_2024-03-16_12_VL_NewsRTF.tmp")
                                    << QStringLiteral("01.12.2023");
    }

    void postponedFileShowsItsBytesAndTheDateFromItsName()
    {
        QFETCH(QString, name);
        QFETCH(QString, datum);
        const QByteArray rtf("{\\rtf1\\ansi {\\b fett}\\par}\r\n\x80");
        QVERIFY(WriteFile(FWorld->DataDir() + name, rtf));
        TNewsItem news(FWorld->DataDir() + name);
        news.FormShow();
        QCOMPARE(news.NewsRtf(), rtf);
        QCOMPARE(news.NewsDate(), datum);
    }

    void postponedFileThatCannotBeReadIsAnError()
    {
        const QString path = FWorld->DataDir() + QStringLiteral("2024-03-15_2024-03-15_1_VL_NewsRTF.tmp");
        QVERIFY(QDir().mkpath(path));
        TNewsItem news(path);
        try {
            news.FormShow();
            QFAIL("no error for a folder");
        } catch (const EVorlandtError& error) {
            QVERIFY2(error.message().contains(path), qPrintable(error.message()));
        }
        QCOMPARE(news.NewsDate(), TNewsItem::EmptyNewsDate);
    }

    void choiceDecidesTheStoredCopy_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("stored");  // empty: nothing

        const QDateTime morning(QDate(2024, 3, 15), QTime(10, 0));
        QTest::newRow("tomorrow") << morning << 0 << QStringLiteral("2024-03-15_2024-03-16_1_VL_NewsRTF.tmp");
        QTest::newRow("the day after tomorrow")
            << morning << 1 << QStringLiteral("2024-03-15_2024-03-17_1_VL_NewsRTF.tmp");
        QTest::newRow("in a week") << morning << 2
                                   << QStringLiteral("2024-03-15_2024-03-22_1_VL_NewsRTF.tmp");
        QTest::newRow("not again (the default)") << morning << 3 << QString();
        QTest::newRow("no selection") << morning << -1 << QString();
        QTest::newRow("index beyond the list") << morning << 4 << QString();
        QTest::newRow("tomorrow, asked at 23:00") << QDateTime(QDate(2024, 3, 15), QTime(23, 0)) << 0
                                                  << QStringLiteral("2024-03-15_2024-03-16_1_VL_NewsRTF.tmp");
        QTest::newRow("a week, across the year's end")
            << QDateTime(QDate(2024, 12, 28), QTime(8, 0)) << 2
            << QStringLiteral("2024-03-15_2025-01-04_1_VL_NewsRTF.tmp");
    }

    void choiceDecidesTheStoredCopy()
    {
        QFETCH(QDateTime, now);
        QFETCH(int, choice);
        QFETCH(QString, stored);
        TestClock::set(now);
        QCOMPARE(ShowAndClose("<n datum=\"15.03.2024\"><beschreibung>{\\rtf1 x}</beschreibung></n>", choice),
                 stored);
        if (!stored.isEmpty()) {
            QCOMPARE(ReadFile(FWorld->DataDir() + stored), QByteArray("{\\rtf1 x}\r\n"));
            // The user's alone, whatever the umask: only then is it shown again.
            struct stat info {};
            QCOMPARE(::stat(QFile::encodeName(FWorld->DataDir() + stored).constData(), &info), 0);
            QCOMPARE(info.st_mode & 07777, mode_t(0600));
        }
    }

    void postponingTwiceForOneDayCountsUp()
    {
        const QByteArray item("<n datum=\"15.03.2024\"><beschreibung>x</beschreibung></n>");
        QCOMPARE(ShowAndClose(item, 0), QStringLiteral("2024-03-15_2024-03-16_1_VL_NewsRTF.tmp"));
        QCOMPARE(ShowAndClose(item, 0), QStringLiteral("2024-03-15_2024-03-16_2_VL_NewsRTF.tmp"));
        // A dangling link holds its name too: a copy created there would land where it points.
        QVERIFY(QFile::link(FWorld->Path(QStringLiteral("nowhere")),
                            FWorld->DataDir() + QStringLiteral("2024-03-15_2024-03-16_3_VL_NewsRTF.tmp")));
        QCOMPARE(TNewsItem::GetNewsFileName(FWorld->DataDir(), QDate(2024, 3, 15), QDate(2024, 3, 16)),
                 FWorld->DataDir() + QStringLiteral("2024-03-15_2024-03-16_4_VL_NewsRTF.tmp"));
        QVERIFY(!QFileInfo::exists(FWorld->Path(QStringLiteral("nowhere"))));
    }

    void newsDateOfTheCopy_data()
    {
        QTest::addColumn<QByteArray>("datum");
        QTest::addColumn<QString>("stored");
        QTest::newRow("read in the locale")
            << QByteArray("1.2.2024") << QStringLiteral("2024-02-01_2024-03-16_1_VL_NewsRTF.tmp");
        QTest::newRow("unreadable: today")
            << QByteArray("Anfang Februar") << QStringLiteral("2024-03-15_2024-03-16_1_VL_NewsRTF.tmp");
    }

    void newsDateOfTheCopy()
    {
        QFETCH(QByteArray, datum);
        QFETCH(QString, stored);
        QCOMPARE(ShowAndClose("<n datum=\"" + datum + "\"><beschreibung>x</beschreibung></n>", 0), stored);
    }

    void dueFilesAreFoundWhateverTheirCounter_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("due");

        QTest::newRow("none") << QStringList() << QStringList();
        QTest::newRow("due today, counters 1, 2 and 10, sorted by name")
            << QStringList{QStringLiteral("2024-03-14_2024-03-15_2_VL_NewsRTF.tmp"),
                           QStringLiteral("2024-03-01_2024-03-15_10_VL_NewsRTF.tmp"),
                           QStringLiteral("2024-03-14_2024-03-15_1_VL_NewsRTF.tmp")}
            << QStringList{QStringLiteral("2024-03-01_2024-03-15_10_VL_NewsRTF.tmp"),
                           QStringLiteral("2024-03-14_2024-03-15_1_VL_NewsRTF.tmp"),
                           QStringLiteral("2024-03-14_2024-03-15_2_VL_NewsRTF.tmp")};
        QTest::newRow("other days and names are left alone")
            << QStringList{QStringLiteral("2024-03-14_2024-03-16_1_VL_NewsRTF.tmp"),
                           QStringLiteral("2024-03-15_2024-03-14_1_VL_NewsRTF.tmp"),
                           QStringLiteral("2024-03-14_2024-03-15__VL_NewsRTF.tmp"),
                           QStringLiteral("2024-03-14_2024-03-15_x_VL_NewsRTF.tmp"),
                           QStringLiteral("2024-03-14_2024-03-15_1_VL_NewsRTF.tmp.bak"),
                           QStringLiteral("x2024-03-14_2024-03-15_1_VL_NewsRTF.tmp"),
                           QStringLiteral("2024-03-14_2024-03-15_1_vl_newsrtf.tmp"),
                           QStringLiteral("VL_NewsRTF.tmp")}
            << QStringList();
    }

    void dueFilesAreFoundWhateverTheirCounter()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, due);
        for (const QString& name : names)
            QVERIFY(WriteFile(FWorld->DataDir() + name, "x"));
        QStringList expected;
        for (const QString& name : due)
            expected.append(FWorld->DataDir() + name);
        QCOMPARE(TNewsItem::GetOldNewsFiles(), expected);
    }

    // Only a copy of the user's own counts: a folder, a link, a file with a second name (a hard
    // link to a file somebody else fills) or one that others may write is skipped, and reading
    // one checks the open file again.
    void dueNamesThatAreNoOwnCopiesAreSkipped()
    {
        const QString due = QStringLiteral("2024-03-14_2024-03-15_%1_VL_NewsRTF.tmp");
        QVERIFY(QDir().mkpath(FWorld->DataDir() + due.arg(1)));
        QVERIFY(WriteFile(FWorld->Path(QStringLiteral("elsewhere.rtf")), "secret"));
        QVERIFY(QFile::link(FWorld->Path(QStringLiteral("elsewhere.rtf")), FWorld->DataDir() + due.arg(2)));
        QVERIFY(WriteFile(FWorld->DataDir() + due.arg(3), "x"));
        QCOMPARE(::link(QFile::encodeName(FWorld->Path(QStringLiteral("elsewhere.rtf"))).constData(),
                        QFile::encodeName(FWorld->DataDir() + due.arg(4)).constData()),
                 0);
        QVERIFY(WriteFile(FWorld->DataDir() + due.arg(5), "y"));
        QCOMPARE(::chmod(QFile::encodeName(FWorld->DataDir() + due.arg(5)).constData(), 0664), 0);

        QCOMPARE(TNewsItem::GetOldNewsFiles(), QStringList{FWorld->DataDir() + due.arg(3)});
        for (const int n : {4, 5}) {
            TNewsItem news(FWorld->DataDir() + due.arg(n));
            QVERIFY_THROWS_EXCEPTION(EVorlandtError, news.FormShow());
            QCOMPARE(news.NewsRtf(), QByteArray());
        }
    }

    void tomorrowAt23IsDueOnTheNextDayOnly()
    {
        TNewsWorld::SetNow(QDate(2024, 3, 15), QTime(23, 0));
        QVERIFY(!ShowAndClose("<n datum=\"15.03.2024\"><beschreibung>x</beschreibung></n>", 0).isEmpty());
        TNewsWorld::SetNow(QDate(2024, 3, 15), QTime(23, 59, 59));
        QCOMPARE(TNewsItem::GetOldNewsFiles().size(), 0);
        TNewsWorld::SetNow(QDate(2024, 3, 16), QTime(0, 0));
        QCOMPARE(TNewsItem::GetOldNewsFiles().size(), 1);
        TNewsWorld::SetNow(QDate(2024, 3, 16), QTime(23, 59));
        QCOMPARE(TNewsItem::GetOldNewsFiles().size(), 1);
        TNewsWorld::SetNow(QDate(2024, 3, 17), QTime(0, 0));
        QCOMPARE(TNewsItem::GetOldNewsFiles().size(), 0);
    }

    void closingAPostponedItem_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QStringList>("after");
        // Shown on 16 March; the item dates from 1 March.
        QTest::newRow("not again: the file goes") << 3 << QStringList();
        QTest::newRow("again tomorrow: a new copy keeps the news date")
            << 0 << QStringList{QStringLiteral("2024-03-01_2024-03-17_1_VL_NewsRTF.tmp")};
    }

    void closingAPostponedItem()
    {
        QFETCH(int, choice);
        QFETCH(QStringList, after);
        const QString old = FWorld->DataDir() + QStringLiteral("2024-03-01_2024-03-16_1_VL_NewsRTF.tmp");
        QVERIFY(WriteFile(old, "{\\rtf1 alt}"));
        TNewsWorld::SetNow(QDate(2024, 3, 16), QTime(9, 0));
        TNewsItem news(old);
        news.FormShow();
        news.FormClose(choice);
        QCOMPARE(FWorld->DataFiles(), after);
        for (const QString& name : after)
            QCOMPARE(ReadFile(FWorld->DataDir() + name), QByteArray("{\\rtf1 alt}"));
    }

    void postponedItemKeepsItsNewsDateInAnyLocale()
    {
        // A locale writing month/day/year cannot read the label "01.03.2024"; the date in the
        // file's name is kept all the same.
        TestFormatSettings::set(
            platform::FormatSettingsFromStrftime(QStringLiteral("%m/%d/%Y"), QStringLiteral("%I:%M:%S %p"),
                                                 QStringLiteral("AM"), QStringLiteral("PM")));
        const QString old = FWorld->DataDir() + QStringLiteral("2024-03-01_2024-03-16_1_VL_NewsRTF.tmp");
        QVERIFY(WriteFile(old, "x"));
        TNewsWorld::SetNow(QDate(2024, 3, 16), QTime(9, 0));
        TNewsItem news(old);
        news.FormShow();
        QCOMPARE(news.NewsDate(), QStringLiteral("01.03.2024"));
        news.FormClose(1);
        QCOMPARE(FWorld->DataFiles(), QStringList{QStringLiteral("2024-03-01_2024-03-18_1_VL_NewsRTF.tmp")});
    }

    void postponedItemWhoseCopyFailsIsKept()
    {
        const QString old = FWorld->DataDir() + QStringLiteral("2024-03-01_2024-03-16_1_VL_NewsRTF.tmp");
        const QByteArray rtf(200, 'r');
        QVERIFY(WriteFile(old, rtf));
        TNewsWorld::SetNow(QDate(2024, 3, 16), QTime(9, 0));
        TNewsItem news(old);
        news.FormShow();
        {
            const TFileSizeLimit diskFull(50);
            news.FormClose(0);
        }
        // No half copy, and the item is still there for the next check today.
        QCOMPARE(FWorld->DataFiles(), QStringList{QFileInfo(old).fileName()});
        QCOMPARE(ReadFile(old), rtf);
        QVERIFY(LogLines().filter(QStringLiteral("SaveNewsForLater - Fehler beim Speichern")).size() == 1);
    }
};

QTEST_GUILESS_MAIN(TestNewsItem)
#include "tst_newsItem.moc"
