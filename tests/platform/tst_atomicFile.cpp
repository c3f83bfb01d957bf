// Whole-file replacement: new content lands complete, and a failed write names the path and the
// reason and leaves what was there before.
#include "core/platform/AtomicFile.h"
#include "core/platform/VorlandtError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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

class TestAtomicFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;

private Q_SLOTS:
    void init() { QVERIFY(FDir.isValid()); }

    void createsAndReplacesWithoutLeftovers()
    {
        const QString path = FDir.filePath(QStringLiteral("VL_Userlog.txt"));
        WriteFileAtomically(path, QByteArray("alt\r\n"));
        QCOMPARE(ReadAll(path), QByteArray("alt\r\n"));

        const QByteArray binary("neu\0\xFF\r\n", 7);
        WriteFileAtomically(path, binary);
        QCOMPARE(ReadAll(path), binary);

        WriteFileAtomically(path, QByteArray());
        QCOMPARE(ReadAll(path), QByteArray());
        // No temporary file may stay behind beside the target.
        QCOMPARE(QDir(FDir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"VL_Userlog.txt"});
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

    void cleanup()
    {
        QDir(FDir.path()).removeRecursively();
        QDir().mkpath(FDir.path());
    }
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomicFile.moc"
