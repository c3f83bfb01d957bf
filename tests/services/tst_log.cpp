// The diagnostic log: the switch read on every call, the four actions, the file's exact bytes,
// and appends from two threads.
#include "core/platform/VorlandtError.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void SetSwitch(bool on)
{
    WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, on);
}

QString LogPath()
{
    return LogDirectory() + LogFileName;
}

QByteArray ReadLogFile()
{
    QFile file(LogPath());
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

}  // namespace

class TestLog : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TPrivateStores> FStores;

private Q_SLOTS:
    void init()
    {
        FStores = std::make_unique<TPrivateStores>();
        QVERIFY(FStores->IsValid());
        SetSwitch(true);
        WriteLog(TLogAction::DiscardBuffer, QString());
        QFile::remove(LogPath());
    }

    void cleanup()
    {
        SetSwitch(true);
        WriteLog(TLogAction::DiscardBuffer, QString());
        QFile::remove(LogPath());
        FStores.reset();
    }

    void savesLinesInWindows1252WithCrLfAndAClosingEmptyLine()
    {
        WriteLog(TLogAction::StartBuffer, QString());
        WriteLog(TLogAction::AppendLine, QStringLiteral("StartEXE - Start"));
        WriteLog(TLogAction::AppendLine, QStringLiteral("Größe: 5 €"));
        WriteLog(TLogAction::AppendLine, QString());
        WriteLog(TLogAction::AppendLine, QStringLiteral("Pfeil → Ende"));  // no place in the code page
        WriteLog(TLogAction::SaveFile, QString());
        QCOMPARE(ReadLogFile(), QByteArray("StartEXE - Start\r\n"
                                           "Gr\xF6\xDF" "e: 5 \x80\r\n"
                                           "\r\n"
                                           "Pfeil ? Ende\r\n"
                                           "\r\n"));
    }

    void textWithLineBreaksBecomesSeveralLines()
    {
        WriteLog(TLogAction::StartBuffer, QString());
        WriteLog(TLogAction::AppendLine, QStringLiteral("Laufende Programme:\r\nmodul1\r\nmodul2"));
        WriteLog(TLogAction::SaveFile, QString());
        QCOMPARE(ReadLogFile(), QByteArray("Laufende Programme:\r\nmodul1\r\nmodul2\r\n\r\n"));
    }

    void bufferStatesGiveTheirFiles_data()
    {
        QTest::addColumn<QList<int>>("actions");
        QTest::addColumn<QByteArray>("file");
        // Action 2 always logs "x"; the file is read after a final action 4.
        QTest::newRow("no buffer: empty file") << QList<int>{2} << QByteArray("");
        QTest::newRow("empty buffer: one CR LF") << QList<int>{1} << QByteArray("\r\n");
        QTest::newRow("action 1 drops earlier lines") << QList<int>{1, 2, 1, 2} << QByteArray("x\r\n\r\n");
        QTest::newRow("action 3 releases the buffer") << QList<int>{1, 2, 3, 2} << QByteArray("");
        QTest::newRow("actions 0, 5 and 6 do nothing") << QList<int>{1, 2, 0, 5, 6} << QByteArray("x\r\n\r\n");
        QTest::newRow("save keeps the buffer") << QList<int>{1, 2, 4, 2} << QByteArray("x\r\nx\r\n\r\n");
    }

    void bufferStatesGiveTheirFiles()
    {
        QFETCH(QList<int>, actions);
        QFETCH(QByteArray, file);
        for (int action : actions)
            WriteLog(action, QStringLiteral("x"));
        WriteLog(TLogAction::SaveFile, QString());
        QCOMPARE(ReadLogFile(), file);
    }

    void switchOffWritesNothingAndKeepsTheEarlierFile()
    {
        WriteLog(TLogAction::StartBuffer, QString());
        WriteLog(TLogAction::AppendLine, QStringLiteral("earlier run"));
        WriteLog(TLogAction::SaveFile, QString());
        const QByteArray earlier = ReadLogFile();

        SetSwitch(false);
        WriteLog(TLogAction::StartBuffer, QString());
        WriteLog(TLogAction::AppendLine, QStringLiteral("dropped"));
        WriteLog(TLogAction::SaveFile, QString());
        QCOMPARE(ReadLogFile(), earlier);
    }

    void switchIsReadOnEveryCall()
    {
        WriteLog(TLogAction::StartBuffer, QString());
        WriteLog(TLogAction::AppendLine, QStringLiteral("kept"));
        SetSwitch(false);
        WriteLog(TLogAction::AppendLine, QStringLiteral("dropped while off"));
        SetSwitch(true);
        WriteLog(TLogAction::AppendLine, QStringLiteral("kept again"));
        QCOMPARE(LogBuffer(), std::optional(QStringList{"kept", "kept again"}));
    }

    void missingSwitchMeansOff()
    {
        qputenv("VORLANDT_USER_STORE", FStores->FilePath(QStringLiteral("never-written.db")).toUtf8());
        WriteLog(TLogAction::StartBuffer, QString());
        QVERIFY(!LogBuffer().has_value());
    }

    void twoThreadsKeepEveryLine()
    {
        WriteLog(TLogAction::StartBuffer, QString());
        constexpr int perThread = 2000;
        auto writer = [](char tag) {
            for (int i = 0; i < perThread; ++i)
                WriteLog(TLogAction::AppendLine, QStringLiteral("%1 %2").arg(QChar::fromLatin1(tag)).arg(i));
        };
        std::thread worker(writer, 'w');
        writer('u');
        WriteLog(TLogAction::SaveFile, QString());  // a save in the middle must not disturb the appends
        worker.join();

        const QStringList lines = *LogBuffer();
        QCOMPARE(lines.size(), 2 * perThread);
        // Each thread's lines arrive whole and in their own order.
        int next[2] = {0, 0};
        for (const QString& line : lines) {
            const int who = line.startsWith(u'w') ? 0 : 1;
            QCOMPARE(line, QStringLiteral("%1 %2").arg(QChar(who == 0 ? u'w' : u'u')).arg(next[who]));
            ++next[who];
        }
    }

    void failedSaveRaisesAndKeepsTheBuffer()
    {
        WriteLog(TLogAction::StartBuffer, QString());
        WriteLog(TLogAction::AppendLine, QStringLiteral("bleibt"));
        // A folder where the file should be: the save cannot replace it.
        QVERIFY(QDir().mkpath(LogPath()));
        auto removeFolder = qScopeGuard([] { QDir(LogPath()).removeRecursively(); });
        try {
            WriteLog(TLogAction::SaveFile, QString());
            QFAIL("saving over a folder must fail");
        } catch (const EVorlandtError& e) {
            QCOMPARE(e.kind(), EVorlandtError::Kind::InOut);
            QVERIFY2(e.message().contains(LogFileName), qPrintable(e.message()));
        }
        QCOMPARE(LogBuffer(), std::optional(QStringList{"bleibt"}));
    }

    // Beside the program only in a folder that is the user's own; root's log never lands in a
    // system folder such as /usr/bin, whatever root may write.
    void logFolderIsTheUsersOwn_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<uint>("owner");
        QTest::addColumn<uint>("mode");
        QTest::addColumn<uint>("user");
        QTest::addColumn<bool>("besideProgram");

        QTest::newRow("root, system folder") << "/usr/bin" << 0u << 0u << 0u << false;
        QTest::newRow("root, a folder of root's") << "own" << 0u << 0755u << 0u << false;
        QTest::newRow("user, own folder") << "own" << 64001u << 0755u << 64001u << true;
        QTest::newRow("user, own folder without write permission")
            << "own" << 64001u << 0555u << 64001u << false;
        QTest::newRow("user, another's folder open to all") << "own" << 64002u << 0777u << 64001u << false;
        QTest::newRow("user, system folder") << "/usr/bin" << 0u << 0u << 64001u << false;
        QTest::newRow("user, no such folder") << "/nonexistent/bin" << 0u << 0u << 64001u << false;
    }

    void logFolderIsTheUsersOwn()
    {
        QFETCH(QString, folder);
        QFETCH(uint, owner);
        QFETCH(uint, mode);
        QFETCH(uint, user);
        QFETCH(bool, besideProgram);
        QTemporaryDir programFolder;
        if (folder == u"own") {
            if (::geteuid() != 0 && owner != ::geteuid())
                QSKIP("handing a folder to another user needs root");
            QVERIFY(programFolder.isValid());
            folder = programFolder.path();
            QVERIFY(::chown(QFile::encodeName(folder).constData(), owner, owner) == 0);
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), mode) == 0);
        }
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", saved); });
        qputenv("XDG_STATE_HOME", "/home/anna/.state");
        QCOMPARE(LogDirectoryFor(folder, user),
                 besideProgram ? folder + u'/' : QStringLiteral("/home/anna/.state/vorlandt/"));

        qunsetenv("XDG_STATE_HOME");
        if (!besideProgram)
            QCOMPARE(LogDirectoryFor(folder, user),
                     QDir::homePath() + QStringLiteral("/.local/state/vorlandt/"));
    }

    // The log shows addresses, folders and the proxy: readable by its user alone, also when an
    // older file of theirs under the name was readable by others. A missing state folder is
    // made private too.
    void logFileIsPrivate_data()
    {
        QTest::addColumn<int>("earlierMode");  // -1: no earlier file
        QTest::newRow("new file") << -1;
        QTest::newRow("earlier file readable by all") << 0644;
        QTest::newRow("earlier file writable by all") << 0666;
        QTest::newRow("earlier private file") << 0600;
    }

    void logFileIsPrivate()
    {
        QFETCH(int, earlierMode);
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", saved); });
        const QString state = FStores->FilePath(QStringLiteral("state-%1").arg(earlierMode));
        qputenv("XDG_STATE_HOME", QFile::encodeName(state));
        if (!LogDirectory().startsWith(state))
            QSKIP("this build's program folder is the user's own: the log goes beside it");
        if (earlierMode >= 0) {
            QVERIFY(QDir().mkpath(LogDirectory()));
            QFile earlier(LogPath());
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.close();
            QVERIFY(::chmod(QFile::encodeName(LogPath()).constData(), mode_t(earlierMode)) == 0);
        }
        WriteLog(TLogAction::StartBuffer, QString());
        WriteLog(TLogAction::AppendLine, QStringLiteral("https://intern.example/pfad"));
        WriteLog(TLogAction::SaveFile, QString());

        struct stat st;
        QVERIFY(::stat(QFile::encodeName(LogPath()).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
        QCOMPARE(ReadLogFile(), QByteArray("https://intern.example/pfad\r\n\r\n"));
        if (earlierMode < 0) {
            QVERIFY(::stat(QFile::encodeName(state + QStringLiteral("/vorlandt")).constData(), &st) == 0);
            QCOMPARE(st.st_mode & 07777, mode_t(0700));
        }
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
