// Whole-file replacement: new content lands complete, and a failed write names the path and the
// reason and leaves what was there before.
#include "core/platform/files/AtomicFile.h"
#include "core/platform/VorlandtError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <ctime>
#include <functional>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::FileModeShared;
using platform::TAtomicFile;
using platform::TDurability;
using platform::WriteFileAtomically;

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

void WriteDirectly(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

}  // namespace

Q_DECLARE_METATYPE(platform::TDurability)

class TestAtomicFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;

private Q_SLOTS:
    void init() { QVERIFY(FDir.isValid()); }

    void createsAndReplacesWithoutLeftovers_data()
    {
        QTest::addColumn<TDurability>("durability");
        QTest::newRow("durable") << TDurability::Durable;
        QTest::newRow("scratch") << TDurability::Scratch;
    }

    // Also a link planted under the name is replaced, and what it points to stays as it was.
    void createsAndReplacesWithoutLeftovers()
    {
        QFETCH(TDurability, durability);
        const auto write = [&](const QString& path, const QByteArray& bytes) {
            TAtomicFile file(path, FileModeShared, durability);
            file.Write(bytes);
            file.Commit();
        };
        const QString path = FDir.filePath(QStringLiteral("VL_Userlog.txt"));
        write(path, QByteArray("alt\r\n"));
        QCOMPARE(ReadAll(path), QByteArray("alt\r\n"));

        const QByteArray binary("neu\0\xFF\r\n", 7);
        write(path, binary);
        QCOMPARE(ReadAll(path), binary);

        write(path, QByteArray());
        QCOMPARE(ReadAll(path), QByteArray());

        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("fremd.txt"));
        WriteDirectly(target, "fremd");
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::link(target, path));
        write(path, QByteArray("eigen"));
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(ReadAll(path), QByteArray("eigen"));
        QCOMPARE(ReadAll(target), QByteArray("fremd"));
        // No temporary file may stay behind beside the target.
        QCOMPARE(QDir(FDir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{"VL_Userlog.txt"});
    }

    void failureNamesPathAndKeepsOldContent_data()
    {
        QTest::addColumn<QString>("relativePath");
        QTest::newRow("folder does not exist") << QStringLiteral("fehlt/datei.txt");
        QTest::newRow("parent is a regular file") << QStringLiteral("alt.txt/datei.txt");
        QTest::newRow("target is a folder") << QStringLiteral("ordner");
        QTest::newRow("empty name") << QString();
    }

    void failureNamesPathAndKeepsOldContent()
    {
        QFETCH(QString, relativePath);
        const QString oldFile = FDir.filePath(QStringLiteral("alt.txt"));
        WriteDirectly(oldFile, "alter Inhalt");
        QVERIFY(QDir(FDir.path()).mkdir(QStringLiteral("ordner")));
        WriteDirectly(FDir.filePath(QStringLiteral("ordner/drin.txt")), "bleibt");

        const QString path = relativePath.isEmpty() ? QString() : FDir.filePath(relativePath);
        try {
            WriteFileAtomically(path, QByteArray("neu"));
            QFAIL("no error raised");
        } catch (const EVorlandtError& e) {
            QCOMPARE(e.kind(), EVorlandtError::Kind::InOut);
            const QString prefix =
                QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: ").arg(path);
            QVERIFY2(e.message().startsWith(prefix), qPrintable(e.message()));
            QVERIFY2(e.message().size() > prefix.size(), "the system's reason is missing");
        }
        QCOMPARE(ReadAll(oldFile), QByteArray("alter Inhalt"));
        QCOMPARE(ReadAll(FDir.filePath(QStringLiteral("ordner/drin.txt"))), QByteArray("bleibt"));
        QCOMPARE(QDir(FDir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{"alt.txt", "ordner"}));
        QVERIFY(!QFileInfo::exists(FDir.filePath(QStringLiteral("fehlt"))));
    }

    // A disk that fills up must show the system's reason, not "Unknown error". The file size
    // limit makes the kernel refuse the write the way a full disk does, without root.
    void failedWriteReportsTheSystemsReason_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("replacing") << false;
        QTest::newRow("rewriting in place") << true;
    }

    void failedWriteReportsTheSystemsReason()
    {
        QFETCH(bool, inPlace);
        const QString path = FDir.filePath(QStringLiteral("VL_Userlog.txt"));
        WriteDirectly(path, "alt");
        const QByteArray big(64 * 1024, 'x');

        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = 4096;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        QString message;
        try {
            if (inPlace)
                platform::RewriteFileInPlace(path, big);
            else
                WriteFileAtomically(path, big);
        } catch (const EVorlandtError& e) {
            message = e.message();
        }
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(message, QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: %2")
                              .arg(path, qt_error_string(EFBIG)));
        if (!inPlace)
            QCOMPARE(ReadAll(path), QByteArray("alt"));
        QCOMPARE(QDir(FDir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"VL_Userlog.txt"});
    }

    // Root replacing the shared log it owns must not take the others' write permission away.
    void replacingOwnFileKeepsItsMode()
    {
        const QString path = FDir.filePath(QStringLiteral("VL_Userlog.txt"));
        WriteDirectly(path, "alt");
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0666), 0);
        WriteFileAtomically(path, "neu");
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0666));

        const QString job = FDir.filePath(QStringLiteral("VL_Update_Jobfile.vuj"));
        WriteFileAtomically(job, "6;...", platform::FileModePrivate);
        QCOMPARE(::stat(QFile::encodeName(job).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
    }

    // What lies under the name stays as it was: a file, a folder, a link (also a dangling one).
    void newFileNeverTakesAUsedName_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("file") << "file";
        QTest::newRow("folder") << "folder";
        QTest::newRow("link") << "link";
        QTest::newRow("dangling link") << "dangling";
    }

    void newFileNeverTakesAUsedName()
    {
        QFETCH(QString, what);
        const QString path = FDir.filePath(QStringLiteral("2026-02-01_2026-02-02_1_VL_NewsRTF.tmp"));
        const QString target = FDir.filePath(QStringLiteral("ziel"));
        WriteDirectly(target, "fremd");
        if (what == u"file")
            WriteDirectly(path, "fremd");
        else if (what == u"folder")
            QVERIFY(QDir().mkdir(path));
        else
            QVERIFY(QFile::link(what == u"link" ? target : FDir.filePath(QStringLiteral("weg")), path));

        platform::TAtomicFile file(path);
        file.Write("neu");
        QVERIFY(!file.CommitNew());
        QCOMPARE(ReadAll(target), QByteArray("fremd"));
        QVERIFY(!QFileInfo::exists(FDir.filePath(QStringLiteral("weg"))));
        if (what == u"file")
            QCOMPARE(ReadAll(path), QByteArray("fremd"));
        // Only the name and the target: the new file is gone again.
        QCOMPARE(QDir(FDir.path())
                     .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
                     .size(),
                 2);
    }

    // Rewriting in place is for another's file in a sticky folder: it never creates, follows a
    // link, or writes through a second name or into a pipe.
    void inPlaceRewriteRefusesAllButOneRegularFile_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing" << qt_error_string(ENOENT);
        QTest::newRow("link") << "link"
                              << "Sie ist ein symbolischer Link.";
        QTest::newRow("second name") << "hardlink"
                                     << "Sie hat 2 Namen (harte Links).";
        QTest::newRow("named pipe") << "pipe" << qt_error_string(ENXIO);
        QTest::newRow("folder") << "folder" << qt_error_string(EISDIR);
    }

    void inPlaceRewriteRefusesAllButOneRegularFile()
    {
        QFETCH(QString, what);
        QFETCH(QString, reason);
        const QString path = FDir.filePath(QStringLiteral("VL_Userlog.txt"));
        const QString target = FDir.filePath(QStringLiteral("ziel"));
        WriteDirectly(target, "fremd");
        const QByteArray native = QFile::encodeName(path);
        if (what == u"link")
            QVERIFY(QFile::link(target, path));
        else if (what == u"hardlink")
            QCOMPARE(::link(QFile::encodeName(target).constData(), native.constData()), 0);
        else if (what == u"pipe")
            QCOMPARE(::mkfifo(native.constData(), 0666), 0);
        else if (what == u"folder")
            QVERIFY(QDir().mkdir(path));

        try {
            platform::RewriteFileInPlace(path, "neu");
            QFAIL("no error raised");
        } catch (const EVorlandtError& e) {
            QCOMPARE(e.message(),
                     QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: %2").arg(path, reason));
        }
        QCOMPARE(ReadAll(target), QByteArray("fremd"));
        if (what == u"missing")
            QVERIFY(!QFileInfo::exists(path));
    }

    void inPlaceRewriteReplacesTheContent()
    {
        const QString path = FDir.filePath(QStringLiteral("VL_Userlog.txt"));
        WriteDirectly(path, "ein langer alter Inhalt");
        platform::RewriteFileInPlace(path, "kurz");
        QCOMPARE(ReadAll(path), QByteArray("kurz"));
    }

    void cleanup()
    {
        QDir(FDir.path()).removeRecursively();
        QDir().mkpath(FDir.path());
    }

    // A writer killed between creating its copy and renaming it leaves ".<name>.<random>" beside
    // the name. The next write of the name removes such copies of the user's own that nobody
    // changed for a minute; anything else that merely looks alike stays.
    void nextWriteRemovesOldCopiesOfTheUsersOwn()
    {
        const QString folder = FDir.filePath(QStringLiteral("liegengeblieben/"));
        QVERIFY(QDir().mkpath(folder));
        const QString victim = FDir.filePath(QStringLiteral("opfer.txt"));
        WriteDirectly(victim, "unberührt");
        const auto plant = [&folder](const QString& name, bool old) {
            WriteDirectly(folder + name, "Rest");
            if (old) {
                const timespec times[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
                QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(folder + name).constData(), times, 0), 0);
            }
        };
        plant(QStringLiteral(".ziel.txt.k3x9q0a2b"), true);    // old copy of the name: goes
        plant(QStringLiteral(".ziel.txt.7f"), false);          // a writer of a moment ago: stays
        plant(QStringLiteral(".anders.txt.k3x9q0a2b"), true);  // another name's: stays until that is written
        plant(QStringLiteral(".ziel.txt.K3X9"), true);         // not our pattern: stays
        QVERIFY(QFile::link(victim, folder + QStringLiteral(".ziel.txt.abc")));  // a link: stays
        const bool root = ::geteuid() == 0;
        if (root) {
            plant(QStringLiteral(".ziel.txt.fremd1"), true);  // another user's: stays
            QCOMPARE(::lchown(QFile::encodeName(folder + QStringLiteral(".ziel.txt.fremd1")).constData(),
                              64001, gid_t(-1)),
                     0);
        }

        WriteFileAtomically(folder + QStringLiteral("ziel.txt"), "neu");

        QStringList expected = {QStringLiteral(".anders.txt.k3x9q0a2b"), QStringLiteral(".ziel.txt.7f"),
                                QStringLiteral(".ziel.txt.K3X9"), QStringLiteral(".ziel.txt.abc"),
                                QStringLiteral("ziel.txt")};
        if (root)
            expected.append(QStringLiteral(".ziel.txt.fremd1"));
        expected.sort();
        QStringList left =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        left.sort();
        QCOMPARE(left, expected);
        QCOMPARE(ReadAll(victim), QByteArray("unberührt"));
        QCOMPARE(ReadAll(folder + QStringLiteral("ziel.txt")), QByteArray("neu"));
    }
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomicFile.moc"
