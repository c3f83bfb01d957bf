// Dates and times read back: lenient reading, the round trip with what is written, a time skipped
// by daylight saving and the errors, always with the settings given and a fixed clock.
#include "RegionalSamples.h"

#include "core/platform/Clock.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/text/DateFormat.h"
#include "core/platform/text/DateParse.h"
#include "support/TestClock.h"

#include <QScopeGuard>
#include <QTest>

#include <time.h>

using namespace platform;
using namespace regional_samples;

class TestDateParse : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // Two-digit years are read in a window around "now": fix it.
        TestClock::set(At(2025, 6, 15, 12, 0, 0));
    }

    void cleanup() { TestClock::set(QDateTime()); }

    void readsDatesLeniently_data()
    {
        QTest::addColumn<TFormatSettings>("settings");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("moment");  // invalid: not a date and time
        const QDateTime no;
        // clang-format off
        QTest::newRow("stored default") << German() << "01.01.2012 00:00:00" << At(2012, 1, 1);
        QTest::newRow("date only") << German() << "5.3.2024" << At(2024, 3, 5);
        QTest::newRow("hours and minutes") << German() << "05.03.2024 7:09" << At(2024, 3, 5, 7, 9);
        QTest::newRow("blanks around the parts") << German() << "  5 . 3 . 2024   07:09:03 " << At(2024, 3, 5, 7, 9, 3);
        QTest::newRow("trailing line break") << German() << "05.03.2024 07:09:03\r\n" << At(2024, 3, 5, 7, 9, 3);
        QTest::newRow("two-digit year, this century") << German() << "5.3.24" << At(2024, 3, 5);
        QTest::newRow("two-digit year, window start") << German() << "1.1.75" << At(1975, 1, 1);
        QTest::newRow("two-digit year, window end") << German() << "1.1.74" << At(2074, 1, 1);
        QTest::newRow("one-digit year") << German() << "1.1.5" << At(2005, 1, 1);
        QTest::newRow("leap day") << German() << "29.02.2024" << At(2024, 2, 29);
        QTest::newRow("US order") << US() << "3/5/2024" << At(2024, 3, 5);
        QTest::newRow("US PM") << US() << "3/5/2024 1:00 PM" << At(2024, 3, 5, 13);
        QTest::newRow("US pm in lower case") << US() << "3/5/2024 12:30 pm" << At(2024, 3, 5, 12, 30);
        QTest::newRow("US midnight") << US() << "3/5/2024 12:00:00 AM" << At(2024, 3, 5);
        QTest::newRow("US marker first") << US() << "3/5/2024 PM 1:00" << At(2024, 3, 5, 13);
        QTest::newRow("US 24-hour text") << US() << "3/5/2024 13:00" << At(2024, 3, 5, 13);
        QTest::newRow("German reads AM/PM too") << German() << "5.3.2024 1:00 PM" << At(2024, 3, 5, 13);
        QTest::newRow("ISO order") << Iso() << "2024-3-5 23:59:59" << At(2024, 3, 5, 23, 59, 59);
        QTest::newRow("empty") << German() << "" << no;
        QTest::newRow("blanks only") << German() << "   " << no;
        QTest::newRow("words") << German() << "gestern" << no;
        QTest::newRow("foreign separator") << German() << "05/03/2024" << no;
        QTest::newRow("no year") << German() << "5.3" << no;
        QTest::newRow("31 February") << German() << "31.02.2024" << no;
        QTest::newRow("month 13") << German() << "1.13.2024" << no;
        QTest::newRow("day 0") << German() << "0.1.2024" << no;
        QTest::newRow("year 0") << German() << "1.1.0000" << no;
        QTest::newRow("five-digit year") << German() << "1.1.20245" << no;
        QTest::newRow("three-digit day") << German() << "001.1.2024" << no;
        QTest::newRow("huge number") << German() << "99999999999999999999.1.2024" << no;
        QTest::newRow("trailing text") << German() << "05.03.2024 x" << no;
        QTest::newRow("hour only") << German() << "05.03.2024 7" << no;
        QTest::newRow("hour 24") << German() << "05.03.2024 24:00" << no;
        QTest::newRow("minute 60") << German() << "05.03.2024 7:60" << no;
        QTest::newRow("PM after 13") << US() << "3/5/2024 13:00 PM" << no;
        QTest::newRow("two markers") << US() << "3/5/2024 AM 1:00 PM" << no;
        QTest::newRow("ISO text with German settings") << German() << "2024-03-05" << no;
        // clang-format on
    }

    void readsDatesLeniently()
    {
        QFETCH(TFormatSettings, settings);
        QFETCH(QString, text);
        QFETCH(QDateTime, moment);
        const std::optional<QDateTime> read = TryStrToDateTime(text, settings);
        QCOMPARE(read.has_value(), moment.isValid());
        if (moment.isValid())
            QCOMPARE(*read, moment);
    }

    void dateReadingRefusesATime()
    {
        QCOMPARE(TryStrToDate(QStringLiteral(" 9.12.2026 "), German()),
                 std::optional<QDate>(QDate(2026, 12, 9)));
        QVERIFY(!TryStrToDate(QStringLiteral("09.12.2026 07:00"), German()));
    }

    void whatIsWrittenReadsBack_data()
    {
        QTest::addColumn<TFormatSettings>("settings");
        QTest::newRow("German") << German();
        QTest::newRow("US") << US();
        QTest::newRow("ISO") << Iso();
        QTest::newRow("British two-digit year")
            << FormatSettingsFromStrftime(QStringLiteral("%d/%m/%y"), QStringLiteral("%H:%M"), {}, {});
        QTest::newRow("dots everywhere")
            << FormatSettingsFromStrftime(QStringLiteral("%d.%m.%Y"), QStringLiteral("%H.%M.%S"), {}, {});
        QTest::newRow("marker first")
            << FormatSettingsFromStrftime(QStringLiteral("%Y/%m/%d"), QStringLiteral("%p %I:%M:%S"),
                                          QStringLiteral("a.m."), QStringLiteral("p.m."));
    }

    void whatIsWrittenReadsBack()
    {
        QFETCH(TFormatSettings, settings);
        const bool withSeconds = settings.LongTimeFormat.contains(u's');
        for (const QDateTime& moment :
             {At(2025, 6, 15, 0, 0, 0), At(2024, 2, 29, 12, 0, 59), At(2001, 12, 31, 23, 59, 1),
              At(2030, 1, 1, 11, 59, 30), At(2025, 6, 15, 12, 30, 0)}) {
            const QString text = DateTimeToStr(moment, settings);
            const QDateTime expected = withSeconds ? moment : moment.addSecs(-moment.time().second());
            QCOMPARE(TryStrToDateTime(text, settings), std::optional<QDateTime>(expected));
            QCOMPARE(TryStrToDate(DateToStr(moment.date(), settings), settings),
                     std::optional<QDate>(moment.date()));
        }
    }

    void wallClockTimeSkippedByDaylightSavingStillReads()
    {
        const QByteArray oldTz = qgetenv("TZ");
        const auto restore = qScopeGuard([&oldTz] {
            if (oldTz.isNull())
                qunsetenv("TZ");
            else
                qputenv("TZ", oldTz);
            tzset();
        });
        qputenv("TZ", "Europe/Berlin");
        tzset();
        if (QDateTime(QDate(2024, 3, 31), QTime(2, 30)).isValid())
            QSKIP("the time zone data for Europe/Berlin is not available");
        const auto read = TryStrToDateTime(QStringLiteral("31.03.2024 02:30"), German());
        QVERIFY(read.has_value());
        QCOMPARE(read->toUTC(), QDateTime(QDate(2024, 3, 31), QTime(1, 30), Qt::UTC));
    }

    void conversionErrorsNameTheText()
    {
        try {
            StrToDateTime(QStringLiteral("morgen"), German());
            QFAIL("no error raised");
        } catch (const EVorlandtError& e) {
            QCOMPARE(e.kind(), EVorlandtError::Kind::Convert);
            QCOMPARE(e.message(), QStringLiteral(u"'morgen' ist kein gültiges Datum und Uhrzeit"));
        }
        try {
            StrToDate(QStringLiteral("31.02.2024"), German());
            QFAIL("no error raised");
        } catch (const EVorlandtError& e) {
            QCOMPARE(e.kind(), EVorlandtError::Kind::Convert);
            QCOMPARE(e.message(), QStringLiteral(u"'31.02.2024' ist kein gültiges Datum"));
        }
        QCOMPARE(StrToDateTime(QStringLiteral("01.01.2012 00:00:00"), German()), At(2012, 1, 1));
    }
};

QTEST_GUILESS_MAIN(TestDateParse)
#include "tst_dateParse.moc"
