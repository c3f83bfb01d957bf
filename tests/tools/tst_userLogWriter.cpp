// vorlandt-userlog-writer, the writer of the shared installed-updates log, run as a program
// without privileges (it then takes the data folder from VORLANDT_PROGRAMDATA and its state
// folder from VORLANDT_USERLOG_STATE, and wants both to be the caller's own): what it refuses
// and why, the bytes it writes in each of the log's encodings, and the size cap.
#include "core/catalog/UserLogFile.h"
#include "support/LogEncoding.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Separator = QStringLiteral("=======================");

// One entry block as the updater hands it over: UTF-8, CR LF, two empty lines at the end.
QByteArray Entry(const QString& modul, const QString& text)
{
    return (Separator + QStringLiteral("\r\nInstallationsdatum: 09.12.2026\r\nModul: ") + modul +
            QStringLiteral("\r\nVersion: 5.3.7\r\n") + Separator + QStringLiteral("\r\n") + text +
            QStringLiteral("\r\n\r\n\r\n"))
        .toUtf8();
}

struct TWriterRun {
    int exitCode = -1;
    QString err;
};

}  // namespace

class TestUserLogWriter : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FDir;

    QString ProgramData() const { return FDir->filePath(QStringLiteral("programdata")); }
    QString DataDir() const { return ProgramData() + QStringLiteral("/Vorlandt/OnlineUpdater/1.0/"); }
    QString LogPath() const { return DataDir() + QStringLiteral("VL_Userlog.txt"); }
    QString StateDir() const { return FDir->filePath(QStringLiteral("state")); }

    TWriterRun Write(const QByteArray& entry, const QStringList& arguments) const
    {
        QProcess writer;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VORLANDT_PROGRAMDATA"), ProgramData());
        environment.insert(QStringLiteral("VORLANDT_USERLOG_STATE"), StateDir());
        writer.setProcessEnvironment(environment);
        writer.start(QStringLiteral(VORLANDT_USERLOG_WRITER_EXE), arguments);
        TWriterRun run;
        if (!writer.waitForStarted(30000))
            return run;
        writer.write(entry);
        writer.closeWriteChannel();
        if (!writer.waitForFinished(60000) || writer.exitStatus() != QProcess::NormalExit) {
            writer.kill();
            writer.waitForFinished(5000);
            return run;
        }
        run.exitCode = writer.exitCode();
        run.err = QString::fromUtf8(writer.readAllStandardError());
        return run;
    }

    TWriterRun Write(const QByteArray& entry, const QString& encoding = QStringLiteral("windows-1252")) const
    {
        return Write(entry, {QStringLiteral("--kodierung=") + encoding, LogPath()});
    }

private Q_SLOTS:
    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        QVERIFY(FDir->isValid());
        QVERIFY(QDir().mkpath(DataDir()));
        QVERIFY(QDir().mkpath(StateDir()));
        QCOMPARE(::chmod(QFile::encodeName(StateDir()).constData(), 0700), 0);
    }

    void cleanup() { FDir.reset(); }

    void refusesAndLeavesTheLogAlone_data()
    {
        QTest::addColumn<QString>("log");  // what lies under the log's name
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("path");  // the path the caller names; empty: the log's
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stderrHas");

        const QByteArray good = Entry(QStringLiteral("Kasse"), QStringLiteral("Neu"));
        const QString none;
        // clang-format off
        QTest::newRow("entry without its first separator") << "file"
            << good.mid(Separator.size() + 2) << none << 1 << "Die erste Zeile ist nicht die Trennlinie.";
        QTest::newRow("entry without its module line") << "file"
            << QByteArray(good).replace("Modul: ", "Modul ") << none << 1 << "Die dritte Zeile beginnt nicht mit \"Modul: \".";
        QTest::newRow("entry without its empty lines") << "file"
            << good.left(good.size() - 4) << none << 1 << "Der Eintrag endet nicht mit zwei Leerzeilen.";
        QTest::newRow("escape sequence in the text") << "file"
            << Entry(QStringLiteral("Kasse"), QStringLiteral("\x1b[2J sauber")) << none << 1
            << "Steuerzeichen U+001B";
        QTest::newRow("C1 control in the module name") << "file"
            << Entry(QStringLiteral("Kas\u009Bse"), QStringLiteral("Neu")) << none << 1 << "Steuerzeichen U+009B";
        QTest::newRow("NUL in the text") << "file"
            << Entry(QStringLiteral("Kasse"), QString(QChar(0))) << none << 1 << "Steuerzeichen U+0000";
        QTest::newRow("LF line end inside") << "file"
            << Entry(QStringLiteral("Kasse"), QStringLiteral("Eins\nZwei")) << none << 1
            << "Ein Zeilenende ist nicht CR LF";
        QTest::newRow("broken UTF-8") << "file"
            << Entry(QStringLiteral("Kasse"), QStringLiteral("X")).replace("X", "\xC3\x28") << none << 1
            << "kein gültiges UTF-8";
        QTest::newRow("entry beyond 64 KiB") << "file"
            << Entry(QStringLiteral("Kasse"), QString(70000, u'x')) << none << 1 << "größer als 65536 Bytes";
        QTest::newRow("symbolic link") << "link" << good << none << 1 << "Sie ist ein symbolischer Link.";
        QTest::newRow("second name") << "second name" << good << none << 1
            << "Sie hat 2 Namen (harte Links). Der Administrator findet die anderen Namen mit: find ";
        QTest::newRow("another owner") << "another owner" << good << none << 1 << "Sie gehört UID 64001, nicht UID 0.";
        QTest::newRow("writable by its group") << "writable by its group" << good << none << 1
            << "Andere Benutzer dürfen sie ändern (Rechte 0664).";
        QTest::newRow("writable by others") << "writable by others" << good << none << 1
            << "Andere Benutzer dürfen sie ändern (Rechte 0666).";
        QTest::newRow("pipe") << "pipe" << good << none << 1 << "Sie ist keine gewöhnliche Datei.";
        QTest::newRow("folder") << "folder" << good << none << 1 << "Sie ist keine gewöhnliche Datei.";
        QTest::newRow("a path of the caller's choosing") << "file" << good
            << QStringLiteral("/etc/shadow") << 1 << "Dieses Programm ergänzt nur";
        // clang-format on
    }

    void refusesAndLeavesTheLogAlone()
    {
        QFETCH(QString, log);
        QFETCH(QByteArray, entry);
        QFETCH(QString, path);
        QFETCH(int, exitCode);
        QFETCH(QString, stderrHas);
        if (log == u"another owner" && ::geteuid() != 0)
            QSKIP("changing a file's owner needs root");

        const QByteArray oldLog("Alter Inhalt\r\n");
        const QString elsewhere = FDir->filePath(QStringLiteral("anderswo.txt"));
        QVERIFY(WriteFile(elsewhere, oldLog));
        const QByteArray native = QFile::encodeName(LogPath());
        if (log == u"link") {
            QVERIFY(QFile::link(elsewhere, LogPath()));
        } else if (log == u"pipe") {
            QCOMPARE(::mkfifo(native.constData(), 0664), 0);
        } else if (log == u"folder") {
            QVERIFY(QDir().mkpath(LogPath()));
        } else if (log != u"missing") {
            QVERIFY(WriteFile(LogPath(), oldLog));
            const mode_t mode = log == u"writable by others" ? 0666 : log == u"writable by its group" ? 0664 : 0644;
            QCOMPARE(::chmod(native.constData(), mode), 0);
            if (log == u"second name")
                QCOMPARE(::link(native.constData(), QFile::encodeName(elsewhere + u'2').constData()), 0);
            if (log == u"another owner")
                QCOMPARE(::chown(native.constData(), 64001, gid_t(-1)), 0);
        }

        const TWriterRun run =
            Write(entry, {QStringLiteral("--kodierung=utf-8"), path.isEmpty() ? LogPath() : path});

        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(stderrHas), qPrintable(run.err));
        QVERIFY2(run.err.count(u'\n') == 1, qPrintable(run.err));
        if (log == u"second name") {
            struct stat info {};
            QCOMPARE(::stat(native.constData(), &info), 0);
            QVERIFY2(run.err.contains(QStringLiteral(" -xdev -inum %1").arg(info.st_ino)),
                     qPrintable(run.err));
        }
        QCOMPARE(ReadFile(elsewhere), oldLog);
        if (QFileInfo(LogPath()).isFile() && !QFileInfo(LogPath()).isSymLink())
            QCOMPARE(ReadFile(LogPath()), oldLog);
    }

    void wrongCallsAreTold_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("no path") << QStringList{QStringLiteral("--kodierung=utf-8")}
                                 << "der Pfad des Protokolls fehlt";
        QTest::newRow("unknown encoding")
            << QStringList{QStringLiteral("--kodierung=ebcdic"), QStringLiteral("/x")}
            << "unbekannte Kodierung \"ebcdic\"";
        QTest::newRow("two paths") << QStringList{QStringLiteral("/x"), QStringLiteral("/y")}
                                   << "unerwartetes Argument \"/y\"";
    }

    void wrongCallsAreTold()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, stderrHas);
        const TWriterRun run = Write(Entry(QStringLiteral("Kasse"), QString()), arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(stderrHas) && run.err.contains(QStringLiteral("Aufruf:")),
                 qPrintable(run.err));
    }

    void putsTheEntryFirstInTheLogsEncoding_data()
    {
        QTest::addColumn<QByteArray>("oldLog");
        QTest::addColumn<QString>("kodierung");  // for a log that is still empty
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected");

        const QString older = Separator +
                              QStringLiteral(
                                  "\r\nInstallationsdatum: 01.02.2025\r\nModul: Kasse\r\n"
                                  "Version: 5.1.0\r\n") +
                              Separator + QStringLiteral("\r\nÄlter\r\n\r\n\r\n");
        const auto entry = [](const QString& text) {
            return QString::fromUtf8(Entry(QStringLiteral("Kasse"), text));
        };
        const QString arrow = QStringLiteral("Menü → Extras 😀");

        QTest::newRow("missing log: made, in the code page")
            << QByteArray() << "windows-1252"
            << "Größe 5 €" << Encoded(entry(QStringLiteral("Größe 5 €")), TEncoding::Windows1252);
        QTest::newRow("empty log, code page")
            << QByteArray() << "windows-1252"
            << "Größe 5 €" << Encoded(entry(QStringLiteral("Größe 5 €")), TEncoding::Windows1252);
        QTest::newRow("empty log, UTF-8")
            << QByteArray() << "utf-8" << arrow << Encoded(entry(arrow), TEncoding::Utf8Bom);
        QTest::newRow("empty log, UTF-16 LE, a character beyond the BMP as a pair")
            << QByteArray() << "utf-16le" << arrow << Encoded(entry(arrow), TEncoding::Utf16LE);
        QTest::newRow("code-page log: one '?' per character it cannot hold")
            << Encoded(older, TEncoding::Windows1252) << "utf-8" << arrow
            << Encoded(entry(QStringLiteral("Menü ? Extras ?")) + older, TEncoding::Windows1252);
        QTest::newRow("UTF-8 log stays UTF-8") << Encoded(older, TEncoding::Utf8Bom) << "windows-1252"
                                               << arrow << Encoded(entry(arrow) + older, TEncoding::Utf8Bom);
        QTest::newRow("UTF-16 BE log stays UTF-16 BE")
            << Encoded(older, TEncoding::Utf16BE) << "utf-8" << arrow
            << Encoded(entry(arrow) + older, TEncoding::Utf16BE);
        QTest::newRow("older lines with LF and lone CR come back with CR LF")
            << QByteArray("Zeile 1\nZeile 2\rZeile 3") << "utf-8"
            << "Neu"
            << Encoded(entry(QStringLiteral("Neu")) + QStringLiteral("Zeile 1\r\nZeile 2\r\nZeile 3\r\n"),
                       TEncoding::Windows1252);
        QTest::newRow("UTF-16 lines end in CR LF too")
            << Encoded(QStringLiteral("Eins\nZwei"), TEncoding::Utf16LE) << "utf-8"
            << "Neu"
            << Encoded(entry(QStringLiteral("Neu")) + QStringLiteral("Eins\r\nZwei\r\n"), TEncoding::Utf16LE);
    }

    void putsTheEntryFirstInTheLogsEncoding()
    {
        QFETCH(QByteArray, oldLog);
        QFETCH(QString, kodierung);
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        if (!QString::fromLatin1(QTest::currentDataTag()).startsWith(u"missing"))
            QVERIFY(WriteFile(LogPath(), oldLog));

        const TWriterRun run = Write(Entry(QStringLiteral("Kasse"), text), kodierung);

        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(ReadFile(LogPath()), expected);
    }

    void keepsTheLogWithinItsCap_data()
    {
        QTest::addColumn<QByteArray>("oldLog");
        QTest::addColumn<bool>("entriesKept");  // whole old entries kept up to the cap

        // Entries of about a kilobyte, numbered so that a cut inside one would show.
        QByteArray entries;
        for (int n = 0; entries.size() < qsizetype(3 * userlog::MaxLogBytes); ++n) {
            entries +=
                Entry(QStringLiteral("Modul %1").arg(n), QStringLiteral("Zeile %1\r\n").arg(n).repeated(80));
        }
        QTest::newRow("three times the cap in entries: the newest whole entries stay") << entries << true;
        QTest::newRow("60 MB without a line end: only the new entry stays")
            << QByteArray(60 * 1024 * 1024, 'x') << false;
    }

    void keepsTheLogWithinItsCap()
    {
        QFETCH(QByteArray, oldLog);
        QFETCH(bool, entriesKept);
        QVERIFY(WriteFile(LogPath(), oldLog));
        const QByteArray entry = Entry(QStringLiteral("Neu"), QStringLiteral("Neu"));

        const TWriterRun run = Write(entry);

        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const QByteArray log = ReadFile(LogPath());
        QVERIFY(log.size() <= qsizetype(userlog::MaxLogBytes));
        QVERIFY(log.startsWith(entry));
        const QByteArray kept = log.mid(entry.size());
        if (!entriesKept) {
            QCOMPARE(kept, QByteArray());
            return;
        }
        // The old log's front, cut just before an entry, with no more than one entry dropped
        // beyond what the cap demands.
        QVERIFY(oldLog.startsWith(kept));
        QVERIFY(oldLog.mid(kept.size())
                    .startsWith((Separator + QStringLiteral("\r\nInstallationsdatum: ")).toUtf8()));
        QVERIFY2(kept.size() + entry.size() > qsizetype(userlog::MaxLogBytes) - 2 * 1024,
                 qPrintable(QString::number(kept.size())));
    }
};

QTEST_GUILESS_MAIN(TestUserLogWriter)
#include "tst_userLogWriter.moc"
