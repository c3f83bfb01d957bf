// The private temporary folder: where it is for each environment, and that nothing but a real
// folder of this user's alone passes, so that no fixed name there can be planted by another.
#include "core/platform/files/PrivateFolder.h"
#include "core/platform/VorlandtError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t ModeOf(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode : 0;
}

}  // namespace

class TestPrivateFolder : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FDir;
    QByteArray FTmpdir;
    QByteArray FRuntime;

    QString Path(const QString& name) const { return FDir.filePath(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        FTmpdir = qgetenv("TMPDIR");
        FRuntime = qgetenv("XDG_RUNTIME_DIR");
    }

    void cleanupTestCase()
    {
        qputenv("TMPDIR", FTmpdir);
        qputenv("XDG_RUNTIME_DIR", FRuntime);
    }

    void folderIsCreatedOrAcceptedOrRefused_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("reason");  // empty: accepted
        QTest::newRow("missing: created 0700") << "missing" << QString();
        QTest::newRow("own folder 0700") << "own" << QString();
        QTest::newRow("owned by another user") << "foreign"
                                               << "Es gehört einem anderen Benutzer (UID 64001).";
        QTest::newRow("a link to an own folder") << "link"
                                                 << "Es ist ein symbolischer Link.";
        QTest::newRow("group-writable") << "group"
                                        << "Andere Benutzer dürfen darin schreiben (Rechte 0770).";
        QTest::newRow("world-writable with sticky bit")
            << "sticky"
            << "Andere Benutzer dürfen darin schreiben (Rechte 1777).";
        QTest::newRow("a file in its place") << "file"
                                             << "Es ist kein Verzeichnis.";
    }

    void folderIsCreatedOrAcceptedOrRefused()
    {
        QFETCH(QString, what);
        QFETCH(QString, reason);
        const QString folder = Path(what) + u'/';
        const QByteArray native = QFile::encodeName(Path(what));
        if (what == u"foreign" && ::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        if (what == u"own" || what == u"foreign" || what == u"group" || what == u"sticky")
            QCOMPARE(::mkdir(native.constData(), 0700), 0);
        if (what == u"foreign")
            QCOMPARE(::chown(native.constData(), 64001, 64001), 0);
        if (what == u"group")
            QCOMPARE(::chmod(native.constData(), 0770), 0);
        if (what == u"sticky")
            QCOMPARE(::chmod(native.constData(), 01777), 0);
        if (what == u"link") {
            QVERIFY(QDir().mkdir(Path(QStringLiteral("ziel"))));
            QVERIFY(QFile::link(Path(QStringLiteral("ziel")), Path(what)));
        }
        if (what == u"file") {
            QFile file(Path(what));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        QString message;
        try {
            platform::EnsurePrivateFolder(folder);
        } catch (const EVorlandtError& e) {
            message = e.message();
        }
        if (reason.isEmpty()) {
            QCOMPARE(message, QString());
            QCOMPARE(ModeOf(Path(what)) & 07777, mode_t(0700));
        } else {
            QCOMPARE(message,
                     QStringLiteral("Das temporäre Verzeichnis \"%1\" kann nicht verwendet werden: %2")
                         .arg(folder, reason));
        }
    }

    void folderFollowsTheEnvironment_data()
    {
        QTest::addColumn<QString>("tmpdir");   // null: unset; "@" stands for the test folder
        QTest::addColumn<QString>("runtime");  // null: unset
        QTest::addColumn<QString>("expected");
        const QString user = QStringLiteral("vorlandt-%1/").arg(::geteuid());
        QTest::newRow("TMPDIR, a private folder") << "@/privat"
                                                  << "@/run"
                                                  << "@/privat/";
        QTest::newRow("TMPDIR, a shared sticky folder") << "@/geteilt"
                                                        << "@/run"
                                                        << "@/geteilt/" + user;
        QTest::newRow("XDG_RUNTIME_DIR") << QString() << "@/run"
                                         << "@/run/vorlandt/";
        QTest::newRow("XDG_RUNTIME_DIR relative") << QString() << "run"
                                                  << "/tmp/" + user;
        QTest::newRow("neither") << QString() << QString() << "/tmp/" + user;
    }

    void folderFollowsTheEnvironment()
    {
        QFETCH(QString, tmpdir);
        QFETCH(QString, runtime);
        QFETCH(QString, expected);
        const auto place = [this](QString text) { return text.replace(u'@', FDir.path()); };
        QDir().mkpath(Path(QStringLiteral("privat")));
        ::chmod(QFile::encodeName(Path(QStringLiteral("privat"))).constData(), 0700);
        QDir().mkpath(Path(QStringLiteral("geteilt")));
        ::chmod(QFile::encodeName(Path(QStringLiteral("geteilt"))).constData(), 01777);
        QDir().mkpath(Path(QStringLiteral("run")));
        ::chmod(QFile::encodeName(Path(QStringLiteral("run"))).constData(), 0700);
        if (tmpdir.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", QFile::encodeName(place(tmpdir)));
        if (runtime.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(place(runtime)));

        QCOMPARE(platform::PrivateTempFolder(), place(expected));
        QCOMPARE(ModeOf(place(expected)) & 07777, mode_t(0700));
    }

    // A mistyped TMPDIR is an error, not a new folder somewhere unexpected.
    void missingTmpdirIsNotCreated()
    {
        qputenv("TMPDIR", QFile::encodeName(Path(QStringLiteral("vertippt"))));
        QVERIFY_THROWS_EXCEPTION(EVorlandtError, platform::PrivateTempFolder());
        QVERIFY(!QFileInfo::exists(Path(QStringLiteral("vertippt"))));
    }
};

QTEST_GUILESS_MAIN(TestPrivateFolder)
#include "tst_privateFolder.moc"
