// The installed-updates log: the exact bytes of an added entry, the encodings a rewritten log
// keeps, temporary entries, failures that must leave the old log whole, and vorlandt-userlog.
#include "CatalogWorld.h"
#include "support/LogEncoding.h"
#include "support/TestClock.h"
#include "support/TestFormatSettings.h"

#include "core/catalog/UserLog.h"
#include "core/catalog/UserLogFile.h"
#include "core/platform/Clock.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/text/RegionalFormat.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <csignal>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

namespace {

const QByteArray Utf8Bom("\xEF\xBB\xBF");

// One entry as it appears in the log, the two empty lines after it included.
QString Entry(const QString& date, const QString& modul, const QString& version, const QString& text)
{
    QString entry = QStringLiteral("=======================\r\nInstallationsdatum: ") + date +
                    QStringLiteral("\r\nModul: ") + modul + QStringLiteral("\r\nVersion: ") + version +
                    QStringLiteral("\r\n=======================\r\n");
    return entry + text + QStringLiteral("\r\n\r\n\r\n");
}

}  // namespace

class TestUserLog : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TCatalogWorld> FWorld;

    QString LogPath() const { return FWorld->DataDir() + QStringLiteral("VL_Userlog.txt"); }
    QString EntryPath(const QString& numbers) const
    {
        return FWorld->TempDir() + QStringLiteral("VL_UpdateTXT_%1.tmp").arg(numbers);
    }

    static void SetToday(int year, int month, int day)
    {
        TestClock::set(QDateTime(QDate(year, month, day), QTime(10, 30)));
    }

private Q_SLOTS:
    void init()
    {
        FWorld = std::make_unique<TCatalogWorld>();
        QVERIFY(FWorld->IsValid());
        TestFormatSettings::set(platform::TFormatSettings::German());
        SetToday(2026, 12, 9);
    }

    void cleanup()
    {
        TestClock::set(QDateTime());
        TestFormatSettings::set(std::nullopt);
        FWorld.reset();
    }

    void addedEntryLeadsTheLogInItsEncoding_data()
    {
        QTest::addColumn<QByteArray>("oldLog");     // "<missing>": no file
        QTest::addColumn<QByteArray>("tempEntry");  // "<missing>": no file
        QTest::addColumn<QString>("modul");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray missing("<missing>");
        const QString older = Entry(QStringLiteral("01.02.2025"), QStringLiteral("Vorlandt Kasse"),
                                    QStringLiteral("5.1.0"), QStringLiteral("Alte Änderung"));
        const QString kasse = QStringLiteral("Vorlandt Kasse");
        const QString today = QStringLiteral("09.12.2026");
        const QString version = QStringLiteral("5.3.7");
        const QString text = QStringLiteral("Größere Schrift\r\nKorrektur für €-Beträge");

        QTest::newRow("new log, no entry text: header and three empty lines")
            << missing << missing << kasse
            << Encoded(QStringLiteral("=======================\r\nInstallationsdatum: 09.12.2026\r\n"
                                      "Modul: Vorlandt Kasse\r\nVersion: 5.3.7\r\n=======================\r\n"
                                      "\r\n\r\n\r\n"),
                       TEncoding::Windows1252);
        QTest::newRow("new log from a Windows-1252 entry")
            << missing << Encoded(text + QStringLiteral("\r\n"), TEncoding::Windows1252) << kasse
            << Encoded(Entry(today, kasse, version, text), TEncoding::Windows1252);
        QTest::newRow("entry text trimmed of blank lines, blanks and controls at both ends")
            << missing
            << QByteArray(
                   "\r\n\r\n \t\x01"
                   "Erste Zeile\r\n\r\n  Letzte Zeile \t\r\n\r\n\x1A")
            << kasse
            << Encoded(Entry(today, kasse, version, QStringLiteral("Erste Zeile\r\n\r\n  Letzte Zeile")),
                       TEncoding::Windows1252);
        QTest::newRow("entry of blanks only gives no text")
            << missing << QByteArray("   \r\n\t\r\n") << kasse
            << Encoded(Entry(today, kasse, version, QString()), TEncoding::Windows1252);
        QTest::newRow("older entries follow unchanged")
            << Encoded(older, TEncoding::Windows1252) << Encoded(text, TEncoding::Windows1252) << kasse
            << Encoded(Entry(today, kasse, version, text) + older, TEncoding::Windows1252);
        QTest::newRow("older lines with LF ends come back with CR LF")
            << QByteArray("Zeile 1\nZeile 2\n\nZeile 4") << QByteArray("Neu") << kasse
            << Encoded(Entry(today, kasse, version, QStringLiteral("Neu")) +
                           QStringLiteral("Zeile 1\r\nZeile 2\r\n\r\nZeile 4\r\n"),
                       TEncoding::Windows1252);
        QTest::newRow("empty log file counts as none")
            << QByteArray() << missing << kasse
            << Encoded(Entry(today, kasse, version, QString()), TEncoding::Windows1252);
        QTest::newRow("UTF-8 log with BOM stays UTF-8 with BOM")
            << Encoded(older, TEncoding::Utf8Bom) << Encoded(text, TEncoding::Windows1252) << kasse
            << Encoded(Entry(today, kasse, version, text) + older, TEncoding::Utf8Bom);
        QTest::newRow("UTF-16 LE log stays UTF-16 LE")
            << Encoded(older, TEncoding::Utf16LE) << Encoded(text, TEncoding::Windows1252) << kasse
            << Encoded(Entry(today, kasse, version, text) + older, TEncoding::Utf16LE);
        QTest::newRow("UTF-16 BE log stays UTF-16 BE")
            << Encoded(older, TEncoding::Utf16BE) << Encoded(text, TEncoding::Utf8Bom) << kasse
            << Encoded(Entry(today, kasse, version, text) + older, TEncoding::Utf16BE);
        QTest::newRow("new log takes the UTF-8 of the entry, so arrows survive")
            << missing << Encoded(QStringLiteral("Menü → Extras"), TEncoding::Utf8Bom) << kasse
            << Encoded(Entry(today, kasse, version, QStringLiteral("Menü → Extras")), TEncoding::Utf8Bom);
        QTest::newRow("UTF-16 log keeps characters beyond the code page")
            << Encoded(older, TEncoding::Utf16LE)
            << Encoded(QStringLiteral("Menü → Extras"), TEncoding::Utf8Bom) << QStringLiteral("Kasse ✓")
            << Encoded(
                   Entry(today, QStringLiteral("Kasse ✓"), version, QStringLiteral("Menü → Extras")) + older,
                   TEncoding::Utf16LE);
        // The log is shown as plain text: a line break in the module name cannot fake a line of
        // the header, an escape sequence in the text cannot drive a terminal.
        QTest::newRow("control characters inside become '?'")
            << missing << QByteArray("Erste\x1b[2J Zeile\r\nZweite\tZeile")
            << QStringLiteral("Kasse\r\nVersion: 9.9.9")
            << Encoded(Entry(today, QStringLiteral("Kasse??Version: 9.9.9"), version,
                             QStringLiteral("Erste?[2J Zeile\r\nZweite\tZeile")),
                       TEncoding::Windows1252);
        // The code page has no arrow: it becomes '?', as the system's own conversion does.
        QTest::newRow("Windows-1252 log turns characters beyond the code page into '?'")
            << Encoded(older, TEncoding::Windows1252)
            << Encoded(QStringLiteral("Menü → Extras"), TEncoding::Utf8Bom) << kasse
            << Encoded(Entry(today, kasse, version, QStringLiteral("Menü ? Extras")) + older,
                       TEncoding::Windows1252);
    }

    void addedEntryLeadsTheLogInItsEncoding()
    {
        QFETCH(QByteArray, oldLog);
        QFETCH(QByteArray, tempEntry);
        QFETCH(QString, modul);
        QFETCH(QByteArray, expected);
        if (oldLog != "<missing>")
            Write(LogPath(), oldLog);
        if (tempEntry != "<missing>")
            Write(EntryPath(QStringLiteral("12_5_3_7")), tempEntry);

        TUserLog::AddLastTempEntry(modul, 12, 5, 3, 7);

        QCOMPARE(Read(LogPath()), expected);
        // The installer may need the entry again; it is the next search's to replace.
        QCOMPARE(Read(EntryPath(QStringLiteral("12_5_3_7"))), tempEntry);
    }

    void secondEntryGoesAboveTheFirst()
    {
        TUserLog::SaveTempEntry(7, 2, 10, 0, QStringLiteral("Erstes Update"));
        TUserLog::SaveTempEntry(12, 5, 3, 7, QStringLiteral("  Zweites Update\r\n"));
        TUserLog::AddLastTempEntry(QStringLiteral("Vorlandt Lohn"), 7, 2, 10, 0);
        SetToday(2027, 1, 3);
        TUserLog::AddLastTempEntry(QStringLiteral("Vorlandt Kasse"), 12, 5, 3, 7);

        const QString expected = Entry(QStringLiteral("03.01.2027"), QStringLiteral("Vorlandt Kasse"),
                                       QStringLiteral("5.3.7"), QStringLiteral("Zweites Update")) +
                                 Entry(QStringLiteral("09.12.2026"), QStringLiteral("Vorlandt Lohn"),
                                       QStringLiteral("2.10.0"), QStringLiteral("Erstes Update"));
        QCOMPARE(Read(LogPath()), Encoded(expected, TEncoding::Windows1252));
        QCOMPARE(TUserLog().Content(), expected);
    }

    void dateFollowsTheRegionalFormat()
    {
        TestFormatSettings::set(
            platform::FormatSettingsFromStrftime(QStringLiteral("%m/%d/%Y"), QStringLiteral("%H:%M:%S"),
                                                 QStringLiteral("AM"), QStringLiteral("PM")));
        TUserLog::AddLastTempEntry(QStringLiteral("Kasse"), 1, 1, 1, 1);
        QVERIFY2(Read(LogPath()).contains("\r\nInstallationsdatum: 12/09/2026\r\n"),
                 Read(LogPath()).constData());
    }

    void fourNumbersNameTheEntryAndTheVersion_data()
    {
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("versionLine");

        QTest::newRow("two-digit minor version") << QList<int>{7, 2, 10, 0} << "VL_UpdateTXT_7_2_10_0.tmp"
                                                 << "Version: 2.10.0";
        QTest::newRow("negative numbers keep their sign")
            << QList<int>{-1, -2, 0, -30} << "VL_UpdateTXT_-1_-2_0_-30.tmp"
            << "Version: -2.0.-30";
        QTest::newRow("32-bit extremes")
            << QList<int>{2147483647, -2147483647 - 1, 0, 1} << "VL_UpdateTXT_2147483647_-2147483648_0_1.tmp"
            << "Version: -2147483648.0.1";
    }

    void fourNumbersNameTheEntryAndTheVersion()
    {
        QFETCH(QList<int>, numbers);
        QFETCH(QString, fileName);
        QFETCH(QString, versionLine);

        TUserLog::SaveTempEntry(numbers[0], numbers[1], numbers[2], numbers[3], QStringLiteral("Text"));
        QCOMPARE(TUserLog::TempEntryPath(numbers[0], numbers[1], numbers[2], numbers[3]),
                 FWorld->TempDir() + fileName);
        QCOMPARE(Read(FWorld->TempDir() + fileName), QByteArray("Text\r\n"));

        TUserLog::AddLastTempEntry(QStringLiteral("Kasse"), numbers[0], numbers[1], numbers[2], numbers[3]);
        const QStringList lines = TUserLog().Content().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.value(3), versionLine);
        QCOMPARE(lines.value(5), QStringLiteral("Text"));
    }

    void tempEntryHoldsLinesInWindows1252_data()
    {
        QTest::addColumn<QString>("logText");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("empty description gives an empty file") << QString() << QByteArray();
        QTest::newRow("every line ends with CR LF")
            << "Eins\nZwei\rDrei\r\nVier" << QByteArray("Eins\r\nZwei\r\nDrei\r\nVier\r\n");
        QTest::newRow("a final line end adds no line") << "Eins\r\n" << QByteArray("Eins\r\n");
        QTest::newRow("empty lines stay") << "\r\nEins\r\n\r\n" << QByteArray("\r\nEins\r\n\r\n");
        QTest::newRow("umlauts and euro in the code page") << "Größe: 5 €"
                                                           << QByteArray(
                                                                  "Gr\xF6\xDF"
                                                                  "e: 5 \x80\r\n");
        QTest::newRow("characters beyond the code page become '?'") << "A → B 😀" << QByteArray("A ? B ?\r\n");
    }

    void tempEntryHoldsLinesInWindows1252()
    {
        QFETCH(QString, logText);
        QFETCH(QByteArray, expected);
        TUserLog::SaveTempEntry(12, 5, 3, 7, logText);
        QCOMPARE(Read(EntryPath(QStringLiteral("12_5_3_7"))), expected);
    }

    void tempEntryReplacesAnEarlierOne()
    {
        Write(EntryPath(QStringLiteral("12_5_3_7")),
              QByteArray("Eine viel längere alte Beschreibung\r\n").repeated(50));
        TUserLog::SaveTempEntry(12, 5, 3, 7, QStringLiteral("Neu"));
        QCOMPARE(Read(EntryPath(QStringLiteral("12_5_3_7"))), QByteArray("Neu\r\n"));
    }

    void tempEntryReplacesALinkInsteadOfWritingThroughIt()
    {
        const QString victim = FWorld->Path(QStringLiteral("fremd.txt"));
        Write(victim, "unberührt");
        QVERIFY(QFile::link(victim, EntryPath(QStringLiteral("12_5_3_7"))));

        TUserLog::SaveTempEntry(12, 5, 3, 7, QStringLiteral("Neu"));

        QCOMPARE(Read(victim), QByteArray("unberührt"));
        QVERIFY(!QFileInfo(EntryPath(QStringLiteral("12_5_3_7"))).isSymLink());
        QCOMPARE(Read(EntryPath(QStringLiteral("12_5_3_7"))), QByteArray("Neu\r\n"));
    }

    void tempEntryThatCannotBeDeletedRaisesItsMessage()
    {
        const QString path = EntryPath(QStringLiteral("12_5_3_7"));
        QVERIFY(QDir().mkpath(path + QStringLiteral("/inhalt")));
        try {
            TUserLog::SaveTempEntry(12, 5, 3, 7, QStringLiteral("Neu"));
            QFAIL("no error raised");
        } catch (const EVorlandtError& error) {
            QCOMPARE(error.message(), path + QStringLiteral(" konnte nicht gelöscht werden."));
        }
        QVERIFY(QFileInfo(path + QStringLiteral("/inhalt")).isDir());
    }

    void logContentIsItsLinesWithCrLf_data()
    {
        QTest::addColumn<QByteArray>("file");  // "<missing>": no file
        QTest::addColumn<QString>("content");

        QTest::newRow("no log") << QByteArray("<missing>") << QString();
        QTest::newRow("empty log") << QByteArray() << QString();
        QTest::newRow("BOM only") << Utf8Bom << QString();
        QTest::newRow("last line without line end") << QByteArray("Eins\r\nZwei") << "Eins\r\nZwei\r\n";
        QTest::newRow("LF and CR line ends")
            << QByteArray("Eins\nZwei\rDrei\n") << "Eins\r\nZwei\r\nDrei\r\n";
        QTest::newRow("Windows-1252") << QByteArray(
                                             "Gr\xF6\xDF"
                                             "e \x80\r\n")
                                      << "Größe €\r\n";
        QTest::newRow("UTF-16 LE") << Encoded(QStringLiteral("Menü →\r\n"), TEncoding::Utf16LE)
                                   << "Menü →\r\n";
    }

    void logContentIsItsLinesWithCrLf()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, content);
        if (file != "<missing>")
            Write(LogPath(), file);
        QCOMPARE(TUserLog().Content(), content);
    }

    void unreadableFilesRaiseAndKeepTheOldLog_data()
    {
        QTest::addColumn<QString>("folderAt");  // "log" or "entry": a folder in the file's place
        QTest::newRow("folder in place of the log") << "log";
        QTest::newRow("folder in place of the temporary entry") << "entry";
    }

    void unreadableFilesRaiseAndKeepTheOldLog()
    {
        QFETCH(QString, folderAt);
        const QByteArray oldLog = Encoded(Entry(QStringLiteral("01.02.2025"), QStringLiteral("Kasse"),
                                                QStringLiteral("5.1.0"), QStringLiteral("Alt")),
                                          TEncoding::Windows1252);
        if (folderAt == u"log") {
            QVERIFY(QDir().mkpath(LogPath()));
            Write(EntryPath(QStringLiteral("12_5_3_7")), "Neu");
        } else {
            Write(LogPath(), oldLog);
            QVERIFY(QDir().mkpath(EntryPath(QStringLiteral("12_5_3_7"))));
        }

        QVERIFY_THROWS_EXCEPTION(EVorlandtError,
                                 TUserLog::AddLastTempEntry(QStringLiteral("Kasse"), 12, 5, 3, 7));

        if (folderAt == u"log") {
            QVERIFY(QFileInfo(LogPath()).isDir());
            QVERIFY_THROWS_EXCEPTION(EVorlandtError, TUserLog());
        } else {
            QCOMPARE(Read(LogPath()), oldLog);
        }
    }

    void fullDiskKeepsTheOldLogWhole()
    {
        const QByteArray oldLog = Encoded(Entry(QStringLiteral("01.02.2025"), QStringLiteral("Kasse"),
                                                QStringLiteral("5.1.0"), QStringLiteral("Alt")),
                                          TEncoding::Windows1252);
        Write(LogPath(), oldLog);
        Write(EntryPath(QStringLiteral("12_5_3_7")), QByteArray("Eine lange Beschreibung\r\n").repeated(100));

        // A file-size limit below the new log's size fails the write the way a full disk does.
        rlimit previous{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = previous;
        small.rlim_cur = 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        QString message;
        try {
            TUserLog::AddLastTempEntry(QStringLiteral("Kasse"), 12, 5, 3, 7);
        } catch (const EVorlandtError& error) {
            message = error.message();
        }
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousSignal);

        QVERIFY2(message.contains(LogPath()), qPrintable(QStringLiteral("<%1>").arg(message)));
        QCOMPARE(Read(LogPath()), oldLog);
        const QStringList left = QDir(FWorld->DataDir()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        QCOMPARE(left, QStringList{QStringLiteral("VL_Userlog.txt")});
    }

    void dataDirThroughARegularFileRaises()
    {
        const QString blocker = FWorld->Path(QStringLiteral("datei"));
        Write(blocker, "kein Ordner");
        // Neither the machine-wide folder nor the registered one can be made.
        qputenv("VORLANDT_PROGRAMDATA", QFile::encodeName(blocker));
        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::StdEinstellungen, SettingsKeys::Pfad,
                         blocker + QStringLiteral("/suite/"));
        Write(EntryPath(QStringLiteral("12_5_3_7")), "Neu");

        QCOMPARE(TUserLog().Content(), QString());
        QVERIFY_THROWS_EXCEPTION(EVorlandtError,
                                 TUserLog::AddLastTempEntry(QStringLiteral("Kasse"), 12, 5, 3, 7));
        QCOMPARE(Read(blocker), QByteArray("kein Ordner"));
    }

    void hugeLogCostsOnlyItsRecentPart()
    {
        // Sixty megabytes of old lines: reading shows the front (the newest history) up to the
        // cap, cut after a whole line, and adding keeps the file within the cap.
        const QByteArray line("Eine alte Zeile der Protokolldatei, längst vergangen\r\n");
        QByteArray huge;
        huge.reserve(60 * 1024 * 1024 + line.size());
        while (huge.size() < 60 * 1024 * 1024)
            huge += line;
        Write(LogPath(), huge);

        const QString content = TUserLog().Content();
        QVERIFY(content.size() > 0 && content.size() <= qsizetype(userlog::MaxLogBytes));
        QVERIFY(content.endsWith(QStringLiteral("\r\n")));
        QCOMPARE(Encoded(content, TEncoding::Windows1252), huge.left(content.size()));

        Write(EntryPath(QStringLiteral("12_5_3_7")), "Neu");
        TUserLog::AddLastTempEntry(QStringLiteral("Kasse"), 12, 5, 3, 7);
        const QByteArray log = Read(LogPath());
        QVERIFY(log.size() <= qsizetype(userlog::MaxLogBytes));
        const QByteArray entry = Encoded(Entry(QStringLiteral("09.12.2026"), QStringLiteral("Kasse"),
                                               QStringLiteral("5.3.7"), QStringLiteral("Neu")),
                                         TEncoding::Windows1252);
        QVERIFY(log.startsWith(entry));
        QVERIFY(huge.startsWith(log.mid(entry.size())));
        QVERIFY(log.endsWith(line));
    }

    void anotherUsersLogGoesThroughTheWriter_data()
    {
        QTest::addColumn<QString>("writer");  // the writer the caller is pointed to
        QTest::addColumn<QString>("messageHas");
        QTest::newRow("the writer checks the file") << QStringLiteral(VORLANDT_USERLOG_WRITER_EXE)
                                                    << QStringLiteral("Sie gehört UID 64001, nicht UID 0.");
        QTest::newRow("no writer") << QStringLiteral("/nirgends/vorlandt-userlog-writer")
                                   << QStringLiteral(
                                          "Das Schreibprogramm \"/nirgends/vorlandt-userlog-writer\" "
                                          "lässt sich nicht starten");
    }

    void anotherUsersLogGoesThroughTheWriter()
    {
        QFETCH(QString, writer);
        QFETCH(QString, messageHas);
        if (::geteuid() != 0)
            QSKIP("a log of another owner needs root to set up");
        const QByteArray oldLog("Alter Eintrag\r\n");
        Write(LogPath(), oldLog);
        QCOMPARE(::chown(QFile::encodeName(LogPath()).constData(), 64001, gid_t(-1)), 0);
        qputenv("VORLANDT_USERLOG_WRITER", QFile::encodeName(writer));
        // The writer's own folder (queue, lock), which the caller's environment names only for a
        // writer that runs without gained privileges, as here.
        QTemporaryDir state;
        QCOMPARE(::chmod(QFile::encodeName(state.path()).constData(), 0700), 0);
        qputenv("VORLANDT_USERLOG_STATE", QFile::encodeName(state.path()));

        QString message;
        try {
            TUserLog::AddLastTempEntry(QStringLiteral("Kasse"), 12, 5, 3, 7);
        } catch (const EVorlandtError& error) {
            message = error.message();
        }
        qunsetenv("VORLANDT_USERLOG_WRITER");
        qunsetenv("VORLANDT_USERLOG_STATE");

        QVERIFY2(message.contains(messageHas), qPrintable(message));
        QVERIFY2(message.contains(LogPath()), qPrintable(message));
        QCOMPARE(Read(LogPath()), oldLog);
    }

    void toolAddsTheEntryOrSaysWhyNot_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("logIsFolder");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stderrHas");

        QTest::newRow("adds") << QStringList{"add", "Vorlandt Kasse", "12", "5", "3", "7"} << false << 0
                              << "";
        QTest::newRow("log cannot be read")
            << QStringList{"add", "Vorlandt Kasse", "12", "5", "3", "7"} << true << 1 << "VL_Userlog.txt";
        QTest::newRow("no command") << QStringList{} << false << 2 << "Aufruf:";
        QTest::newRow("unknown command")
            << QStringList{"del", "x", "1", "2", "3", "4"} << false << 2 << "unbekannter Befehl";
        QTest::newRow("one number missing")
            << QStringList{"add", "Kasse", "12", "5", "3"} << false << 2 << "Aufruf:";
        QTest::newRow("no number") << QStringList{"add", "Kasse", "12", "fünf", "3", "7"} << false << 2
                                   << "keine ganze Zahl";
        QTest::newRow("beyond 32 bits")
            << QStringList{"add", "Kasse", "12", "5", "3", "4294967303"} << false << 2 << "keine ganze Zahl";
    }

    void toolAddsTheEntryOrSaysWhyNot()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, logIsFolder);
        QFETCH(int, exitCode);
        QFETCH(QString, stderrHas);
        Write(EntryPath(QStringLiteral("12_5_3_7")), "Neu in 5.3.7\r\n");
        if (logIsFolder)
            QVERIFY(QDir().mkpath(LogPath()));

        QProcess tool;
        tool.start(QStringLiteral(VORLANDT_USERLOG_EXE), arguments);
        QVERIFY2(tool.waitForStarted(), qPrintable(tool.errorString()));
        QVERIFY(tool.waitForFinished(60000));
        const QString errors = QString::fromUtf8(tool.readAllStandardError());

        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), exitCode);
        QVERIFY2(errors.contains(stderrHas), qPrintable(errors));
        if (exitCode == 0) {
            QVERIFY(errors.isEmpty());
            // The tool reads the machine's clock, so the date is whatever today is.
            const QStringList lines = TUserLog().Content().split(QStringLiteral("\r\n"));
            QCOMPARE(lines.value(2), QStringLiteral("Modul: Vorlandt Kasse"));
            QCOMPARE(lines.value(3), QStringLiteral("Version: 5.3.7"));
            QCOMPARE(lines.value(5), QStringLiteral("Neu in 5.3.7"));
            QCOMPARE(lines.mid(6, 3), QStringList(3, QString()));
        } else if (!logIsFolder) {
            QVERIFY(!QFile::exists(LogPath()));
        }
    }
};

QTEST_GUILESS_MAIN(TestUserLog)
#include "tst_userLog.moc"
