// Fetching descriptors ahead changes nothing a person or an administrator can see: against
// servers that answer slowly and out of order, close idle connections, take no fifth connection
// or fail a file once, a run with fetching ahead shows, logs and leaves the same as one without;
// and the server sees few connections, each file asked for once, with HEAD before GET, whatever
// it answered (a refusal, a redirect, a body too large for memory, a stall), and a stalled file
// holds the run no longer than its limits say. Settings changed during a run void what was
// fetched ahead under the old ones.
#include "core/catalog/Updates.h"
#include "core/run/UpdateRun.h"
#include "core/services/Log.h"
#include "core/sources/UpdateCheck.h"
#include "support/ScriptedFrontEnd.h"
#include "support/TestSigningKey.h"

#include "../bench/BenchNginx.h"
#include "support/RunWorld.h"
#include "support/net/TestHttpsServer.h"
#include "support/net/TestPki.h"

#include <QtTest>

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

namespace {

constexpr int ModuleCount = 9;
// Short limits for the stalling servers, with a margin for a loaded machine below the limit once
// more.
constexpr int StallSeconds = 4;
constexpr int TotalSeconds = 5;

// What a run leaves behind: the shown texts and the files of the temporary folder.
struct TRunTrace {
    QStringList Progress;
    QStringList Log;
    QList<TShownMessage> Messages;
    QList<QList<TUpdateIdentifier>> Shown;
    std::map<QString, QByteArray> TempFiles;
};

// Changes the user agent, one of the connection settings, when the run gets to `Trigger`.
class TSettingsChangingFrontEnd : public TScriptedFrontEnd {
public:
    QString Trigger;
    QString NewAgent;

    void ShowProgress(int position, int maximum, const QString& text) override
    {
        TScriptedFrontEnd::ShowProgress(position, maximum, text);
        if (text.endsWith(Trigger + QStringLiteral("...")))
            WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::UserAgent, NewAgent);
    }
};

}  // namespace

class tst_FetchAhead : public QObject {
    Q_OBJECT

    QTemporaryDir FCertDir;
    TTestPki FPki;
    QString FPkiError;

    TRunTrace Run(TRunWorld& world, bool ahead, const TDownloadLimits& limits = TDownloadLimits())
    {
        TScriptedFrontEnd frontEnd;
        const TScopedFrontEnd scope(frontEnd);
        WriteLog(TLogAction::StartBuffer, QString());
        TUpdates updates;
        TUpdateCheck check(&updates);
        check.SetFetchAhead(ahead);
        check.SetDownloadLimits(limits);
        TUpdateRun(updates, check, false).RunUpdateCheck(true);

        TRunTrace trace;
        trace.Progress = frontEnd.ProgressTexts();
        trace.Log = LogBuffer().value_or(QStringList());
        trace.Messages = frontEnd.Unanswered();
        trace.Shown = frontEnd.ShownUpdates();
        WriteLog(TLogAction::DiscardBuffer, QString());
        QDir temp(world.TempDir());
        for (const QString& name : temp.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            QFile file(temp.filePath(name));
            trace.TempFiles[name] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("?");
            QFile::remove(temp.filePath(name));
        }
        return trace;
    }

    // Serves the world's source folder and makes it the update source in place of the local one;
    // the reason to skip when the server does not start, else empty.
    QString Serve(TTestHttpsServer& server, TRunWorld& world)
    {
        const QString error = server.Start(FPki.ServerCert, FPki.ServerKey, world.SourceDir());
        if (!error.isEmpty())
            return error;
        DeleteValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource);
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         server.Url(QStringLiteral("/")));
        return QString();
    }

    // Puts each "<module>:<suffix>[:content]" beside that module's descriptor; a ".failonce"
    // marker gets `round` as its content, so that a new round fails once more. "<module>:pad:N"
    // makes the descriptor itself N bytes longer (a comment after its root element).
    static bool PutMarks(const TRunWorld& world, const QStringList& marks, const QString& round = QString())
    {
        for (const QString& mark : marks) {
            const QStringList parts = mark.split(u':');
            const QString descriptor =
                world.SourceDir() + QStringLiteral("Modul_%1/update_%1_2.xml").arg(parts[0]);
            if (parts[1] == u"pad") {
                if (!round.isEmpty())
                    continue;
                const QByteArray padded =
                    ReadFile(descriptor) + "<!--" + QByteArray(parts[2].toInt(), 'p') + "-->\n";
                if (!WriteFile(descriptor, padded))
                    return false;
                continue;
            }
            const QByteArray content =
                parts[1].endsWith(QStringLiteral(".failonce")) ? round.toUtf8() : parts.value(2).toUtf8();
            if (!WriteFile(descriptor + parts[1], content))
                return false;
        }
        return true;
    }

private Q_SLOTS:
    void initTestCase() { FPkiError = TrustedLoopbackPki(FPki, FCertDir); }

    void sameRunAsWithout_data()
    {
        QTest::addColumn<QStringList>("serverOptions");
        QTest::addColumn<QStringList>("marks");   // "<module>:<suffix>[:content]" beside a descriptor
        QTest::addColumn<int>("maxConnections");  // for the run with fetching ahead; 0: not counted
        // Signature keys configured; every descriptor signed except module 6's, module 3's with a
        // key that is not configured.
        QTest::addColumn<bool>("signing");
        // clang-format off
        QTest::newRow("slow, out of order")
            << QStringList() << QStringList({"1:.delay:0.6", "2:.delay:0.3", "5:.delay:0.2"}) << 4 << false;
        QTest::newRow("closes idle connections")
            << QStringList({"--idle-timeout", "0.1"}) << QStringList({"3:.delay:0.3", "7:.delay:0.25"}) << 0
            << false;
        QTest::newRow("takes no fifth connection")
            << QStringList({"--max-connections", "4"}) << QStringList({"2:.delay:0.2"}) << 4 << false;
        QTest::newRow("fails once, then answers")
            << QStringList() << QStringList({"4:.failonce", "6:.failonce", "1:.delay:0.2"}) << 4 << false;
        QTest::newRow("signed, one signature bad, one missing")
            << QStringList() << QStringList({"1:.delay:0.6", "4:.sig.delay:0.3", "2:.sig.failonce"}) << 4
            << true;
        // clang-format on
    }

    void sameRunAsWithout()
    {
        QFETCH(QStringList, serverOptions);
        QFETCH(QStringList, marks);
        QFETCH(int, maxConnections);
        QFETCH(bool, signing);
        if (!FPkiError.isEmpty())
            QSKIP(qPrintable(FPkiError));

        TRunWorld world;
        QVERIFY(world.IsValid());
        for (int id = 1; id <= ModuleCount; ++id)
            QVERIFY(
                world.AddModule(QStringLiteral("M%1").arg(id), id, 2, QStringLiteral("Modul %1").arg(id),
                                id == 5 ? QList<std::pair<int, int>>{{1, 0}} : QList<std::pair<int, int>>{}));
        // Module 8 has no descriptor, 9 is switched off.
        QVERIFY(QFile::remove(world.SourceDir() + QStringLiteral("Modul_8/update_8_2.xml")));
        WriteIntegerValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdateModule + QStringLiteral("M9"),
                          SettingsKeys::ModuleDisabledRun, 1);
        QVERIFY(PutMarks(world, marks));
        if (signing) {
            const TTestKey maker('m');
            const TTestKey stranger('s');
            WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                             maker.PublicBase64());
            for (int id = 1; id <= 7; ++id) {
                if (id == 6)
                    continue;
                const QString descriptor =
                    world.SourceDir() + QStringLiteral("Modul_%1/update_%1_2.xml").arg(id);
                QVERIFY(WriteFile(descriptor + QStringLiteral(".sig"),
                                  (id == 3 ? stranger : maker).SignatureFile(ReadFile(descriptor), QFileInfo(descriptor).fileName())));
            }
        }

        TTestHttpsServer server;
        server.SetExtraArguments(serverOptions);
        const QString error = Serve(server, world);
        if (!error.isEmpty())
            QSKIP(qPrintable(error));

        const TRunTrace ahead = Run(world, true);
        const QList<TRecordedRequest> requests = server.Requests();
        // A file that fails once fails again for the reference run.
        QVERIFY(PutMarks(world, marks, QStringLiteral("again")));
        const TRunTrace without = Run(world, false);

        QCOMPARE(ahead.Progress, without.Progress);
        QCOMPARE(ahead.Log, without.Log);
        QCOMPARE(ahead.Messages, without.Messages);
        QCOMPARE(ahead.Shown, without.Shown);
        QCOMPARE(ahead.Shown.size(), 1);
        QCOMPARE(ahead.TempFiles.size(), without.TempFiles.size());
        for (const auto& [name, bytes] : without.TempFiles) {
            QVERIFY2(ahead.TempFiles.count(name) == 1, qPrintable(name));
            QCOMPARE(ahead.TempFiles.at(name), bytes);
        }

        // Every GET on a connection that asked HEAD for the same file just before; the switched-off
        // module asked for nothing; no connection refused for being one too many.
        std::map<int, QString> lastHead;
        std::set<int> connections;
        for (const TRecordedRequest& request : requests) {
            QVERIFY(request.Method != u"REFUSED");
            QVERIFY(!request.Path.contains(QStringLiteral("Modul_9")));
            connections.insert(request.Connection);
            if (request.Method == u"HEAD")
                lastHead[request.Connection] = request.Path;
            else
                QCOMPARE(lastHead[request.Connection], request.Path);
        }
        // A file that failed ahead is not asked for again: the failure is the run's answer.
        for (const QString& mark : marks) {
            if (!mark.contains(QStringLiteral(".failonce")))
                continue;
            const QString path = QStringLiteral("/Modul_%1/update_%1_2.xml").arg(mark.section(u':', 0, 0)) +
                                 mark.section(u':', 1, 1).remove(QStringLiteral(".failonce"));
            QCOMPARE(std::count_if(
                         requests.begin(), requests.end(),
                         [&](const TRecordedRequest& r) { return r.Method == u"HEAD" && r.Path == path; }),
                     1);
        }
        // Each signature is asked for ahead like its descriptor: the one of the slow module 1 long
        // before the run has that descriptor. One that was missing ahead is not asked for again.
        const auto requestIndex = [&](const QString& method, const QString& path) {
            return std::find_if(
                       requests.begin(), requests.end(),
                       [&](const TRecordedRequest& r) { return r.Method == method && r.Path == path; }) -
                   requests.begin();
        };
        const auto heads = [&](const QString& path) {
            return std::count_if(requests.begin(), requests.end(), [&](const TRecordedRequest& r) {
                return r.Method == u"HEAD" && r.Path == path;
            });
        };
        if (signing) {
            QVERIFY(requestIndex(QStringLiteral("HEAD"), QStringLiteral("/Modul_1/update_1_2.xml.sig")) <
                    requestIndex(QStringLiteral("GET"), QStringLiteral("/Modul_1/update_1_2.xml")));
            QCOMPARE(heads(QStringLiteral("/Modul_6/update_6_2.xml.sig")), 1);
            QCOMPARE(heads(QStringLiteral("/Modul_5/update_5_2.xml.sig")), 1);
            QVERIFY(ahead.Log.filter(QStringLiteral("Signatur ungültig")).size() == 1);
            // Module 6's is missing; module 2's was refused (503) when asked for.
            QVERIFY(ahead.Log.filter(QStringLiteral("Signatur fehlt")).size() == 2);
        } else {
            QVERIFY(std::none_of(requests.begin(), requests.end(), [](const TRecordedRequest& r) {
                return r.Path.endsWith(QStringLiteral(".sig"));
            }));
        }
        if (maxConnections > 0)
            QVERIFY2(static_cast<int>(connections.size()) <= maxConnections,
                     qPrintable(QString::number(connections.size())));
    }

    void everyRequestOnce_data()
    {
        QTest::addColumn<QStringList>("marks");
        QTest::addColumn<bool>("signing");  // module 6 without a signature, all others signed
        // path -> requests expected with fetching ahead, as "HEAD GET" counts
        QTest::addColumn<QStringList>("expected");
        // the run's bound in seconds (the limit it waits for plus a margin far below the limit
        // once more); 0: not timed
        QTest::addColumn<int>("bound");
        const QString head = QStringLiteral("1 0");
        const QString both = QStringLiteral("1 1");
        // clang-format off
        QTest::newRow("no descriptor (404)")
            << QStringList() << false << QStringList({"/Modul_8/update_8_2.xml", head}) << 0;
        QTest::newRow("moved (301)")
            << QStringList({"3:.moved"}) << false << QStringList({"/Modul_3/update_3_2.xml", head}) << 0;
        QTest::newRow("signature missing")
            << QStringList() << true
            << QStringList({"/Modul_6/update_6_2.xml.sig", head, "/Modul_6/update_6_2.xml", both}) << 0;
        QTest::newRow("5 MB descriptor")
            << QStringList({"2:pad:5242880"}) << true
            << QStringList({"/Modul_2/update_2_2.xml", both, "/Modul_2/update_2_2.xml.sig", both}) << 0;
        QTest::newRow("body stalls after its headers")
            << QStringList({"4:.stall:30"}) << false << QStringList({"/Modul_4/update_4_2.xml", both})
            << StallSeconds + 3;
        QTest::newRow("HEAD stalls")
            << QStringList({"4:.delay:30"}) << false << QStringList({"/Modul_4/update_4_2.xml", head})
            << StallSeconds + 3;
        QTest::newRow("body trickles")
            << QStringList({"4:.trickle:0.5"}) << false << QStringList({"/Modul_4/update_4_2.xml", both})
            << TotalSeconds + 3;
        // clang-format on
    }

    // Whatever the server answered to a file fetched ahead is the run's answer: the server sees
    // each file once per method, the log says what the run without fetching ahead says, and a
    // file that stalls or trickles ends the run within its limits, counted once.
    void everyRequestOnce()
    {
        QFETCH(QStringList, marks);
        QFETCH(bool, signing);
        QFETCH(QStringList, expected);
        QFETCH(int, bound);
        if (!FPkiError.isEmpty())
            QSKIP(qPrintable(FPkiError));

        TRunWorld world;
        QVERIFY(world.IsValid());
        for (int id = 1; id <= 8; ++id)
            QVERIFY(world.AddModule(QStringLiteral("M%1").arg(id), id, 2, QStringLiteral("Modul %1").arg(id),
                                    {{1, id}}));
        QVERIFY(QFile::remove(world.SourceDir() + QStringLiteral("Modul_8/update_8_2.xml")));
        QVERIFY(PutMarks(world, marks));
        if (signing) {
            const TTestKey maker('m');
            WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                             maker.PublicBase64());
            for (int id = 1; id <= 7; ++id) {
                const QString descriptor =
                    world.SourceDir() + QStringLiteral("Modul_%1/update_%1_2.xml").arg(id);
                if (id != 6)
                    QVERIFY(WriteFile(descriptor + QStringLiteral(".sig"),
                                      maker.SignatureFile(ReadFile(descriptor), QFileInfo(descriptor).fileName())));
            }
        }
        TTestHttpsServer server;
        const QString error = Serve(server, world);
        if (!error.isEmpty())
            QSKIP(qPrintable(error));

        TDownloadLimits limits;
        limits.StallTime = std::chrono::seconds(StallSeconds);
        limits.TotalTime = std::chrono::seconds(TotalSeconds);
        QElapsedTimer clock;
        clock.start();
        const TRunTrace ahead = Run(world, true, limits);
        const qint64 elapsed = clock.elapsed();
        const QList<TRecordedRequest> requests = server.Requests();
        server.ClearRequests();
        const TRunTrace without = Run(world, false, limits);

        QCOMPARE(ahead.Log, without.Log);
        QCOMPARE(ahead.Progress, without.Progress);
        QCOMPARE(ahead.Messages, without.Messages);
        QCOMPARE(ahead.Shown, without.Shown);
        QCOMPARE(ahead.TempFiles.size(), without.TempFiles.size());
        for (const auto& [name, bytes] : without.TempFiles) {
            QVERIFY2(ahead.TempFiles.count(name) == 1, qPrintable(name));
            QVERIFY2(ahead.TempFiles.at(name) == bytes, qPrintable(name));
        }
        if (bound > 0)
            QVERIFY2(elapsed < bound * 1000, qPrintable(QString::number(elapsed)));

        // Nothing asked for twice with the same method; each descriptor asked for once.
        std::map<std::pair<QString, QString>, int> count;
        for (const TRecordedRequest& request : requests)
            ++count[{request.Method, request.Path}];
        for (const auto& [request, times] : count)
            QVERIFY2(times == 1, qPrintable(request.first + u' ' + request.second));
        for (int id = 1; id <= 8; ++id)
            QCOMPARE(count[std::make_pair(QStringLiteral("HEAD"),
                                          QStringLiteral("/Modul_%1/update_%1_2.xml").arg(id))],
                     1);
        for (qsizetype i = 0; i + 1 < expected.size(); i += 2) {
            const QString& path = expected[i];
            const QString seen = QStringLiteral("%1 %2")
                                     .arg(count[std::make_pair(QStringLiteral("HEAD"), path)])
                                     .arg(count[std::make_pair(QStringLiteral("GET"), path)]);
            QVERIFY2(seen == expected[i + 1], qPrintable(path + QStringLiteral(": ") + seen));
        }
    }

    // A server that chooses HTTP/2 (nginx, as the download servers run it) gets every file of the
    // run over one connection, each asked for once, HEAD before GET; the run is the same as one
    // without fetching ahead.
    void http2ServerOneConnection()
    {
        if (!FPkiError.isEmpty())
            QSKIP(qPrintable(FPkiError));
        TRunWorld world;
        QVERIFY(world.IsValid());
        for (int id = 1; id <= ModuleCount; ++id)
            QVERIFY(world.AddModule(QStringLiteral("M%1").arg(id), id, 2, QStringLiteral("Modul %1").arg(id),
                                    {{1, id}}));
        QVERIFY(QFile::remove(world.SourceDir() + QStringLiteral("Modul_8/update_8_2.xml")));
        const TTestKey maker('m');
        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                         maker.PublicBase64());
        for (int id = 1; id <= ModuleCount; ++id) {
            const QString descriptor = world.SourceDir() + QStringLiteral("Modul_%1/update_%1_2.xml").arg(id);
            if (id != 6 && id != 8)
                QVERIFY(WriteFile(descriptor + QStringLiteral(".sig"),
                                  maker.SignatureFile(ReadFile(descriptor), QFileInfo(descriptor).fileName())));
        }
        QTemporaryDir nginxDir;
        TBenchNginx nginx;
        nginx.Start(nginxDir.path(), FPki.ServerCert, FPki.ServerKey, world.SourceDir(), true);
        if (!nginx.Error.isEmpty())
            QSKIP(qPrintable(nginx.Error));
        DeleteValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource);
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         QStringLiteral("https://127.0.0.1:%1/").arg(nginx.Port));

        const TRunTrace ahead = Run(world, true);
        // nginx writes a request's line when it has answered it; the run has all answers by now.
        const QStringList lines =
            QString::fromUtf8(ReadFile(nginx.AccessLog())).split(u'\n', Qt::SkipEmptyParts);
        const TRunTrace without = Run(world, false);
        QCOMPARE(ahead.Log, without.Log);
        QCOMPARE(ahead.Progress, without.Progress);
        QCOMPARE(ahead.Messages, without.Messages);
        QCOMPARE(ahead.Shown, without.Shown);
        QCOMPARE(ahead.Shown.size(), 1);
        QCOMPARE(ahead.TempFiles.size(), without.TempFiles.size());
        for (const auto& [name, bytes] : without.TempFiles)
            QVERIFY2(ahead.TempFiles.count(name) == 1 && ahead.TempFiles.at(name) == bytes, qPrintable(name));

        // "<connection> <request number> <method> <path> <status>"
        std::set<QString> connections;
        std::map<QString, QStringList> methods;
        for (const QString& line : lines) {
            const QStringList fields = line.split(u' ');
            QCOMPARE(fields.size(), 5);
            connections.insert(fields[0]);
            methods[fields[3]].append(fields[2]);
        }
        QCOMPARE(static_cast<int>(connections.size()), 1);
        for (int id = 1; id <= ModuleCount; ++id) {
            const QString path = QStringLiteral("/Modul_%1/update_%1_2.xml").arg(id);
            QCOMPARE(methods[path], id == 8 ? QStringList({"HEAD"}) : QStringList({"HEAD", "GET"}));
            QCOMPARE(methods[path + QStringLiteral(".sig")],
                     id == 6 || id == 8 ? QStringList({"HEAD"}) : QStringList({"HEAD", "GET"}));
        }
    }

    // Settings changed while the run is under way (here in the middle of it, as the settings
    // dialog of a second window could): from then on nothing fetched ahead under the old ones
    // is used, every file is fetched again under the new ones.
    void settingsChangedDuringTheRunFetchAgain()
    {
        if (!FPkiError.isEmpty())
            QSKIP(qPrintable(FPkiError));
        TRunWorld world;
        QVERIFY(world.IsValid());
        for (int id = 1; id <= 6; ++id)
            QVERIFY(world.AddModule(QStringLiteral("M%1").arg(id), id, 2, QStringLiteral("Modul %1").arg(id),
                                    {}));
        TTestHttpsServer server;
        const QString error = Serve(server, world);
        if (!error.isEmpty())
            QSKIP(qPrintable(error));
        const QString oldAgent = QStringLiteral("Alter Agent");
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::UserAgent, oldAgent);

        TSettingsChangingFrontEnd frontEnd;
        frontEnd.Trigger = QStringLiteral("M4");
        frontEnd.NewAgent = QStringLiteral("Neuer Agent");
        {
            const TScopedFrontEnd scope(frontEnd);
            TUpdates updates;
            TUpdateCheck check(&updates);
            check.SetFetchAhead(true);
            TUpdateRun(updates, check, false).RunUpdateCheck(true);
        }
        DeleteValue(HKEY_CURRENT_USER, SettingsKeys::Proxy, SettingsKeys::UserAgent);

        // Modules 1 to 3 came under the old agent; 4 to 6 were each asked for again, HEAD then
        // GET, under the new one.
        const QList<TRecordedRequest> requests = server.Requests();
        for (int id = 1; id <= 6; ++id) {
            const QString path = QStringLiteral("/Modul_%1/update_%1_2.xml").arg(id);
            QStringList underNew;
            for (const TRecordedRequest& request : requests) {
                QVERIFY2(request.UserAgent == oldAgent || request.UserAgent == frontEnd.NewAgent,
                         qPrintable(request.UserAgent));
                if (request.Path == path && request.UserAgent == frontEnd.NewAgent)
                    underNew.append(request.Method);
            }
            QCOMPARE(underNew, id < 4 ? QStringList() : QStringList({"HEAD", "GET"}));
        }
    }
};

QTEST_GUILESS_MAIN(tst_FetchAhead)
#include "tst_fetchAhead.moc"
