// Whose entries the shared log keeps when it is full, and how the index beside it survives a
// writer cut off at any step: the new log composed from the old one, its index and the queue.
#include "LogShares.h"

#include <QTest>

#include <string>

using namespace userlogwriter;

namespace {

constexpr std::int64_t Root = 0;
constexpr std::int64_t Alice = 1001;
constexpr std::int64_t Mallory = 1002;

std::string Entry(const std::string& modul, std::size_t textBytes = 10)
{
    return "=======================\r\nInstallationsdatum: 11.12.2026\r\nModul: " + modul +
           "\r\nVersion: 1.2.3\r\n=======================\r\n" + std::string(textBytes, 'x') + "\r\n\r\n\r\n";
}

// Adds queued entries one write at a time, as writers do, and keeps log and index.
struct TLog {
    std::string bytes;
    std::vector<TIndexRecord> index;
    int next = 0;

    void Add(std::int64_t owner, const std::string& entry, std::size_t cap)
    {
        char name[32];
        std::snprintf(name, sizeof name, "%020d-1-00", next++);
        const TComposed composed =
            Compose(bytes, true, index, {{owner, entry, name}}, userlog::TLogEncoding::Windows1252, cap);
        bytes = composed.log;
        index = ParseIndex(FormatIndex(composed.index));
    }
    int Count(const std::string& modul) const
    {
        int count = 0;
        for (std::size_t at = bytes.find("Modul: " + modul + "\r\n"); at != std::string::npos;
             at = bytes.find("Modul: " + modul + "\r\n", at + 1))
            ++count;
        return count;
    }
};

}  // namespace

class TestLogShares : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A full log drops the oldest entry of whoever holds the most, so that no user can push out
    // another's entries by writing many or large ones of her own, and root's stay.
    void theCapTakesFromWhoeverHoldsTheMost_data()
    {
        QTest::addColumn<int>("floodEntries");
        QTest::addColumn<int>("floodBytes");
        QTest::addColumn<bool>("floodIsRoot");
        QTest::newRow("a user's flood of large entries") << 40 << 3000 << false;
        QTest::newRow("a user's flood of small entries") << 400 << 10 << false;
        QTest::newRow("root's flood takes root's own oldest") << 40 << 3000 << true;
    }

    void theCapTakesFromWhoeverHoldsTheMost()
    {
        QFETCH(int, floodEntries);
        QFETCH(int, floodBytes);
        QFETCH(bool, floodIsRoot);
        constexpr std::size_t Cap = 32 * 1024;
        TLog log;
        log.Add(Alice, Entry("Alice alt"), Cap);
        if (!floodIsRoot)
            log.Add(Root, Entry("Root"), Cap);
        for (int n = 0; n < floodEntries; ++n)
            log.Add(floodIsRoot ? Root : Mallory, Entry("Flut " + std::to_string(n), std::size_t(floodBytes)), Cap);
        if (!floodIsRoot)
            log.Add(Alice, Entry("Alice neu"), Cap);

        QVERIFY(log.bytes.size() <= Cap);
        QCOMPARE(log.Count("Alice neu"), floodIsRoot ? 0 : 1);
        QCOMPARE(log.Count("Alice alt"), 1);
        if (!floodIsRoot)
            QCOMPARE(log.Count("Root"), 1);
        // The flood keeps its newest entries, whole and newest first.
        QCOMPARE(log.Count("Flut " + std::to_string(floodEntries - 1)), 1);
        QCOMPARE(log.Count("Flut 0"), 0);
        QVERIFY(log.bytes.rfind(Entry("Alice alt")) == log.bytes.size() - Entry("Alice alt").size());
    }

    // A writer can stop after any step: the index renamed but not the log, the log renamed but
    // the queue not cleaned up. The next writer neither loses an entry nor adds one twice, and
    // every owner is still known.
    void aWriterCutOffAtAnyStepLosesNothingAndAddsNothingTwice()
    {
        TLog log;
        log.Add(Alice, Entry("Eins"), userlog::MaxLogBytes);
        const std::vector<TQueued> queue = {{Mallory, Entry("Zwei"), "00000000000000000002-1-00"}};

        // Stopped after the index: the log is the old one, the queued entry still waits.
        const TComposed cut = Compose(log.bytes, true, log.index, queue, userlog::TLogEncoding::Windows1252);
        const TComposed retried = Compose(log.bytes, true, cut.index, queue, userlog::TLogEncoding::Windows1252);
        QCOMPARE(retried.log, cut.log);
        QVERIFY(retried.alreadyIn.empty());
        QCOMPARE(retried.index.size(), std::size_t(2));
        QCOMPARE(retried.index[1].owner, Alice);

        // Stopped after the log's rename: the queued entry is in and is not added again.
        const TComposed again = Compose(cut.log, true, cut.index, queue, userlog::TLogEncoding::Windows1252);
        QCOMPARE(again.log, cut.log);
        QCOMPARE(again.alreadyIn, std::vector<std::string>{queue.front().name});
        QCOMPARE(again.index.front().owner, Mallory);
    }

    // What the index does not describe (the history from before it, a log edited by hand, an
    // index line cut off) counts as unknown, split at its entries, and goes before anybody's.
    void aLogTheIndexDoesNotDescribeCountsAsUnknown_data()
    {
        QTest::addColumn<std::string>("indexText");
        QTest::newRow("no index") << std::string();
        QTest::newRow("an index of another log") << std::string("1001 120 abcdef -\n");
        QTest::newRow("a damaged line") << std::string("1001 zwölf 0 -\n");
        QTest::newRow("a line cut off") << std::string("1001 120");
    }

    void aLogTheIndexDoesNotDescribeCountsAsUnknown()
    {
        QFETCH(std::string, indexText);
        std::string old;
        for (int n = 0; n < 100; ++n)
            old += Entry("Alt " + std::to_string(n), 200);
        const std::size_t cap = old.size();
        const TComposed composed = Compose(old, true, ParseIndex(indexText), {{Alice, Entry("Neu"), "n"}},
                                           userlog::TLogEncoding::Utf8, cap);
        QVERIFY(composed.log.size() <= cap);
        QVERIFY(composed.log.rfind(Entry("Neu"), 0) == 0);
        // The oldest unknown entry went, whole.
        QVERIFY(composed.log.find("Modul: Alt 99\r\n") == std::string::npos);
        QVERIFY(composed.log.size() >= cap - Entry("Alt 99", 200).size());
        QCOMPARE(composed.log.substr(Entry("Neu").size()), old.substr(0, composed.log.size() - Entry("Neu").size()));
        QCOMPARE(composed.index.front().owner, Alice);
        QCOMPARE(composed.index.back().owner, UnknownOwner);
    }
};

QTEST_GUILESS_MAIN(TestLogShares)
#include "tst_logShares.moc"
