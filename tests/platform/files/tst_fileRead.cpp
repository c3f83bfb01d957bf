// Reading a whole file with a size limit: the bytes of a file up to the limit, and the read error
// naming the path and the reason for anything that is no readable regular file within it.
#include "core/platform/files/FileRead.h"
#include "core/platform/VorlandtError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <sys/stat.h>

namespace {

constexpr qint64 Limit = 16;

// Puts the named kind of thing under `path`: "file:<content>", "folder", "pipe" or "missing".
bool Place(const QString& path, const QString& what)
{
    if (what.startsWith(u"file:")) {
        QFile file(path);
        const QByteArray bytes = what.mid(5).toLatin1();
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    if (what == u"folder")
        return QDir().mkdir(path);
    if (what == u"pipe")
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    return what == u"missing";
}

}  // namespace

class TestFileRead : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsFilesUpToTheLimit_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("short file") << QByteArray("a=1\r\n");
        QTest::newRow("exactly the limit") << QByteArray(Limit, 'x');
        QTest::newRow("bytes beyond ASCII") << QByteArray("\xFF\xFE\x00\x41", 4);
    }

    void readsFilesUpToTheLimit()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("datei.txt"));
        QVERIFY(Place(path, QStringLiteral("file:") + QString::fromLatin1(content)));
        QCOMPARE(platform::ReadRegularFile(path, Limit), content);
        QCOMPARE(platform::ReadRegularFileWithin(path, Limit), std::optional<QByteArray>(content));
    }

    void refusesWhatIsNoReadableFile_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("reason");  // errno whose text ends the message
        QTest::newRow("missing") << "missing" << ENOENT;
        QTest::newRow("folder") << "folder" << EISDIR;
        // Reading a pipe with no writer would block for good.
        QTest::newRow("named pipe") << "pipe" << EINVAL;
        QTest::newRow("one byte over the limit") << "file:12345678901234567" << EFBIG;
    }

    void refusesWhatIsNoReadableFile()
    {
        QFETCH(QString, what);
        QFETCH(int, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("datei.txt"));
        QVERIFY(Place(path, what));
        try {
            platform::ReadRegularFile(path, Limit);
            QFAIL("no error raised");
        } catch (const EVorlandtError& e) {
            QCOMPARE(e.kind(), EVorlandtError::Kind::InOut);
            QCOMPARE(e.message(), QStringLiteral("Die Datei \"%1\" kann nicht gelesen werden: %2")
                                      .arg(path, qt_error_string(reason)));
        }
    }

    // The descriptor check words an oversize file itself, so it must not get the read error.
    void oversizeFileIsNoValueForTheLenientRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("gross.xml"));
        QVERIFY(Place(path, QStringLiteral("file:12345678901234567")));
        QCOMPARE(platform::ReadRegularFileWithin(path, Limit), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestFileRead)
#include "tst_fileRead.moc"
