// The regional settings: translation of the locale's patterns, the C and unknown locales, and the
// process-wide settings every conversion uses unless it is given others.
#include "RegionalSamples.h"

#include "core/platform/text/DateFormat.h"
#include "core/platform/text/DateParse.h"
#include "core/platform/text/RegionalFormat.h"
#include "support/TestFormatSettings.h"

#include <QTest>

using namespace platform;
using namespace regional_samples;

class TestRegionalFormat : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { TestFormatSettings::set(std::nullopt); }

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

    void translatesWindowsPictures_data()
    {
        QTest::addColumn<QString>("shortDate");
        QTest::addColumn<QString>("timeFormat");
        QTest::addColumn<QString>("am");
        QTest::addColumn<QString>("dateFormat");
        QTest::addColumn<QString>("longTime");
        // clang-format off
        QTest::newRow("German") << "dd.MM.yyyy" << "HH:mm:ss" << "" << "dd.mm.yyyy" << "hh:nn:ss";
        QTest::newRow("US") << "M/d/yyyy" << "h:mm:ss tt" << "AM" << "m/d/yyyy" << "h:nn:ss ampm";
        QTest::newRow("ISO") << "yyyy-MM-dd" << "HH:mm:ss" << "" << "yyyy-mm-dd" << "hh:nn:ss";
        QTest::newRow("two-digit year") << "dd/MM/yy" << "H:mm" << "" << "dd/mm/yy" << "h:nn";
        QTest::newRow("quoted separators") << "dd'.'MM'.'yyyy" << "HH'.'mm'.'ss" << "" << "dd.mm.yyyy" << "hh.nn.ss";
        QTest::newRow("marker first") << "yyyy/MM/dd" << "tt hh:mm:ss" << "AM" << "yyyy/mm/dd" << "ampm hh:nn:ss";
        // Names and eras have no numeric form: the German part stands in.
        QTest::newRow("month name") << "dd MMM yyyy" << "HH:mm:ss" << "" << "dd.mm.yyyy" << "hh:nn:ss";
        QTest::newRow("day name") << "dddd, d. MMMM yyyy" << "HH:mm:ss" << "" << "dd.mm.yyyy" << "hh:nn:ss";
        QTest::newRow("era") << "gg yyyy/MM/dd" << "HH:mm:ss" << "" << "dd.mm.yyyy" << "hh:nn:ss";
        QTest::newRow("empty") << "" << "" << "" << "dd.mm.yyyy" << "hh:nn:ss";
        // clang-format on
    }

    void translatesWindowsPictures()
    {
        QFETCH(QString, shortDate);
        QFETCH(QString, timeFormat);
        QFETCH(QString, am);
        QFETCH(QString, dateFormat);
        QFETCH(QString, longTime);
        const QString pm = am.isEmpty() ? QString() : QStringLiteral("PM");
        const TFormatSettings s = FormatSettingsFromWindowsPictures(shortDate, timeFormat, am, pm);
        QCOMPARE(s.ShortDateFormat, dateFormat);
        QCOMPARE(s.LongTimeFormat, longTime);
    }

#ifdef _WIN32
    // The locales' own pictures differ between Windows versions (and Wine): their shape counts.
    void windowsLocaleNames()
    {
        const TFormatSettings german = FormatSettingsForLocale("de-DE");
        QVERIFY2(german.ShortDateFormat.startsWith(u'd') && german.ShortDateFormat.endsWith(QStringLiteral("yyyy")),
                 qPrintable(german.ShortDateFormat));
        QCOMPARE(german.DateSeparator, QChar(u'.'));
        QVERIFY2(!german.LongTimeFormat.contains(QStringLiteral("ampm")), qPrintable(german.LongTimeFormat));
        const TFormatSettings american = FormatSettingsForLocale("en-US");
        QVERIFY2(american.ShortDateFormat.startsWith(u'm'), qPrintable(american.ShortDateFormat));
        QVERIFY2(american.LongTimeFormat.endsWith(QStringLiteral("ampm")), qPrintable(american.LongTimeFormat));
    }
#endif

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

    void processWideSettingsCanBeReplaced()
    {
        const TFormatSettings before = FormatSettings();
        TestFormatSettings::set(US());
        QCOMPARE(DateToStr(QDate(2026, 12, 9)), QStringLiteral("12/09/2026"));
        QCOMPARE(TryStrToDate(QStringLiteral("12/9/2026")), std::optional<QDate>(QDate(2026, 12, 9)));
        TestFormatSettings::set(std::nullopt);
        QCOMPARE(FormatSettings(), before);
    }
};

QTEST_GUILESS_MAIN(TestRegionalFormat)
#include "tst_regionalFormat.moc"
