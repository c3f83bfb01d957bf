// The regional date/time format: translation of the locale's patterns, Delphi-style formatting,
// lenient reading and the round trip between the two, always with injected settings and clock.
#include "core/platform/Clock.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/text/RegionalFormat.h"
#include "support/TestClock.h"

#include <QScopeGuard>
#include <QTest>

#include <time.h>

using namespace platform;

Q_DECLARE_METATYPE(platform::TFormatSettings)

namespace {

TFormatSettings German()
{
    return TFormatSettings::German();
}

TFormatSettings US()
{
    return FormatSettingsFromStrftime(QStringLiteral("%m/%d/%Y"), QStringLiteral("%I:%M:%S %p"),
                                      QStringLiteral("AM"), QStringLiteral("PM"));
}

TFormatSettings Iso()
{
    return FormatSettingsFromStrftime(QStringLiteral("%Y-%m-%d"), QStringLiteral("%H:%M:%S"), QString(),
                                      QString());
}

QDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

}  // namespace

class TestRegionalFormat : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // Two-digit years are read in a window around "now": fix it.
        TestClock::set(At(2025, 6, 15, 12, 0, 0));
    }

    void cleanup()
    {
        TestClock::set(QDateTime());
        SetFormatSettingsForTesting(std::nullopt);
    }

    void translatesLocalePatterns_data()
    {
        QTest::addColumn<QString>("dFmt");
        QTest::addColumn<QString>("tFmt");
        QTest::addColumn<QString>("am");
        QTest::addColumn<QString>("shortDate");
        QTest::addColumn<QString>("dateSep");
        QTest::addColumn<QString>("longTime");
        QTest::addColumn<QString>("timeSep");
        // clang-format off
        QTest::newRow("German") << "%d.%m.%Y" << "%T" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("US") << "%m/%d/%Y" << "%r" << "AM" << "mm/dd/yyyy" << "/" << "hh:nn:ss ampm" << ":";
        QTest::newRow("US spelled out") << "%m/%d/%Y" << "%I:%M:%S %p" << "AM" << "mm/dd/yyyy" << "/" << "hh:nn:ss ampm" << ":";
        QTest::newRow("ISO") << "%Y-%m-%d" << "%H:%M:%S" << "" << "yyyy-mm-dd" << "-" << "hh:nn:ss" << ":";
        QTest::newRow("%F and %R") << "%F" << "%R" << "" << "yyyy-mm-dd" << "-" << "hh:nn" << ":";
        QTest::newRow("%D") << "%D" << "%T" << "" << "mm/dd/yy" << "/" << "hh:nn:ss" << ":";
        QTest::newRow("British two-digit year") << "%d/%m/%y" << "%T" << "" << "dd/mm/yy" << "/" << "hh:nn:ss" << ":";
        QTest::newRow("unpadded and %e") << "%e.%-m.%Y" << "%-H.%M.%S" << "" << "d.m.yyyy" << "." << "h.nn.ss" << ".";
        QTest::newRow("marker first") << "%Y/%m/%d" << "%p %I:%M:%S" << "AM" << "yyyy/mm/dd" << "/" << "ampm hh:nn:ss" << ":";
        // Whatever cannot be written and read back unambiguously falls back to the German part.
        QTest::newRow("CJK date") << u"%Y年%m月%d日"_qs << "%H:%M:%S" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("month name") << "%d %b %Y" << "%T" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("trailing dot") << "%Y. %m. %d." << "%T" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("missing field") << "%m/%Y" << "%T" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("doubled field") << "%d/%d/%Y" << "%T" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("mixed separators") << "%d.%m/%Y" << "%T" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("blank separator") << "%d %m %Y" << "%T" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("era") << "%Ey" << "%T" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("dangling percent") << "%d.%m.%" << "%T" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("empty") << "" << "" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("time zone") << "%d.%m.%Y" << "%H:%M:%S %Z" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("12 hours without markers") << "%d.%m.%Y" << "%I:%M:%S %p" << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("12 hours without %p") << "%d.%m.%Y" << "%I:%M:%S" << "AM" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("24 hours with %p") << "%d.%m.%Y" << "%H:%M %p" << "AM" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        QTest::newRow("CJK time") << "%d.%m.%Y" << u"%H時%M分%S秒"_qs << "" << "dd.mm.yyyy" << "." << "hh:nn:ss" << ":";
        // clang-format on
    }

    void translatesLocalePatterns()
    {
        QFETCH(QString, dFmt);
        QFETCH(QString, tFmt);
        QFETCH(QString, am);
        QFETCH(QString, shortDate);
        QFETCH(QString, dateSep);
        QFETCH(QString, longTime);
        QFETCH(QString, timeSep);
        const QString pm = am.isEmpty() ? QString() : QStringLiteral("PM");
        const TFormatSettings s = FormatSettingsFromStrftime(dFmt, tFmt, am, pm);
        QCOMPARE(s.ShortDateFormat, shortDate);
        QCOMPARE(QString(s.DateSeparator), dateSep);
        QCOMPARE(s.LongTimeFormat, longTime);
        QCOMPARE(QString(s.TimeSeparator), timeSep);
    }

    void cLocaleAndUnknownLocalesGiveGerman_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("C") << QByteArray("C");
        QTest::newRow("POSIX") << QByteArray("POSIX");
        QTest::newRow("C.UTF-8") << QByteArray("C.UTF-8");
        QTest::newRow("not installed") << QByteArray("xx_NOWHERE.UTF-8");
    }

    void cLocaleAndUnknownLocalesGiveGerman()
    {
        QFETCH(QByteArray, name);
        QCOMPARE(FormatSettingsForLocale(name), TFormatSettings::German());
    }

    void formatsDelphiPatterns_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<TFormatSettings>("settings");
        QTest::addColumn<QString>("text");
        const QDateTime morning = At(2024, 3, 5, 7, 9, 3);
        const QDateTime afternoon = At(2024, 11, 25, 13, 45, 0);
        // clang-format off
        QTest::newRow("log time stamp, German") << "dd/mm/yyyy hh:nn" << morning << German() << "05.03.2024 07:09";
        QTest::newRow("log time stamp, US") << "dd/mm/yyyy hh:nn" << morning << US() << "05/03/2024 07:09";
        QTest::newRow("log time stamp, ISO") << "dd/mm/yyyy hh:nn" << morning << Iso() << "05-03-2024 07:09";
        QTest::newRow("news file prefix") << "yyyy-mm-dd_" << morning << US() << "2024-03-05_";
        QTest::newRow("unpadded") << "d.m.yy h:n:s" << morning << German() << "5.3.24 7:9:3";
        QTest::newRow("upper case letters") << "DD.MM.YYYY HH:NN" << morning << German() << "05.03.2024 07:09";
        QTest::newRow("m after h means minutes") << "hh:mm" << morning << German() << "07:09";
        QTest::newRow("minutes, then month again") << "hh:mm dd.mm" << morning << German() << "07:09 05.03";
        QTest::newRow("m after quoted text still minutes") << "h 'x' mm" << morning << German() << "7 x 09";
        QTest::newRow("single quotes literal") << "'dd/mm' yyyy" << morning << German() << "dd/mm 2024";
        QTest::newRow("double quotes literal") << "\"Stand:\" yyyy" << morning << German() << "Stand: 2024";
        QTest::newRow("unterminated quote runs to the end") << "yyyy 'hh" << morning << German() << "2024 hh";
        QTest::newRow("other characters literal") << "yyyy#x[]" << morning << German() << "2024#x[]";
        QTest::newRow("ampm from settings") << "hh:nn ampm" << afternoon << US() << "01:45 PM";
        QTest::newRow("ampm in the morning") << "h:nn ampm" << morning << US() << "7:09 AM";
        QTest::newRow("am/pm keeps its case") << "h am/pm" << afternoon << German() << "1 pm";
        QTest::newRow("AM/PM keeps its case") << "h AM/PM" << morning << German() << "7 AM";
        QTest::newRow("a/p") << "h a/p" << afternoon << German() << "1 p";
        QTest::newRow("midnight on the 12-hour clock") << "h ampm" << At(2024, 1, 1) << US() << "12 AM";
        QTest::newRow("noon on the 12-hour clock") << "h ampm" << At(2024, 1, 1, 12) << US() << "12 PM";
        QTest::newRow("24-hour clock without marker") << "hh" << afternoon << US() << "13";
        QTest::newRow("milliseconds") << "ss.zzz" << QDateTime(QDate(2024, 1, 1), QTime(0, 0, 5, 42)) << German() << "05.042";
        QTest::newRow("year with one y") << "y" << morning << German() << "24";
        QTest::newRow("year 2000") << "yy yyyy" << At(2000, 1, 1) << German() << "00 2000";
        // clang-format on
    }

    void formatsDelphiPatterns()
    {
        QFETCH(QString, pattern);
        QFETCH(QDateTime, moment);
        QFETCH(TFormatSettings, settings);
        QFETCH(QString, text);
        QCOMPARE(FormatDateTime(pattern, moment, settings), text);
    }

    void writesShortDateAndDateTime_data()
    {
        QTest::addColumn<TFormatSettings>("settings");
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("dateTime");
        QTest::newRow("German") << German() << At(2026, 12, 9, 7, 5, 3) << "09.12.2026"
                                << "09.12.2026 07:05:03";
        QTest::newRow("German midnight keeps the time") << German() << At(2012, 1, 1) << "01.01.2012"
                                                        << "01.01.2012 00:00:00";
        QTest::newRow("US") << US() << At(2026, 12, 9, 19, 5, 3) << "12/09/2026"
                            << "12/09/2026 07:05:03 PM";
        QTest::newRow("ISO") << Iso() << At(2026, 12, 9, 19, 5, 3) << "2026-12-09"
                             << "2026-12-09 19:05:03";
    }

    void writesShortDateAndDateTime()
    {
        QFETCH(TFormatSettings, settings);
        QFETCH(QDateTime, moment);
        QFETCH(QString, date);
        QFETCH(QString, dateTime);
        QCOMPARE(DateToStr(moment.date(), settings), date);
        QCOMPARE(DateTimeToStr(moment, settings), dateTime);
    }

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

    void processWideSettingsCanBeReplaced()
    {
        const TFormatSettings before = FormatSettings();
        SetFormatSettingsForTesting(US());
        QCOMPARE(DateToStr(QDate(2026, 12, 9)), QStringLiteral("12/09/2026"));
        QCOMPARE(TryStrToDate(QStringLiteral("12/9/2026")), std::optional<QDate>(QDate(2026, 12, 9)));
        SetFormatSettingsForTesting(std::nullopt);
        QCOMPARE(FormatSettings(), before);
    }
};

QTEST_GUILESS_MAIN(TestRegionalFormat)
#include "tst_regionalFormat.moc"
