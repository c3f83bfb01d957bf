// Moments written as text: Delphi-style patterns, the short date and the date with its time, always
// with the settings given.
#include "RegionalSamples.h"

#include "core/platform/text/DateFormat.h"

#include <QTest>

using namespace platform;
using namespace regional_samples;

class TestDateFormat : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
};

QTEST_GUILESS_MAIN(TestDateFormat)
#include "tst_dateFormat.moc"
