// Usage events: what each kind records, the time stamp's wire text and the hashed machine
// identifier read from a network class folder.
#include "core/platform/Clock.h"
#include "core/tracking/ServerCommunicationClient.h"
#include "core/tracking/SystemInformation.h"
#include "core/tracking/TrackingEvents.h"
#include "support/TestClock.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

namespace {

// One adapter of a fixture folder: its folder name, and the contents of "ifindex" and "address"
// (a null text leaves the file out).
struct TFixtureAdapter {
    QString Name;
    QString IfIndex;
    QString Address;
};

void WriteFile(const QString& path, const QString& text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8() + '\n');
}

}  // namespace

Q_DECLARE_METATYPE(QList<TFixtureAdapter>)

class TestTrackingEvents : public QObject {
    Q_OBJECT

private slots:
    // A zone with summer time, whatever the machine's: the time stamp counts wall-clock time.
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void cleanup() { TestClock::set(QDateTime()); }

    void timeStampIsWholeSecondsFromStartOf2015_data()
    {
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QString>("expected");
        // 3469 days from 1 January 2015 to 1 July 2024, and 3356 to 10 March 2024.
        QTest::newRow("summer time: 1 July 2024, noon")
            << QDateTime(QDate(2024, 7, 1), QTime(12, 0)) << QString::number(3469LL * 86400 + 12 * 3600);
        QTest::newRow("winter time: 10 March 2024, noon")
            << QDateTime(QDate(2024, 3, 10), QTime(12, 0)) << QString::number(3356LL * 86400 + 12 * 3600);
        QTest::newRow("90.9 s after") << QDateTime(QDate(2015, 1, 1), QTime(0, 1, 30, 900)) << "90";
        QTest::newRow("clock set back: 60 s before") << QDateTime(QDate(2014, 12, 31), QTime(23, 59)) << "60";
        QTest::newRow("the instant itself") << QDateTime(QDate(2015, 1, 1), QTime(0, 0)) << "0";
        QTest::newRow("999 ms after") << QDateTime(QDate(2015, 1, 1), QTime(0, 0, 0, 999)) << "0";
        // Past the 32-bit range the count stays at its largest value instead of turning negative.
        QTest::newRow("year 2100") << QDateTime(QDate(2100, 1, 1), QTime(0, 0)) << "2147483647";
    }
    void timeStampIsWholeSecondsFromStartOf2015()
    {
        QFETCH(QDateTime, moment);
        QFETCH(QString, expected);
        QCOMPARE(TrackingTimeStamp(moment), expected);
    }

    void userEventCarriesNumberDescriptionAndNoControl()
    {
        const QDateTime now(QDate(2024, 3, 5), QTime(14, 7, 9, 250));
        TestClock::set(now);
        const TUserTrackingEvent event(ueBereichBetreten, QStringLiteral("Auto-Modus"));
        QCOMPARE(event.TimeStamp(), now);
        QCOMPARE(event.UserEventType(), 3);
        QCOMPARE(event.Description(), QStringLiteral("Auto-Modus"));
        QCOMPARE(event.EventType(), TEventType::etNone);
        QCOMPARE(event.InputDeviceType(), TInputDeviceType::itNone);
        QCOMPARE(event.ControlName(), QString());
        QCOMPARE(event.ControlCaption(), QString());
        QCOMPARE(event.ParentFormName(), QString());
        QCOMPARE(event.ProcessName(), QStringLiteral("tst_trackingEvents"));
        QCOMPARE(event.MacAddress(), TSystemInformation::GetMACAddressHashed());
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(event.MacAddress()).hasMatch());
    }

    void mouseEventTakesControlFormAndClientPosition()
    {
        const TMouseTrackingEvent event(
            TEventType::etMouseRightDown,
            {QStringLiteral("btnStart"), QStringLiteral("Start"), QStringLiteral("frmMain"), QPoint(12, -3)});
        QCOMPARE(event.EventType(), TEventType::etMouseRightDown);
        QCOMPARE(event.InputDeviceType(), TInputDeviceType::itMouse);
        QCOMPARE(event.ControlName(), QStringLiteral("btnStart"));
        QCOMPARE(event.ControlCaption(), QStringLiteral("Start"));
        QCOMPARE(event.ParentFormName(), QStringLiteral("frmMain"));
        QCOMPARE(event.Position(), QPoint(12, -3));
    }

    void mouseEventWithoutFormHasOriginPosition()
    {
        const TMouseTrackingEvent event(TEventType::etMouseWheel, {});
        QCOMPARE(event.Position(), QPoint(0, 0));
        QCOMPARE(event.ControlName(), QString());
        QCOMPARE(event.ControlCaption(), QString());
        QCOMPARE(event.ParentFormName(), QString());
    }

    void keyboardEventIsAKeyPressOfTheKeyboard()
    {
        const TKeyboardTrackingEvent event(
            TKeyType::ktPrintable, {QStringLiteral("edtSuche"), NoCaption, QStringLiteral("frmMain"), {}});
        QCOMPARE(event.EventType(), TEventType::etKeyboardKeyPress);
        QCOMPARE(event.InputDeviceType(), TInputDeviceType::itKeyboard);
        QCOMPARE(event.KeyType(), TKeyType::ktPrintable);
        QCOMPARE(event.ControlName(), QStringLiteral("edtSuche"));
        QCOMPARE(event.ControlCaption(), QStringLiteral("no caption"));
        QCOMPARE(event.ParentFormName(), QStringLiteral("frmMain"));
    }

    void macAddressIsFirstNonZeroAdapterInIndexOrder_data()
    {
        QTest::addColumn<QList<TFixtureAdapter>>("adapters");
        QTest::addColumn<QString>("expected");
        const QString zeros = QStringLiteral("00:00:00:00:00:00");
        QTest::newRow("loopback first, then ethernet")
            << QList<TFixtureAdapter>{{"lo", "1", zeros}, {"eth0", "2", "02:fc:00:00:00:01"}}
            << "02-FC-00-00-00-01";
        QTest::newRow("index order, not name order")
            << QList<TFixtureAdapter>{{"a0", "7", "aa:aa:aa:aa:aa:aa"}, {"z9", "3", "0b:1c:2d:3e:4f:5a"}}
            << "0B-1C-2D-3E-4F-5A";
        QTest::newRow("first real address ends the search")
            << QList<TFixtureAdapter>{{"eth0", "2", "11:22:33:44:55:66"}, {"eth1", "3", "66:55:44:33:22:11"}}
            << "11-22-33-44-55-66";
        QTest::newRow("only zeros") << QList<TFixtureAdapter>{{"lo", "1", zeros}} << "";
        QTest::newRow("no adapters") << QList<TFixtureAdapter>{} << "";
        QTest::newRow("unreadable and foreign addresses are passed over")
            << QList<TFixtureAdapter>{{"tun0", "2", ""},
                                      {"ib0", "3",
                                       "80:00:02:08:fe:80:00:00:00:00:00:00:00:02:c9:03:00:0b:8a:31"},
                                      {"bad0", "4", "zz:zz:zz:zz:zz:zz"},
                                      {"noindex", QString(), "12:12:12:12:12:12"},
                                      {"eth0", "5", "de:ad:be:ef:00:01"}}
            << "DE-AD-BE-EF-00-01";
    }
    void macAddressIsFirstNonZeroAdapterInIndexOrder()
    {
        QFETCH(QList<TFixtureAdapter>, adapters);
        QFETCH(QString, expected);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        for (const TFixtureAdapter& adapter : adapters) {
            QVERIFY(QDir(folder.path()).mkdir(adapter.Name));
            if (!adapter.IfIndex.isNull())
                WriteFile(folder.filePath(adapter.Name + QStringLiteral("/ifindex")), adapter.IfIndex);
            WriteFile(folder.filePath(adapter.Name + QStringLiteral("/address")), adapter.Address);
        }
        QCOMPARE(TSystemInformation::FirstAddress(TSystemInformation::ReadAdapters(folder.path())), expected);
    }

    void missingNetworkFolderGivesNoAddress()
    {
        QCOMPARE(TSystemInformation::ReadAdapters(QStringLiteral("/nonexistent/class/net")).size(), 0);
    }

    void hashIsLowerCaseMd5OfTheAddressText_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expected");
        QTest::newRow("an address") << "02-FC-00-00-00-01"
                                    << "c8d84ad509da16ea8a25e7556903084a";
        QTest::newRow("no adapter") << ""
                                    << "d41d8cd98f00b204e9800998ecf8427e";
    }
    void hashIsLowerCaseMd5OfTheAddressText()
    {
        QFETCH(QString, address);
        QFETCH(QString, expected);
        QCOMPARE(TSystemInformation::HashedAddress(address), expected);
    }
};

QTEST_GUILESS_MAIN(TestTrackingEvents)
#include "tst_trackingEvents.moc"
