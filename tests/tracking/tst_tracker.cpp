// The tracker: when consent is asked and how the answer is kept, the draw, and what reaches the
// reference server in which order (runs of keys, failing calls, a server that goes away, a
// server that stops answering).
#include "support/ConsentFrontEnd.h"
#include "support/TrackingServerProcess.h"
#include "support/TestClock.h"
#include "support/TestFormatSettings.h"

#include "core/platform/Clock.h"
#include "core/platform/text/RegionalFormat.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"
#include "support/ScriptedFrontEnd.h"
#include "core/tracking/Tracker.h"
#include "core/tracking/TrackingEvents.h"

#include <QElapsedTimer>
#include <QTest>

#include <memory>

namespace {

const QString& StoreKey = SettingsKeys::Standardeinstellungen;

// Stands in for the widgets' input hook: records whether it is installed and feeds events.
class TFakeHook : public TTrackingHook {
public:
    explicit TFakeHook(bool& installed) : FInstalled(installed) {}
    void Install(TSink sink) override
    {
        FSink = std::move(sink);
        FInstalled = true;
    }
    void Remove() override
    {
        FSink = nullptr;
        FInstalled = false;
    }
    // What the hook would make of one click or key press.
    void Feed(std::unique_ptr<TTrackingEvent> event)
    {
        if (FSink)
            FSink(std::move(event));
    }

private:
    bool& FInstalled;
    TSink FSink;
};

std::unique_ptr<TTrackingEvent> Mouse()
{
    return std::make_unique<TMouseTrackingEvent>(
        TEventType::etMouseLeftDown, TControlInfo{QStringLiteral("btnStart"), QStringLiteral("Start"),
                                                  QStringLiteral("frmMain"), QPoint(5, 6)});
}

std::unique_ptr<TTrackingEvent> KeyPress()
{
    return std::make_unique<TKeyboardTrackingEvent>(TKeyType::ktPrintable);
}

std::unique_ptr<TTrackingEvent> User(const QString& description)
{
    return std::make_unique<TUserTrackingEvent>(ueAuswahl, description);
}

}  // namespace

class TestTracker : public QObject {
    Q_OBJECT

private:
    TPrivateStores FStores;
    TConsentFrontEnd FFrontEnd;
    std::unique_ptr<TScopedFrontEnd> FScope;
    std::unique_ptr<TTrackingServerProcess> FServer;

    // A reference server answering `probability` (101 admits every draw), with the tracker pointed
    // at it.
    void StartServer(qint32 probability, const QStringList& moreArguments = {})
    {
        FServer = std::make_unique<TTrackingServerProcess>(FStores.FilePath(QStringLiteral("calls.db")));
        QVERIFY(FServer->Start(probability, 0, moreArguments));
        qputenv("VORLANDT_TRACKING_PORT", QByteArray::number(FServer->Port()));
    }

    static void Consented() { WriteBoolValue(HKEY_CURRENT_USER, StoreKey, SettingsKeys::TrackingOk, true); }

private slots:
    void init()
    {
        QVERIFY(FStores.IsValid());
        QFile::remove(FStores.FilePath(QStringLiteral("user.db")));
        QFile::remove(FStores.FilePath(QStringLiteral("calls.db")));
        TestFormatSettings::set(platform::TFormatSettings::German());
        FFrontEnd = TConsentFrontEnd();
        FScope = std::make_unique<TScopedFrontEnd>(FFrontEnd);
    }
    void cleanup()
    {
        FServer.reset();
        FScope.reset();
        qunsetenv("VORLANDT_TRACKING_PORT");
        TestClock::set(QDateTime());
        TestFormatSettings::set(std::nullopt);
    }

    void consentIsAskedWhenDueAndKept_data()
    {
        QTest::addColumn<QVariant>("storedOk");        // invalid: no value
        QTest::addColumn<QString>("storedLastQuery");  // null: no value
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("okAfter");
        QTest::addColumn<QString>("lastQueryAfter");
        const QDateTime march5(QDate(2024, 3, 5), QTime(9, 30));
        QTest::newRow("first run, yes")
            << QVariant() << QString() << march5 << true << true << true << "05.03.2024";
        QTest::newRow("first run, no")
            << QVariant() << QString() << march5 << false << true << false << "05.03.2024";
        QTest::newRow("declined, last day before six months")
            << QVariant(false) << "05.03.2024" << QDateTime(QDate(2024, 9, 4), QTime(23, 59, 59)) << true
            << false << false << "05.03.2024";
        QTest::newRow("declined, the day six months later")
            << QVariant(false) << "05.03.2024" << QDateTime(QDate(2024, 9, 5), QTime(0, 0, 1)) << true << true
            << true << "05.09.2024";
        QTest::newRow("31 August, not yet on 28 February of a leap year")
            << QVariant(false) << "31.08.2023" << QDateTime(QDate(2024, 2, 28), QTime(12, 0)) << true << false
            << false << "31.08.2023";
        QTest::newRow("31 August, asked on 29 February of a leap year")
            << QVariant(false) << "31.08.2023" << QDateTime(QDate(2024, 2, 29), QTime(8, 0)) << false << true
            << false << "29.02.2024";
        QTest::newRow("31 August, asked on 28 February")
            << QVariant(false) << "31.08.2022" << QDateTime(QDate(2023, 2, 28), QTime(8, 0)) << false << true
            << false << "28.02.2023";
        QTest::newRow("agreed, never asked again")
            << QVariant(true) << "01.01.1980" << march5 << false << false << true << "01.01.1980";
        QTest::newRow("agreed, no date")
            << QVariant(true) << QString() << march5 << false << false << true << QString();
        QTest::newRow("unreadable date asks now")
            << QVariant(false) << "im Frühjahr" << march5 << true << true << true << "05.03.2024";
        QTest::newRow("recent date without an answer")
            << QVariant() << "01.03.2024" << march5 << true << false << false << "01.03.2024";
    }
    void consentIsAskedWhenDueAndKept()
    {
        QFETCH(QVariant, storedOk);
        QFETCH(QString, storedLastQuery);
        QFETCH(QDateTime, now);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        QFETCH(bool, okAfter);
        QFETCH(QString, lastQueryAfter);
        if (storedOk.isValid())
            WriteBoolValue(HKEY_CURRENT_USER, StoreKey, SettingsKeys::TrackingOk, storedOk.toBool());
        if (!storedLastQuery.isNull())
            WriteStringValue(HKEY_CURRENT_USER, StoreKey, SettingsKeys::TrackingLastQuery, storedLastQuery);
        TestClock::set(now);
        FFrontEnd.AnswerConsent(answer);
        StartServer(101);

        TTracker tracker{QString()};
        QCOMPARE(FFrontEnd.ConsentQuestions(), asked ? 1 : 0);
        QCOMPARE(ReadBoolValue(HKEY_CURRENT_USER, StoreKey, SettingsKeys::TrackingOk, false), okAfter);
        QCOMPARE(ValueExists(HKEY_CURRENT_USER, StoreKey, SettingsKeys::TrackingLastQuery),
                 !lastQueryAfter.isNull());
        if (!lastQueryAfter.isNull())
            QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, StoreKey, SettingsKeys::TrackingLastQuery, QString()),
                     lastQueryAfter);
        // Only a yes, given now or before, makes the tracker contact the server at all.
        QCOMPARE(tracker.TrackingActive(), okAfter);
        QCOMPARE(FServer->Calls().isEmpty(), !okAfter);
    }

    // An administrator's answer is everyone's: nobody is asked, and the user's own answer (or
    // its absence) does not count.
    void policyAnswersForEveryone_data()
    {
        QTest::addColumn<bool>("policy");
        QTest::addColumn<QVariant>("storedOk");  // invalid: no value
        QTest::newRow("off, never asked") << false << QVariant();
        QTest::newRow("off over the user's yes") << false << QVariant(true);
        QTest::newRow("on, never asked") << true << QVariant();
        QTest::newRow("on over the user's no") << true << QVariant(false);
    }
    void policyAnswersForEveryone()
    {
        QFETCH(bool, policy);
        QFETCH(QVariant, storedOk);
        QFile::remove(FStores.FilePath(QStringLiteral("machine.db")));
        WriteBoolValue(HKEY_LOCAL_MACHINE, SettingsKeys::PolicyTracking, SettingsKeys::TrackingOk, policy);
        if (storedOk.isValid())
            WriteBoolValue(HKEY_CURRENT_USER, StoreKey, SettingsKeys::TrackingOk, storedOk.toBool());
        FFrontEnd.AnswerConsent(!policy);
        StartServer(101);

        {
            TTracker tracker{QString()};
            QCOMPARE(FFrontEnd.ConsentQuestions(), 0);
            QCOMPARE(tracker.TrackingActive(), policy);
            QVERIFY(!ValueExists(HKEY_CURRENT_USER, StoreKey, SettingsKeys::TrackingLastQuery));
        }
        QCOMPARE(FServer->Calls().isEmpty(), !policy);
        QVERIFY(QFile::remove(FStores.FilePath(QStringLiteral("machine.db"))));
    }

    void drawAdmitsWhenProbabilityExceedsTheNumber_data()
    {
        QTest::addColumn<qint32>("probability");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("tracked");
        QTest::newRow("P 0") << 0 << 1 << false;
        QTest::newRow("P 1, lowest number") << 1 << 1 << false;
        QTest::newRow("P 2, lowest number") << 2 << 1 << true;
        QTest::newRow("P 100, highest number") << 100 << 100 << false;
        QTest::newRow("P 100, 99") << 100 << 99 << true;
        QTest::newRow("P 101, highest number") << 101 << 100 << true;
        QTest::newRow("P negative") << -5 << 1 << false;
    }
    void drawAdmitsWhenProbabilityExceedsTheNumber()
    {
        QFETCH(qint32, probability);
        QFETCH(int, number);
        QFETCH(bool, tracked);
        Consented();
        StartServer(probability);
        {
            TTracker tracker(QString(), nullptr, [number] { return number; });
            QCOMPARE(tracker.TrackingActive(), tracked);
            tracker.Start();
            tracker.AddEvent(User(QStringLiteral("Probe")));
            tracker.Stop();
        }
        const QStringList expected =
            tracked ? QStringList{"GetTrackingProbability", "SendUserEvent:Tracker-Start",
                                  "SendUserEvent:Probe", "SendUserEvent:Tracker-Ende"}
                    : QStringList{"GetTrackingProbability"};
        QCOMPARE(FServer->Summary(), expected);
    }

    void runIsBracketedByStartAndEnd_data()
    {
        QTest::addColumn<QString>("forcedName");
        QTest::addColumn<QString>("sentName");
        QTest::newRow("own executable") << QString() << "tst_tracker";
        QTest::newRow("forced name") << "Modul42.exe"
                                     << "Modul42.exe";
    }
    void runIsBracketedByStartAndEnd()
    {
        QFETCH(QString, forcedName);
        QFETCH(QString, sentName);
        Consented();
        StartServer(101);
        bool hookInstalled = false;
        {
            auto hook = std::make_unique<TFakeHook>(hookInstalled);
            TFakeHook* fake = hook.get();
            TTracker tracker(forcedName, std::move(hook));
            tracker.Start();
            QVERIFY(hookInstalled);
            tracker.AddEvent(
                std::make_unique<TUserTrackingEvent>(ueBereichBetreten, QStringLiteral("Auto-Modus")));
            fake->Feed(Mouse());
            tracker.Stop();
            QVERIFY(!hookInstalled);
        }
        const QList<TStoredCall> calls = FServer->Calls();
        QCOMPARE(FServer->Summary(),
                 (QStringList{"GetTrackingProbability", "SendUserEvent:Tracker-Start",
                              "SendUserEvent:Auto-Modus", "SendMouseEvent", "SendUserEvent:Tracker-Ende"}));
        for (qsizetype i = 1; i < calls.size(); ++i)
            QCOMPARE(calls[i].Params.at(4).toString(), sentName);
        // User events: event type 0, device 0, their number last.
        QCOMPARE(calls[1].Params.at(1).toInt(), 0);
        QCOMPARE(calls[1].Params.at(2).toInt(), 0);
        QCOMPARE(calls[1].Params.at(9).toInt(), 1);
        QCOMPARE(calls[2].Params.at(9).toInt(), 3);
        QCOMPARE(calls[4].Params.at(9).toInt(), 2);
        // The mouse event: left down by the mouse, at its form position.
        QCOMPARE(calls[3].Params, (QJsonArray{calls[3].Params.at(0), 1, 1, calls[3].Params.at(3), sentName,
                                              "btnStart", "Start", "frmMain", 5, 6}));
        QCOMPARE(FFrontEnd.Messages(), QStringList());
    }

    void runsOfKeysAreSentAsTheirFirst_data()
    {
        QTest::addColumn<QString>("input");  // M mouse, K key, | a send step
        QTest::addColumn<QStringList>("sent");
        const QString m = QStringLiteral("SendMouseEvent");
        const QString k = QStringLiteral("SendKeyboardEvent");
        QTest::newRow("click, ten letters, click") << "MKKKKKKKKKKM" << QStringList{m, k, m};
        QTest::newRow("run carried across send steps") << "M|KKK|KKKKKKK|M" << QStringList{m, k, m};
        QTest::newRow("run ends with another event") << "KKMKK" << QStringList{k, m, k};
        QTest::newRow("held key with a step inside") << "KK|K|K" << QStringList{k};
    }
    void runsOfKeysAreSentAsTheirFirst()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, sent);
        Consented();
        StartServer(101);
        {
            TTracker tracker{QString()};
            tracker.Start();
            for (const QChar c : input) {
                if (c == u'M')
                    tracker.AddEvent(Mouse());
                else if (c == u'K')
                    tracker.AddEvent(KeyPress());
                else
                    tracker.SendEvents();
            }
            tracker.Stop();
        }
        QStringList summary = FServer->Summary();
        QCOMPARE(summary.takeFirst(), QStringLiteral("GetTrackingProbability"));
        QCOMPARE(summary.takeFirst(), QStringLiteral("SendUserEvent:Tracker-Start"));
        QCOMPARE(summary.takeLast(), QStringLiteral("SendUserEvent:Tracker-Ende"));
        QCOMPARE(summary, sent);
    }

    void failingCallDropsOnlyItsEvent()
    {
        Consented();
        StartServer(101, {QStringLiteral("--refuse"), QStringLiteral("Verboten")});
        {
            TTracker tracker{QString()};
            tracker.Start();
            tracker.AddEvent(User(QStringLiteral("A")));
            tracker.AddEvent(User(QStringLiteral("Verboten")));
            tracker.AddEvent(User(QStringLiteral("B")));
            tracker.Stop();
        }
        QCOMPARE(FServer->Summary(),
                 (QStringList{"GetTrackingProbability", "SendUserEvent:Tracker-Start", "SendUserEvent:A",
                              "SendUserEvent:B", "SendUserEvent:Tracker-Ende"}));
        QCOMPARE(FFrontEnd.Messages(), QStringList());
    }

    void trackingResumesWhenTheServerComesBack()
    {
        Consented();
        StartServer(101);
        const quint16 port = FServer->Port();
        TTracker tracker{QString()};
        tracker.Start();
        tracker.SendEvents();
        QVERIFY(tracker.WaitForSending(std::chrono::seconds(10)));

        QVERIFY(FServer->Stop());
        // The connection is still taken for open: this call fails and its event is lost.
        tracker.AddEvent(User(QStringLiteral("verloren")));
        tracker.SendEvents();
        QVERIFY(tracker.WaitForSending(std::chrono::seconds(10)));
        // Now the connection cannot be opened: the event waits.
        tracker.AddEvent(User(QStringLiteral("wartet")));
        tracker.SendEvents();
        QVERIFY(tracker.WaitForSending(std::chrono::seconds(10)));

        QVERIFY(FServer->Start(101, port));
        tracker.AddEvent(User(QStringLiteral("danach")));
        tracker.Stop();
        QCOMPARE(FServer->Summary(),
                 (QStringList{"GetTrackingProbability", "SendUserEvent:Tracker-Start", "SendUserEvent:wartet",
                              "SendUserEvent:danach", "SendUserEvent:Tracker-Ende"}));
        QCOMPARE(FFrontEnd.Messages(), QStringList());
    }

    void waitingForAServerThatNeverAnswersIsBounded()
    {
        Consented();
        StartServer(101);
        auto tracker = std::make_unique<TTracker>(QString());
        tracker->Start();
        FServer->Freeze();
        tracker->AddEvent(Mouse());
        // Hard limits, not speed: Stop waits at most StopWait, and the end gives up at once
        // (within libcurl's abort check of about a second) instead of waiting out the calls.
        QElapsedTimer clock;
        clock.start();
        tracker->Stop();
        const qint64 stopTook = clock.restart();
        tracker.reset();
        const qint64 endTook = clock.elapsed();
        FServer->Thaw();
        QVERIFY2(stopTook < TTracker::StopWait.count() + 1500, qPrintable(QString::number(stopTook)));
        QVERIFY2(endTook < 3000, qPrintable(QString::number(endTook)));
    }

    void timerSendsTheQueueEveryFiveSeconds()
    {
        Consented();
        StartServer(101);
        TTracker tracker{QString()};
        tracker.Start();
        tracker.AddEvent(User(QStringLiteral("Tick")));
        QTRY_VERIFY_WITH_TIMEOUT(FServer->Summary().contains(QStringLiteral("SendUserEvent:Tick")), 10000);
        QCOMPARE(FServer->Summary().mid(1, 2),
                 (QStringList{"SendUserEvent:Tracker-Start", "SendUserEvent:Tick"}));
    }

    void withoutConsentNothingIsSentButTheHookIsInstalled()
    {
        StartServer(101);
        FFrontEnd.AnswerConsent(false);
        bool hookInstalled = false;
        {
            auto hook = std::make_unique<TFakeHook>(hookInstalled);
            TFakeHook* fake = hook.get();
            TTracker tracker(QString(), std::move(hook));
            QVERIFY(!tracker.TrackingActive());
            tracker.Start();
            QVERIFY(hookInstalled);
            fake->Feed(Mouse());
            tracker.AddEvent(User(QStringLiteral("X")));
            tracker.Stop();
        }
        QCOMPARE(FServer->Calls().size(), 0);
    }

    void serverDownAtStartLeavesTheRunUntrackedSilently()
    {
        Consented();
        StartServer(101);
        QVERIFY(FServer->Stop());
        TTracker tracker{QString()};
        QVERIFY(!tracker.TrackingActive());
        tracker.Start();
        tracker.AddEvent(Mouse());
        tracker.Stop();
        QCOMPARE(FFrontEnd.Messages(), QStringList());
        QCOMPARE(FFrontEnd.ConsentQuestions(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTracker)
#include "tst_tracker.moc"
