// The SQLite store behind both roots: file locations and modes, name folding with kept
// spellings, listing order, subtree deletion, all-or-nothing batches, files replaced behind
// our back, reads answered from memory that still see every commit, a reader thread beside a
// writer thread, and a change cut off by a killed writer: the last committed state read from a
// rolled-back copy, and the repair.
#include "core/platform/store/RolledBackCopy.h"
#include "core/platform/store/StoreBackend.h"
#include "support/InterruptedStoreWrite.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sqlite3.h>

#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace platform;

Q_DECLARE_METATYPE(TRootKey)
Q_DECLARE_METATYPE(platform::TRawValue)

namespace {

const QByteArray kEnvNames[] = {"VORLANDT_USER_STORE", "VORLANDT_MACHINE_STORE", "XDG_CONFIG_HOME", "HOME",
                                "TMPDIR"};

QString modeOf(const QString& path)
{
    struct stat st;
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    return QString::number(st.st_mode & 07777, 8);
}

QStringList namesOf(const std::optional<QList<TNamedValue>>& values)
{
    QStringList names;
    for (const TNamedValue& value : values.value_or(QList<TNamedValue>()))
        names.append(value.name);
    return names;
}

// Runs SQL on a store file from outside the backend, as another tool would.
void execSql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    const QString message = QString::fromUtf8(error);
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(message));
}

}  // namespace

class TestStoreBackend : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;
    QList<QByteArray> FSavedEnv;

    QString path(const QString& name) const { return FDir->filePath(name); }

private slots:
    void init()
    {
        FSavedEnv.clear();
        for (const QByteArray& name : kEnvNames)
            FSavedEnv.append(qgetenv(name.constData()));
        FDir = std::make_unique<QTemporaryDir>();
        QVERIFY(FDir->isValid());
        qputenv("VORLANDT_USER_STORE", QFile::encodeName(path(QStringLiteral("user.db"))));
        qputenv("VORLANDT_MACHINE_STORE", QFile::encodeName(path(QStringLiteral("machine.db"))));
        QVERIFY(QDir().mkdir(path(QStringLiteral("tmp"))));
        QVERIFY(QFile::setPermissions(path(QStringLiteral("tmp")), QFileDevice::ReadOwner |
                                                                       QFileDevice::WriteOwner |
                                                                       QFileDevice::ExeOwner));
        qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));
    }

    void cleanup()
    {
        for (int i = 0; i < FSavedEnv.size(); ++i)
            qputenv(kEnvNames[i].constData(), FSavedEnv.at(i));
        FDir.reset();
    }

    void rawValuesHaveTheRegistryByteLayout_data()
    {
        QTest::addColumn<TRawValue>("value");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("string") << TRawValue::fromString(QStringLiteral("Ab")) << 1
                                << QByteArray("A\0b\0\0\0", 6);
        QTest::newRow("empty string keeps its terminator")
            << TRawValue::fromString(QString()) << 1 << QByteArray("\0\0", 2);
        QTest::newRow("umlaut as UTF-16 LE")
            << TRawValue::fromString(QStringLiteral("Ä")) << 1 << QByteArray("\xC4\0\0\0", 4);
        QTest::newRow("expandable string")
            << TRawValue::fromString(QStringLiteral("%T%"), TValueKind::ExpandString) << 2
            << QByteArray("%\0T\0%\0\0\0", 8);
        QTest::newRow("dword") << TRawValue::fromDWord(0x2A) << 4 << QByteArray("\x2A\0\0\0", 4);
        QTest::newRow("dword all bits")
            << TRawValue::fromDWord(0xFFFFFFFFu) << 4 << QByteArray("\xFF\xFF\xFF\xFF", 4);
        QTest::newRow("qword") << TRawValue::fromQWord(0x0102030405060708ull) << 11
                               << QByteArray("\x08\x07\x06\x05\x04\x03\x02\x01", 8);
        QTest::newRow("binary as given")
            << TRawValue::fromBinary(QByteArray("\0\x01\xFF", 3)) << 3 << QByteArray("\0\x01\xFF", 3);
    }

    void rawValuesHaveTheRegistryByteLayout()
    {
        QFETCH(TRawValue, value);
        QFETCH(int, kind);
        QFETCH(QByteArray, bytes);
        QCOMPARE(static_cast<int>(value.kind), kind);
        QCOMPARE(value.data, bytes);
    }

    void storePathFollowsEnvironment_data()
    {
        QTest::addColumn<TRootKey>("root");
        QTest::addColumn<QByteArray>("overridePath");
        QTest::addColumn<QByteArray>("xdgConfigHome");
        QTest::addColumn<QString>("expected");
        QTest::newRow("user override") << HKEY_CURRENT_USER << QByteArray("/srv/u.db") << QByteArray("/x")
                                       << QStringLiteral("/srv/u.db");
        QTest::newRow("user in XDG_CONFIG_HOME") << HKEY_CURRENT_USER << QByteArray() << QByteArray("/x/cfg")
                                                 << QStringLiteral("/x/cfg/vorlandt/registry-user.db");
        QTest::newRow("user without XDG_CONFIG_HOME")
            << HKEY_CURRENT_USER << QByteArray() << QByteArray()
            << QStringLiteral("/home/h/.config/vorlandt/registry-user.db");
        QTest::newRow("relative XDG_CONFIG_HOME is ignored")
            << HKEY_CURRENT_USER << QByteArray() << QByteArray("cfg")
            << QStringLiteral("/home/h/.config/vorlandt/registry-user.db");
        QTest::newRow("machine override")
            << HKEY_LOCAL_MACHINE << QByteArray("/srv/m.db") << QByteArray() << QStringLiteral("/srv/m.db");
        QTest::newRow("machine default") << HKEY_LOCAL_MACHINE << QByteArray() << QByteArray("/x")
                                         << QStringLiteral("/var/lib/vorlandt/registry-machine.db");
    }

    void storePathFollowsEnvironment()
    {
        QFETCH(TRootKey, root);
        QFETCH(QByteArray, overridePath);
        QFETCH(QByteArray, xdgConfigHome);
        QFETCH(QString, expected);
        qputenv(root == HKEY_CURRENT_USER ? "VORLANDT_USER_STORE" : "VORLANDT_MACHINE_STORE", overridePath);
        qputenv("XDG_CONFIG_HOME", xdgConfigHome);
        qputenv("HOME", "/home/h");
        QCOMPARE(StoreBackend::storePath(root), expected);
    }

    void namesCompareWithoutCase_data()
    {
        QTest::addColumn<QString>("writtenKey");
        QTest::addColumn<QString>("writtenName");
        QTest::addColumn<QString>("readKey");
        QTest::addColumn<QString>("readName");
        QTest::newRow("value name Disabled/disabled")
            << QStringLiteral("Software\\M") << QStringLiteral("Disabled") << QStringLiteral("Software\\M")
            << QStringLiteral("disabled");
        QTest::newRow("key Module/module")
            << QStringLiteral("Software\\KRSoftware\\Module\\STD_EINSTELLUNGEN") << QStringLiteral("Pfad")
            << QStringLiteral("Software\\KRSoftware\\module\\STD_EINSTELLUNGEN") << QStringLiteral("Pfad");
        QTest::newRow("umlaut") << QStringLiteral("Software\\Ä") << QStringLiteral("Größe")
                                << QStringLiteral("software\\ä") << QStringLiteral("GRÖßE");
        QTest::newRow("capital sharp s")
            << QStringLiteral("S") << QStringLiteral("ẞ") << QStringLiteral("s") << QStringLiteral("ß");
        QTest::newRow("final sigma") << QStringLiteral("Σ") << QStringLiteral("x") << QStringLiteral("ς")
                                     << QStringLiteral("X");
        QTest::newRow("trailing separator")
            << QStringLiteral("Software\\KRSoftware\\OnlineUpdate\\") << QStringLiteral("Disable")
            << QStringLiteral("Software\\KRSoftware\\OnlineUpdate") << QStringLiteral("Disable");
        QTest::newRow("empty components") << QStringLiteral("\\A\\\\B") << QStringLiteral("v")
                                          << QStringLiteral("A\\B\\") << QStringLiteral("v");
        QTest::newRow("default value of the root")
            << QString() << QString() << QStringLiteral("\\") << QString();
    }

    void namesCompareWithoutCase()
    {
        QFETCH(QString, writtenKey);
        QFETCH(QString, writtenName);
        QFETCH(QString, readKey);
        QFETCH(QString, readName);
        const TRawValue value = TRawValue::fromDWord(7);
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, writtenKey, writtenName, value));
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, readKey, readName), value);
        QVERIFY(StoreBackend::keyExists(HKEY_CURRENT_USER, readKey));
        // The other root is a file of its own.
        QVERIFY(!StoreBackend::readValue(HKEY_LOCAL_MACHINE, readKey, readName));
    }

    void differentNamesStayApart()
    {
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("A\\B"), QStringLiteral("v"),
                                         TRawValue::fromDWord(1)));
        QVERIFY(!StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("A\\BC"), QStringLiteral("v")));
        QVERIFY(!StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("A"), QStringLiteral("v")));
        QVERIFY(!StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("A\\B"), QStringLiteral("v2")));
        QVERIFY(!StoreBackend::keyExists(HKEY_CURRENT_USER, QStringLiteral("A\\B\\C")));
    }

    void firstSpellingIsKept()
    {
        const TRawValue one = TRawValue::fromDWord(1);
        QVERIFY(StoreBackend::writeValue(
            HKEY_LOCAL_MACHINE, QStringLiteral("Software\\KRSoftware\\Module\\Alpha"),
            QStringLiteral("Disabled"), TRawValue::fromString(QStringLiteral("x"))));
        QVERIFY(StoreBackend::writeValue(HKEY_LOCAL_MACHINE,
                                         QStringLiteral("SOFTWARE\\krsoftware\\module\\Beta"),
                                         QStringLiteral("disabled"), one));
        QVERIFY(StoreBackend::writeValue(HKEY_LOCAL_MACHINE,
                                         QStringLiteral("software\\KRSOFTWARE\\MODULE\\ALPHA"),
                                         QStringLiteral("DISABLED"), one));

        QCOMPARE(StoreBackend::subKeyNames(HKEY_LOCAL_MACHINE, QString()), QStringList{"Software"});
        QCOMPARE(StoreBackend::subKeyNames(HKEY_LOCAL_MACHINE, QStringLiteral("software\\krsoftware")),
                 QStringList{"Module"});
        QCOMPARE(
            StoreBackend::subKeyNames(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\KRSoftware\\Module")),
            (QStringList{"Alpha", "Beta"}));
        const auto alpha =
            StoreBackend::values(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\KRSoftware\\Module\\Alpha"));
        QCOMPARE(namesOf(alpha), QStringList{"Disabled"});
        // The later write of another kind replaced the value, not its spelling.
        QCOMPARE(alpha->first().value, one);
    }

    void subKeysListAlphabeticallyByFoldedName()
    {
        for (const char* name : {"b", "Ä", "A", "c", "a1", "B\\Grandchild"})
            QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER,
                                             QStringLiteral("Root\\") + QString::fromUtf8(name),
                                             QStringLiteral("v"), TRawValue::fromDWord(1)));
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QStringLiteral("Root")),
                 (QStringList{"A", "a1", "b", "c", "Ä"}));
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QStringLiteral("root\\B")),
                 QStringList{"Grandchild"});
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QStringLiteral("Root\\B\\Grandchild")),
                 QStringList());
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QStringLiteral("Root\\Missing")), std::nullopt);
    }

    void valuesListWithKindsAndSpellings()
    {
        const QString key = QStringLiteral("K");
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, key, QStringLiteral("Zahl"),
                                         TRawValue::fromQWord(5)));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, key, QStringLiteral("leer"),
                                         TRawValue::fromBinary({})));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, key, QString(),
                                         TRawValue::fromString(QStringLiteral("d"))));
        const auto values = StoreBackend::values(HKEY_CURRENT_USER, QStringLiteral("k\\"));
        QCOMPARE(namesOf(values), (QStringList{QString(), "leer", "Zahl"}));
        QCOMPARE(values->at(1).value, TRawValue::fromBinary({}));
        QCOMPARE(values->at(2).value, TRawValue::fromQWord(5));
        QCOMPARE(StoreBackend::values(HKEY_CURRENT_USER, QStringLiteral("Missing")), std::nullopt);
    }

    void readsOfAMissingStoreCreateNothing()
    {
        const QString folder = path(QStringLiteral("not-there"));
        qputenv("VORLANDT_USER_STORE", QFile::encodeName(folder + QStringLiteral("/user.db")));
        TReadStatus status = TReadStatus::Failed;
        QCOMPARE(
            StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("K"), QStringLiteral("v"), &status),
            std::nullopt);
        QCOMPARE(status, TReadStatus::Missing);
        QVERIFY(StoreBackend::keyExists(HKEY_CURRENT_USER, QString()));
        QVERIFY(!StoreBackend::keyExists(HKEY_CURRENT_USER, QStringLiteral("K")));
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QString()), QStringList());
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QStringLiteral("K")), std::nullopt);
        QCOMPARE(StoreBackend::values(HKEY_CURRENT_USER, QString()), QList<TNamedValue>());
        QCOMPARE(StoreBackend::deleteValue(HKEY_CURRENT_USER, QString(), QStringLiteral("v")),
                 TDeleteResult::NoSuchValue);
        QCOMPARE(StoreBackend::deleteValue(HKEY_CURRENT_USER, QStringLiteral("K"), QStringLiteral("v")),
                 TDeleteResult::KeyNotWritable);
        QVERIFY(StoreBackend::deleteKey(HKEY_CURRENT_USER, QStringLiteral("K")));
        QVERIFY(!QFileInfo::exists(folder));
    }

    void deleteValueTellsKeyFromValue()
    {
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("K"), QStringLiteral("v"),
                                         TRawValue::fromDWord(1)));
        QCOMPARE(StoreBackend::deleteValue(HKEY_CURRENT_USER, QStringLiteral("k"), QStringLiteral("V")),
                 TDeleteResult::Deleted);
        TReadStatus status = TReadStatus::Failed;
        QVERIFY(
            !StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("K"), QStringLiteral("v"), &status));
        QCOMPARE(status, TReadStatus::Missing);
        QCOMPARE(StoreBackend::deleteValue(HKEY_CURRENT_USER, QStringLiteral("K"), QStringLiteral("v")),
                 TDeleteResult::NoSuchValue);
        QCOMPARE(StoreBackend::deleteValue(HKEY_CURRENT_USER, QStringLiteral("Other"), QStringLiteral("v")),
                 TDeleteResult::KeyNotWritable);
        // The key itself stays, empty.
        QCOMPARE(StoreBackend::values(HKEY_CURRENT_USER, QStringLiteral("K")), QList<TNamedValue>());
    }

    void deleteKeyRemovesExactlyTheSubtree()
    {
        const TRawValue one = TRawValue::fromDWord(1);
        for (const char* key : {"A\\B", "A\\B\\C", "A\\B\\C\\D", "A\\BC", "A\\B]", "A\\B2\\X", "AB"})
            QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QString::fromLatin1(key), QStringLiteral("v"),
                                             one));
        QVERIFY(StoreBackend::deleteKey(HKEY_CURRENT_USER, QStringLiteral("a\\b\\")));
        for (const char* key : {"A\\B", "A\\B\\C", "A\\B\\C\\D"}) {
            QVERIFY2(!StoreBackend::keyExists(HKEY_CURRENT_USER, QString::fromLatin1(key)), key);
            QVERIFY2(
                !StoreBackend::readValue(HKEY_CURRENT_USER, QString::fromLatin1(key), QStringLiteral("v")),
                key);
        }
        for (const char* key : {"A\\BC", "A\\B]", "A\\B2\\X", "AB"})
            QVERIFY2(
                StoreBackend::readValue(HKEY_CURRENT_USER, QString::fromLatin1(key), QStringLiteral("v")),
                key);
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QStringLiteral("A")),
                 (QStringList{"B2", "B]", "BC"}));
        QVERIFY2(StoreBackend::deleteKey(HKEY_CURRENT_USER, QStringLiteral("A\\Missing")),
                 "a missing key is gone");
        QVERIFY2(!StoreBackend::deleteKey(HKEY_CURRENT_USER, QStringLiteral("\\")), "the root stays");
        QVERIFY(StoreBackend::keyExists(HKEY_CURRENT_USER, QStringLiteral("AB")));
    }

    void badNamesAreRefusedNotAliased_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::newRow("NUL in value name") << QStringLiteral("K") << QString::fromUtf16(u"a\0b", 3);
        QTest::newRow("NUL in key name") << QString::fromUtf16(u"K\0x", 3) << QStringLiteral("v");
        QTest::newRow("lone surrogate") << QStringLiteral("K") << QString(QChar(0xD800));
    }

    void badNamesAreRefusedNotAliased()
    {
        QFETCH(QString, key);
        QFETCH(QString, name);
        QVERIFY(!StoreBackend::writeValue(HKEY_CURRENT_USER, key, name, TRawValue::fromDWord(1)));
        QVERIFY(!StoreBackend::readValue(HKEY_CURRENT_USER, key, name));
        QVERIFY(!StoreBackend::keyExists(HKEY_CURRENT_USER, QStringLiteral("K")));
    }

    void batchIsAllOrNothing()
    {
        const QString file = path(QStringLiteral("user.db"));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("Old"), QStringLiteral("v"),
                                         TRawValue::fromDWord(1)));
        // Another tool's rule that refuses one name makes the last operation fail inside the
        // transaction, after the others already ran.
        execSql(file,
                "CREATE TRIGGER refuse BEFORE INSERT ON vals WHEN NEW.name = 'refused' "
                "BEGIN SELECT RAISE(ABORT, 'refused'); END");
        using T = TStoreOp::Type;
        const QList<TStoreOp> ops = {
            {T::SetValue, QStringLiteral("New"), QStringLiteral("a"), TRawValue::fromDWord(1)},
            {T::CreateKey, QStringLiteral("New\\Sub"), {}, {}},
            {T::DeleteKey, QStringLiteral("Old"), {}, {}},
            {T::SetValue, QStringLiteral("New"), QStringLiteral("refused"), TRawValue::fromDWord(2)},
        };
        QVERIFY(!StoreBackend::apply(HKEY_CURRENT_USER, ops));
        QVERIFY(!StoreBackend::keyExists(HKEY_CURRENT_USER, QStringLiteral("New")));
        QVERIFY(StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("Old"), QStringLiteral("v")));

        QList<TStoreOp> accepted = ops.mid(0, 3);
        accepted.append({T::DeleteValue, QStringLiteral("New"), QStringLiteral("never written"), {}});
        QVERIFY(StoreBackend::apply(HKEY_CURRENT_USER, accepted));
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QString()), QStringList{"New"});
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QStringLiteral("New")), QStringList{"Sub"});
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("New"), QStringLiteral("A")),
                 TRawValue::fromDWord(1));
    }

    void createdFilesGetTheirModesWhateverTheUmask_data()
    {
        QTest::addColumn<TRootKey>("root");
        QTest::addColumn<int>("umaskValue");
        QTest::addColumn<QString>("fileMode");
        QTest::addColumn<QString>("folderMode");
        for (const int mask : {0, 022, 077}) {
            const QByteArray tag = "umask " + QByteArray::number(mask, 8);
            QTest::newRow("per-user, " + tag) << HKEY_CURRENT_USER << mask << "600"
                                              << "700";
            QTest::newRow("machine-wide, " + tag) << HKEY_LOCAL_MACHINE << mask << "644"
                                                  << "755";
        }
    }

    void createdFilesGetTheirModesWhateverTheUmask()
    {
        QFETCH(TRootKey, root);
        QFETCH(int, umaskValue);
        QFETCH(QString, fileMode);
        QFETCH(QString, folderMode);
        QString file;
        QString folders;
        if (root == HKEY_CURRENT_USER) {
            // The default location, so that the folder the store creates is the one checked.
            qputenv("VORLANDT_USER_STORE", QByteArray());
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(QStringLiteral("config"))));
            folders = path(QStringLiteral("config"));
            file = folders + QStringLiteral("/vorlandt/registry-user.db");
        } else {
            folders = path(QStringLiteral("lib"));
            file = folders + QStringLiteral("/vorlandt/registry-machine.db");
            qputenv("VORLANDT_MACHINE_STORE", QFile::encodeName(file));
        }
        const mode_t saved = umask(static_cast<mode_t>(umaskValue));
        const bool written = StoreBackend::writeValue(root, QStringLiteral("K"), QStringLiteral("v"),
                                                      TRawValue::fromString(QStringLiteral("geheim")));
        umask(saved);
        QVERIFY(written);
        QCOMPARE(StoreBackend::storePath(root), file);
        QCOMPARE(modeOf(file), fileMode);
        QCOMPARE(modeOf(folders), folderMode);
        QCOMPARE(modeOf(folders + QStringLiteral("/vorlandt")), folderMode);
    }

    void fileReplacedOrDeletedByAnotherProcessIsSeen()
    {
        const QString file = path(QStringLiteral("user.db"));
        const QString other = path(QStringLiteral("other.db"));
        const QString key = QStringLiteral("K");
        const QString name = QStringLiteral("v");
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, key, name, TRawValue::fromDWord(1)));
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, key, name), TRawValue::fromDWord(1));

        qputenv("VORLANDT_USER_STORE", QFile::encodeName(other));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, key, name, TRawValue::fromDWord(2)));
        qputenv("VORLANDT_USER_STORE", QFile::encodeName(file));
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, key, name), TRawValue::fromDWord(1));

        QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(file).constData()) == 0);
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, key, name), TRawValue::fromDWord(2));

        QVERIFY(QFile::remove(file));
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, key, name), std::nullopt);
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, key, name, TRawValue::fromDWord(3)));
        QVERIFY(QFileInfo::exists(file));
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, key, name), TRawValue::fromDWord(3));
    }

    void storeSwitchedToWalReturnsToRollbackJournal()
    {
        // Byte 18 of the header is 2 in WAL mode, 1 with a rollback journal; a user who may
        // not write the file can only read the latter.
        const QString file = path(QStringLiteral("user.db"));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("K"), QStringLiteral("v"),
                                         TRawValue::fromDWord(1)));
        execSql(file, "PRAGMA journal_mode=WAL");
        QFile header(file);
        QVERIFY(header.open(QIODevice::ReadOnly));
        QCOMPARE(header.read(20).at(18), '\x02');
        header.close();

        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("K"), QStringLiteral("v"),
                                         TRawValue::fromDWord(2)));
        QVERIFY(header.open(QIODevice::ReadOnly));
        QCOMPARE(header.read(20).at(18), '\x01');
        QVERIFY(!QFile::exists(file + QStringLiteral("-wal")));
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("K"), QStringLiteral("v")),
                 TRawValue::fromDWord(2));
    }

    // Reads are answered from memory while the file is unchanged; every commit, whoever makes
    // it, must show at the very next read, and so must a value that disappears or appears.
    void everyCommitShowsAtTheNextRead_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::newRow("this thread") << QStringLiteral("thread");
        QTest::newRow("another thread") << QStringLiteral("other thread");
        QTest::newRow("another program") << QStringLiteral("sqlite");
    }

    void everyCommitShowsAtTheNextRead()
    {
        QFETCH(QString, writer);
        const QString file = path(QStringLiteral("user.db"));
        const QString key = QStringLiteral("Software\\KRSoftware\\OnlineUpdate");
        const QString name = QStringLiteral("IntervalInHours");
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, key, QStringLiteral("other"), TRawValue::fromDWord(0)));
        const auto write = [&](int value) {
            if (writer == QLatin1String("thread")) {
                QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, key, name, TRawValue::fromDWord(value)));
            } else if (writer == QLatin1String("other thread")) {
                bool written = false;
                std::thread([&] {
                    written = StoreBackend::writeValue(HKEY_CURRENT_USER, key, name, TRawValue::fromDWord(value));
                }).join();
                QVERIFY(written);
            } else {
                // Same spelling as the backend stores: folded key and name, kind 4, 4 bytes LE.
                const QByteArray sql = "INSERT INTO vals VALUES('software\\krsoftware\\onlineupdate',"
                                       "'intervalinhours','IntervalInHours',4,x'" +
                                       TRawValue::fromDWord(value).data.toHex() +
                                       "') ON CONFLICT DO UPDATE SET data = excluded.data";
                execSql(file, sql.constData());
            }
        };
        const auto remove = [&] {
            if (writer == QLatin1String("sqlite"))
                execSql(file, "DELETE FROM vals WHERE name_fold = 'intervalinhours'");
            else
                QCOMPARE(StoreBackend::deleteValue(HKEY_CURRENT_USER, key, name), TDeleteResult::Deleted);
        };
        for (int round = 1; round <= 40; ++round) {
            TReadStatus status = TReadStatus::Failed;
            QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, key, name, &status), std::nullopt);
            QCOMPARE(status, TReadStatus::Missing);
            write(round);
            // Twice: the second read comes from memory.
            for (int again = 0; again < 2; ++again) {
                QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, key, name, &status), TRawValue::fromDWord(round));
                QCOMPARE(status, TReadStatus::Found);
            }
            // Another spelling of the same value.
            QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, key.toUpper(), name.toLower()),
                     TRawValue::fromDWord(round));
            write(round + 1000);
            QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, key, name), TRawValue::fromDWord(round + 1000));
            remove();
        }
    }

    // A writer killed mid-change leaves pages of the change in the file and the journal beside
    // it. The copy holds exactly what was committed before, the original and its journal stay
    // as they were (only a writer may roll back), and no copy is left in the temporary folder.
    void rolledBackCopyHoldsTheLastCommittedState()
    {
        const QString file = path(QStringLiteral("machine.db"));
        QList<TStoreOp> ops;
        for (int i = 0; i < 40; ++i) {
            ops.append({TStoreOp::Type::SetValue, QStringLiteral("Software\\Modul%1").arg(i),
                        QStringLiteral("ID"), TRawValue::fromDWord(quint32(i))});
        }
        QVERIFY(StoreBackend::apply(HKEY_LOCAL_MACHINE, ops));
        QCOMPARE(InterruptWriteToStore(file), QString());
        QFile original(file);
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray tornBytes = original.readAll();
        original.close();
        QFile journal(file + QStringLiteral("-journal"));
        QVERIFY(journal.open(QIODevice::ReadOnly));
        const QByteArray journalBytes = journal.readAll();
        journal.close();

        const sqlite::TRolledBackCopy copy = sqlite::OpenRolledBackCopy(QFile::encodeName(file));
        QCOMPARE(copy.outcome, sqlite::TRolledBackCopy::Outcome::Opened);
        sqlite3_stmt* stmt = nullptr;
        QCOMPARE(sqlite3_prepare_v2(copy.db, "SELECT key_fold, data FROM vals", -1, &stmt,
                                    nullptr),
                 SQLITE_OK);
        QStringList rows;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const auto* key = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            const QByteArray data(static_cast<const char*>(sqlite3_column_blob(stmt, 1)),
                                  sqlite3_column_bytes(stmt, 1));
            rows.append(QString::fromUtf8(key) + u'=' +
                        (data.size() == 4 ? QString::number(qFromLittleEndian<quint32>(data.constData()))
                                          : QStringLiteral("?")));
        }
        sqlite3_finalize(stmt);
        sqlite3_close_v2(copy.db);
        rows.sort();
        QStringList expected;
        for (int i = 0; i < 40; ++i)
            expected.append(QStringLiteral("software\\modul%1=%1").arg(i));
        expected.sort();
        QCOMPARE(rows, expected);

        QVERIFY(original.open(QIODevice::ReadOnly));
        QCOMPARE(original.readAll(), tornBytes);
        QVERIFY(journal.open(QIODevice::ReadOnly));
        QCOMPARE(journal.readAll(), journalBytes);
        QCOMPARE(QDir(path(QStringLiteral("tmp")))
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    // The repair (what `vorlandt-reg repair` runs) rolls the cut-off change back where the file
    // lies, checks the whole file, and afterwards every read sees the last committed state.
    void repairRollsBackWhatWasCutOff()
    {
        const QString file = path(QStringLiteral("machine.db"));
        const QString key = QStringLiteral("Software\\KRSoftware\\Module\\OnlineUpdateModule\\Kasse");
        QVERIFY(StoreBackend::writeValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("Update_ID"),
                                         TRawValue::fromDWord(12)));
        QCOMPARE(InterruptWriteToStore(file), QString());

        const TRepairReport report = StoreBackend::repair(HKEY_LOCAL_MACHINE);
        QCOMPARE(report.outcome, TRepairReport::Outcome::Sound);
        QVERIFY(report.rolledBack);
        QVERIFY(!QFile::exists(file + QStringLiteral("-journal")));
        QCOMPARE(StoreBackend::readValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("Update_ID")),
                 TRawValue::fromDWord(12));
        QCOMPARE(StoreBackend::subKeyNames(HKEY_LOCAL_MACHINE, QString()),
                 QStringList{QStringLiteral("Software")});
        QCOMPARE(StoreBackend::condition(HKEY_LOCAL_MACHINE), TStoreCondition::Normal);
        // Nothing left to copy once the change is rolled back.
        QCOMPARE(sqlite::OpenRolledBackCopy(QFile::encodeName(file)).outcome,
                 sqlite::TRolledBackCopy::Outcome::JournalGone);

        const TRepairReport again = StoreBackend::repair(HKEY_LOCAL_MACHINE);
        QCOMPARE(again.outcome, TRepairReport::Outcome::Sound);
        QVERIFY(!again.rolledBack);
    }

    // A writer thread counts up; the reader may never see the count go back, nor a count older
    // than the last write that had returned before its read began.
    void readerNeverLagsBehindNorGoesBack()
    {
        const QString key = QStringLiteral("K");
        const QString name = QStringLiteral("count");
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, key, name, TRawValue::fromDWord(0)));
        constexpr quint32 kWrites = 150;
        std::atomic<quint32> written{0};
        std::atomic<bool> failedWrite{false};
        std::thread writerThread([&] {
            for (quint32 value = 1; value <= kWrites; ++value) {
                if (!StoreBackend::writeValue(HKEY_CURRENT_USER, key, name, TRawValue::fromDWord(value)))
                    failedWrite = true;
                written = value;
            }
        });
        quint32 lastSeen = 0;
        int stale = 0;
        int backwards = 0;
        int unreadable = 0;
        while (lastSeen < kWrites) {
            const quint32 atLeast = written.load();
            const std::optional<TRawValue> raw = StoreBackend::readValue(HKEY_CURRENT_USER, key, name);
            if (!raw || raw->data.size() != 4) {
                ++unreadable;
                if (unreadable > 100)
                    break;
                continue;
            }
            const quint32 seen = qFromLittleEndian<quint32>(raw->data.constData());
            if (seen < atLeast)
                ++stale;
            if (seen < lastSeen)
                ++backwards;
            lastSeen = seen;
        }
        writerThread.join();
        QVERIFY(!failedWrite.load());
        QCOMPARE(unreadable, 0);
        QCOMPARE(stale, 0);
        QCOMPARE(backwards, 0);
    }

    // The writer keeps the file busy for longer than a reader could wait with a plain busy
    // timeout, unless the reader gets enough reads in between; a reader that gives up turns
    // the value into "missing", which is the fault this guards against.
    void readerThreadSeesOldOrNewBesideAWriterThread()
    {
        const QString key = QStringLiteral("Software\\KRSoftware\\Standardeinstellungen\\Proxy");
        const QString name = QStringLiteral("Server");
        const TRawValue oldValue = TRawValue::fromString(QStringLiteral("alt.example"));
        const TRawValue newValue = TRawValue::fromString(QStringLiteral("neu.example"));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, key, name, oldValue));

        constexpr int kReadsBesideWriter = 30;
        std::atomic<bool> writing{true};
        std::atomic<int> reads{0};
        std::atomic<int> wrong{0};
        std::atomic<int> failedReads{0};
        std::atomic<int> writes{0};
        std::atomic<int> readsBesideWriter{0};
        std::thread reader([&] {
            // At least a few reads even when the writer finishes first.
            while (writing.load() || reads.load() < 50) {
                const bool besideWriter = writes.load() > 0 && writing.load();
                TReadStatus status = TReadStatus::Missing;
                const std::optional<TRawValue> seen =
                    StoreBackend::readValue(HKEY_CURRENT_USER, key, name, &status);
                if (seen != oldValue && seen != newValue)
                    ++wrong;
                if (status != TReadStatus::Found)
                    ++failedReads;
                ++reads;
                if (besideWriter)
                    ++readsBesideWriter;
            }
        });
        int failedWrites = 0;
        // Ten seconds is well past any busy timeout; the loop normally ends far sooner, once
        // the reader got its reads in between the writes.
        const QDeadlineTimer writerTime(10000);
        while (writes.load() < 2 ||
               (readsBesideWriter.load() < kReadsBesideWriter && !writerTime.hasExpired())) {
            if (!StoreBackend::writeValue(HKEY_CURRENT_USER, key, name,
                                          writes.load() % 2 ? oldValue : newValue))
                ++failedWrites;
            ++writes;
        }
        writing = false;
        reader.join();
        if (writes.load() % 2)
            QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, key, name, oldValue));
        QCOMPARE(failedWrites, 0);
        QCOMPARE(wrong.load(), 0);
        QCOMPARE(failedReads.load(), 0);
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, key, name), oldValue);
    }
};

QTEST_GUILESS_MAIN(TestStoreBackend)
#include "tst_storeBackend.moc"
