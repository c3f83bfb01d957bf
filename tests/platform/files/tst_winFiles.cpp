// The Windows back-ends of the file layer: replacing a file, placing a new one only where nothing
// has the name, reads that refuse folders and links, locks between handles, the private temporary
// folder and the names in folders. Links are made where the system makes them (Wine does not:
// those cases are skipped there).
#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/FileLock.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/files/FolderEntries.h"
#include "core/platform/files/PrivateFolder.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/WinApi.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>

using namespace platform;

namespace {

void Put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray Content(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QString ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EVorlandtError& error) {
        return error.message();
    }
    return QString();
}

// A symbolic link at `link` to `target`, or false where the system makes none (Wine).
bool MakeLink(const QString& link, const QString& target, bool folder)
{
    const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    return ::CreateSymbolicLinkW(win::WidePath(link).c_str(), win::WidePath(target).c_str(), flags) &&
           ::GetFileAttributesW(win::WidePath(link).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

class TestWinFiles : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> FDir;
    QString Path(const QString& name) const { return FDir->filePath(name); }

private Q_SLOTS:
    void init()
    {
        FDir.emplace();
        QVERIFY(FDir->isValid());
    }
    void cleanup() { FDir.reset(); }

    void commitReplacesAndLeavesNoCopy_data()
    {
        QTest::addColumn<bool>("scratch");
        QTest::addColumn<bool>("existing");
        QTest::newRow("durable, new") << false << false;
        QTest::newRow("durable, over a file") << false << true;
        QTest::newRow("scratch, over a file") << true << true;
    }
    void commitReplacesAndLeavesNoCopy()
    {
        QFETCH(bool, scratch);
        QFETCH(bool, existing);
        const QString path = Path(QStringLiteral("Größe.txt"));
        if (existing)
            Put(path, "alt");
        WriteFileAtomically(path, "neu\r\n", FileModeShared, scratch ? TDurability::Scratch : TDurability::Durable);
        QCOMPARE(Content(path), QByteArray("neu\r\n"));
        QCOMPARE(QDir(FDir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Größe.txt")});
    }

    void failedWriteKeepsTheOldContent()
    {
        const QString path = Path(QStringLiteral("log.txt"));
        Put(path, "alt");
        {
            TAtomicFile file(path);
            file.Write("halb");
            // Destroyed without a commit: as a crash or an error midway.
        }
        QCOMPARE(Content(path), QByteArray("alt"));
        QCOMPARE(QDir(FDir->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void commitNewNeverReplaces_data()
    {
        QTest::addColumn<QString>("taken");
        QTest::newRow("nothing") << QString();
        QTest::newRow("a file") << QStringLiteral("file");
        QTest::newRow("a folder") << QStringLiteral("folder");
    }
    void commitNewNeverReplaces()
    {
        QFETCH(QString, taken);
        const QString path = Path(QStringLiteral("news.rtf"));
        if (taken == QLatin1String("file"))
            Put(path, "alt");
        if (taken == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(path));
        TAtomicFile file(path, FileModePrivate);
        file.Write("neu");
        QCOMPARE(file.CommitNew(), taken.isEmpty());
        if (taken.isEmpty())
            QCOMPARE(Content(path), QByteArray("neu"));
        if (taken == QLatin1String("file"))
            QCOMPARE(Content(path), QByteArray("alt"));
        // No copy is left beside the name.
        QVERIFY(QDir(FDir->path()).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden).isEmpty());
    }

    void privateFileIsTheUsersAlone()
    {
        const QString path = Path(QStringLiteral("job.vuj"));
        WriteFileAtomically(path, "6;...", FileModePrivate);
        QCOMPARE(OwnFileProblemAt(path), QString());
        QCOMPARE(ReadRegularFile(path, 100, TFileTrust::OwnFile), QByteArray("6;..."));
    }

    void readRefusesWhatIsNoRegularFile()
    {
        QVERIFY(QDir().mkdir(Path(QStringLiteral("folder"))));
        const QString folderError = ErrorOf([&] { ReadRegularFile(Path(QStringLiteral("folder")), 100); });
        QVERIFY2(folderError.startsWith(QStringLiteral("Die Datei \"")), qPrintable(folderError));
        QVERIFY(!ErrorOf([&] { ReadRegularFile(Path(QStringLiteral("missing")), 100); }).isEmpty());
        Put(Path(QStringLiteral("big")), QByteArray(101, 'x'));
        QVERIFY(!ReadRegularFileWithin(Path(QStringLiteral("big")), 100));
        bool whole = true;
        QCOMPARE(ReadRegularFileHead(Path(QStringLiteral("big")), 10, TFileTrust::NoLinks, whole), QByteArray(10, 'x'));
        QVERIFY(!whole);
        QCOMPARE(OwnFileProblemAt(Path(QStringLiteral("folder"))), QStringLiteral("Sie ist keine gewöhnliche Datei."));
    }

    void linksAreNeitherReadNorWrittenThrough()
    {
        const QString target = Path(QStringLiteral("fremd.txt"));
        Put(target, "fremd");
        const QString link = Path(QStringLiteral("link.txt"));
        if (!MakeLink(link, target, false))
            QSKIP("This system makes no symbolic links (Wine)");
        QCOMPARE(ReadRegularFile(link, 100, TFileTrust::FollowLinks), QByteArray("fremd"));
        QVERIFY(ErrorOf([&] { ReadRegularFile(link, 100, TFileTrust::NoLinks); })
                    .endsWith(QStringLiteral("Sie ist ein symbolischer Link.")));
        WriteFileAtomically(link, "neu");
        QCOMPARE(Content(target), QByteArray("fremd"));
        QCOMPARE(Content(link), QByteArray("neu"));
    }

    void privateFolderRefusesLinksAndFiles()
    {
        const QString folder = Path(QStringLiteral("vorlandt/"));
        EnsurePrivateFolder(folder);
        EnsurePrivateFolder(folder);  // a second time finds it as made
        Put(Path(QStringLiteral("file")), "x");
        QVERIFY(ErrorOf([&] { EnsurePrivateFolder(Path(QStringLiteral("file"))); })
                    .endsWith(QStringLiteral("Es ist kein Verzeichnis.")));
        if (!MakeLink(Path(QStringLiteral("linked")), folder, true))
            QSKIP("This system makes no symbolic links (Wine)");
        QVERIFY(ErrorOf([&] { EnsurePrivateFolder(Path(QStringLiteral("linked"))); })
                    .endsWith(QStringLiteral("Es ist ein symbolischer Link.")));
    }

    void privateTempFolderIsInTheUsersTemporaryFolder()
    {
        const QString folder = PrivateTempFolder();
        QVERIFY2(folder.endsWith(QStringLiteral("/vorlandt/")), qPrintable(folder));
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(QDir::cleanPath(folder + QStringLiteral("..")), QDir::cleanPath(QDir::tempPath()));
    }

    void lockIsHeldOncePerFile()
    {
        const QString path = Path(QStringLiteral("run.lock"));
        TFileLock first = TFileLock::TryLockFile(path);
        QVERIFY(first.Held());
        // Locks belong to the handle: a second one is refused even within the process.
        QVERIFY(!TFileLock::TryLockFile(path).Held());
        first = TFileLock();
        QVERIFY(TFileLock::TryLockFile(path).Held());
    }

    void folderLockWaitsThenSaysWho()
    {
        const TFileLock held = TFileLock::LockFolder(FDir->path(), std::chrono::milliseconds(100));
        QVERIFY(held.Held());
        const QString error = ErrorOf([&] { TFileLock::LockFolder(FDir->path(), std::chrono::milliseconds(100)); });
        QVERIFY2(error.contains(QStringLiteral("Ein anderes Programm hält die Sperre")), qPrintable(error));
    }

    void namesInFolders()
    {
        QVERIFY(NameMissing(Path(QStringLiteral("nichts"))));
        QVERIFY(NameMissing(Path(QStringLiteral("nichts/darunter"))));
        for (const char* name : {"VL_UpdateTXT_7_1_2_3.tmp", "VL_UpdateTXT_9_1_0_0.tmp", "andere.tmp"})
            Put(Path(QString::fromLatin1(name)), "x");
        QVERIFY(!NameMissing(Path(QStringLiteral("andere.tmp"))));
        RemoveNamesMatching(FDir->path(), QRegularExpression(QStringLiteral("^VL_UpdateTXT_.*\\.tmp$")));
        QCOMPARE(QDir(FDir->path()).entryList(QDir::Files), QStringList{QStringLiteral("andere.tmp")});
        QCOMPARE(RemoveName(Path(QStringLiteral("andere.tmp"))), QString());
        QCOMPARE(RemoveName(Path(QStringLiteral("andere.tmp"))), QString());
        QVERIFY(NameMissing(Path(QStringLiteral("andere.tmp"))));
        QCOMPARE(ProbePath(Path(QStringLiteral("nichts"))).kind, TPathProbe::Kind::Missing);
        QCOMPARE(ProbePath(FDir->path()).kind, TPathProbe::Kind::Found);
        QVERIFY(MayWriteInFolder(FDir->path()));
        QVERIFY(QDir(FDir->path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }

    void machineDataIsProgramData()
    {
        const QString base = MachineDataBase();
        QVERIFY2(QDir::isAbsolutePath(base) && QFileInfo(base).isDir(), qPrintable(base));
        QCOMPARE(QDir::cleanPath(base), QDir::cleanPath(QDir::fromNativeSeparators(qEnvironmentVariable("ProgramData"))));
    }
};

QTEST_GUILESS_MAIN(TestWinFiles)
#include "tst_winFiles.moc"
