// The typed store operations: how each stored kind reads as number, switch and text, the
// kinds the writes store, the three messages, the password scrambling, damaged and foreign
// files, two writing processes, and a reader without write permission.
#include "core/services/Registry.h"

#include "core/platform/VorlandtError.h"
#include "support/PrivateStores.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>

#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

using platform::StoreBackend;
using platform::TRawValue;
using platform::TValueKind;

Q_DECLARE_METATYPE(TRootKey)
Q_DECLARE_METATYPE(platform::TRawValue)

namespace {

const QString kKey = QStringLiteral("Software\\KRSoftware\\OnlineUpdate\\");
const QString kName = QStringLiteral("Wert");

TRawValue raw(TValueKind kind, const QByteArray& bytes)
{
    return {kind, bytes};
}

QString utf16(const char16_t* text, qsizetype size)
{
    return QString::fromUtf16(text, size);
}

// "Ä😀" with key 31: each UTF-16 unit on its own, so the surrogate pair stays a pair.
QString scrambledSample()
{
    const char16_t units[] = {0x00DB, 0xD822, 0xDE1F};
    return QString::fromUtf16(units, 3);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

void execSql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    QCOMPARE(rc, SQLITE_OK);
}

// The message of the store error an operation raises, or "<none>".
QString storeError(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const EVorlandtError& e) {
        return e.kind() == EVorlandtError::Kind::Store ? e.message() : QStringLiteral("<other kind>");
    }
    return QStringLiteral("<none>");
}

}  // namespace

class TestRegistry : public QObject {
    Q_OBJECT

    std::unique_ptr<TPrivateStores> FStores;

    QString path(const QString& name) const { return FStores->FilePath(name); }
    QString userStore() const { return path(QStringLiteral("user.db")); }

    void useMachineStore(const QString& file) { qputenv("VORLANDT_MACHINE_STORE", QFile::encodeName(file)); }

private slots:
    void init()
    {
        FStores = std::make_unique<TPrivateStores>();
        QVERIFY(FStores->IsValid());
    }

    void cleanup() { FStores.reset(); }

    void readIntegerConvertsEachKind_data()
    {
        QTest::addColumn<TRawValue>("stored");
        QTest::addColumn<int>("defaultValue");
        QTest::addColumn<int>("expected");
        QTest::newRow("dword") << TRawValue::fromDWord(72) << -1 << 72;
        QTest::newRow("dword all bits is -1") << TRawValue::fromDWord(0xFFFFFFFFu) << 5 << -1;
        QTest::newRow("qword keeps the low 32 bits") << TRawValue::fromQWord(0x100000005ull) << -1 << 5;
        QTest::newRow("qword low half negative")
            << TRawValue::fromQWord(0xFFFFFFFF80000000ull) << -1 << std::numeric_limits<qint32>::min();
        QTest::newRow("binary of 2 bytes")
            << TRawValue::fromBinary(QByteArray("\x01\x02", 2)) << -1 << 0x0201;
        QTest::newRow("binary of 8 bytes")
            << TRawValue::fromBinary(QByteArray("\x2A\0\0\0\x01\0\0\0", 8)) << -1 << 42;
        QTest::newRow("binary of 9 bytes") << TRawValue::fromBinary(QByteArray(9, '\x01')) << -1 << -1;
        QTest::newRow("empty binary") << TRawValue::fromBinary(QByteArray()) << -1 << 0;
        QTest::newRow("text 72") << TRawValue::fromString(QStringLiteral("72")) << -1 << 72;
        QTest::newRow("text $1F") << TRawValue::fromString(QStringLiteral("$1F")) << -1 << 31;
        QTest::newRow("text 0x1f") << TRawValue::fromString(QStringLiteral("0x1f")) << -1 << 31;
        QTest::newRow("text -12") << TRawValue::fromString(QStringLiteral("-12")) << 0 << -12;
        QTest::newRow("text abc") << TRawValue::fromString(QStringLiteral("abc")) << 48 << 48;
        QTest::newRow("text with leading blank") << TRawValue::fromString(QStringLiteral(" 12")) << -1 << 12;
        QTest::newRow("text with trailing blank") << TRawValue::fromString(QStringLiteral("12 ")) << -1 << -1;
        QTest::newRow("empty text") << TRawValue::fromString(QString()) << 48 << 48;
        QTest::newRow("text too big for 32 bits")
            << TRawValue::fromString(QStringLiteral("2147483648")) << 7 << 7;
        QTest::newRow("expandable text")
            << TRawValue::fromString(QStringLiteral("9"), TValueKind::ExpandString) << -1 << 9;
        QTest::newRow("text ends at its first NUL")
            << raw(TValueKind::String, QByteArray("7\0\0\0x\0\0\0", 8)) << -1 << 7;
        QTest::newRow("kind this store does not convert")
            << raw(static_cast<TValueKind>(7), QByteArray(4, '\0')) << 3 << 3;
    }

    void readIntegerConvertsEachKind()
    {
        QFETCH(TRawValue, stored);
        QFETCH(int, defaultValue);
        QFETCH(int, expected);
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, kKey, kName, stored));
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, kKey, kName, defaultValue), expected);
    }

    void readBoolIsIntegerNotZero_data()
    {
        QTest::addColumn<TRawValue>("stored");
        QTest::addColumn<bool>("defaultValue");
        QTest::addColumn<bool>("expected");
        QTest::newRow("2 is true") << TRawValue::fromDWord(2) << false << true;
        QTest::newRow("0 is false") << TRawValue::fromDWord(0) << true << false;
        QTest::newRow("text 1") << TRawValue::fromString(QStringLiteral("1")) << false << true;
        QTest::newRow("text abc gives default true")
            << TRawValue::fromString(QStringLiteral("abc")) << true << true;
        QTest::newRow("text abc gives default false")
            << TRawValue::fromString(QStringLiteral("abc")) << false << false;
    }

    void readBoolIsIntegerNotZero()
    {
        QFETCH(TRawValue, stored);
        QFETCH(bool, defaultValue);
        QFETCH(bool, expected);
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, kKey, kName, stored));
        QCOMPARE(ReadBoolValue(HKEY_CURRENT_USER, kKey, kName, defaultValue), expected);
    }

    void readStringConvertsEachKind_data()
    {
        QTest::addColumn<TRawValue>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text") << TRawValue::fromString(QStringLiteral("Größe ✓"))
                              << QStringLiteral("Größe ✓");
        QTest::newRow("existing empty text is not the default")
            << TRawValue::fromString(QString()) << QString();
        QTest::newRow("text without any bytes") << raw(TValueKind::String, QByteArray()) << QString();
        QTest::newRow("expandable text stays unexpanded")
            << TRawValue::fromString(QStringLiteral("%TEMP%\\x"), TValueKind::ExpandString)
            << QStringLiteral("%TEMP%\\x");
        QTest::newRow("text without terminator")
            << raw(TValueKind::String, QByteArray("O\0K\0", 4)) << QStringLiteral("OK");
        QTest::newRow("text ends at its first NUL")
            << raw(TValueKind::String, QByteArray("A\0\0\0B\0\0\0", 8)) << QStringLiteral("A");
        QTest::newRow("binary read as UTF-16, odd byte dropped")
            << TRawValue::fromBinary(QByteArray("H\0i\0!", 5)) << QStringLiteral("Hi");
        QTest::newRow("dword gives the default") << TRawValue::fromDWord(72) << QStringLiteral("<default>");
        QTest::newRow("qword gives the default") << TRawValue::fromQWord(72) << QStringLiteral("<default>");
    }

    void readStringConvertsEachKind()
    {
        QFETCH(TRawValue, stored);
        QFETCH(QString, expected);
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, kKey, kName, stored));
        QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, kKey, kName, QStringLiteral("<default>")), expected);
        QVERIFY(ValueExists(HKEY_CURRENT_USER, kKey, kName));
    }

    void missingValueGivesTheDefault()
    {
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, kKey, kName, 48), 48);
        QCOMPARE(ReadBoolValue(HKEY_CURRENT_USER, kKey, kName, true), true);
        QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, kKey, kName, QStringLiteral("localhost")),
                 QStringLiteral("localhost"));
        QVERIFY(!ValueExists(HKEY_CURRENT_USER, kKey, kName));
        WriteIntegerValue(HKEY_CURRENT_USER, kKey, QStringLiteral("Andere"), 1);
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, kKey, kName, 48), 48);
        QVERIFY(!ValueExists(HKEY_CURRENT_USER, kKey, kName));
    }

    void writesStoreTheirKind_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<TRawValue>("expected");
        QTest::newRow("bool true") << 0 << TRawValue::fromDWord(1);
        QTest::newRow("bool false") << 1 << TRawValue::fromDWord(0);
        QTest::newRow("integer -2") << 2 << TRawValue::fromDWord(0xFFFFFFFEu);
        QTest::newRow("string") << 3 << raw(TValueKind::String, QByteArray("\xC4\0\0\0", 4));
        QTest::newRow("empty string") << 4 << raw(TValueKind::String, QByteArray("\0\0", 2));
    }

    void writesStoreTheirKind()
    {
        QFETCH(int, operation);
        QFETCH(TRawValue, expected);
        // A value of another kind is there first: every write replaces whatever was stored.
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, kKey, kName, TRawValue::fromQWord(99)));
        switch (operation) {
            case 0:
                WriteBoolValue(HKEY_CURRENT_USER, kKey, kName, true);
                break;
            case 1:
                WriteBoolValue(HKEY_CURRENT_USER, kKey, kName, false);
                break;
            case 2:
                WriteIntegerValue(HKEY_CURRENT_USER, kKey, kName, -2);
                break;
            case 3:
                WriteStringValue(HKEY_CURRENT_USER, kKey, kName, QStringLiteral("Ä"));
                break;
            case 4:
                WriteStringValue(HKEY_CURRENT_USER, kKey, kName, QString());
                break;
        }
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, kKey, kName), expected);
    }

    void laterWriteOfAnotherKindReplacesTheValue()
    {
        WriteStringValue(HKEY_CURRENT_USER, kKey, kName, QStringLiteral("72"));
        WriteIntegerValue(HKEY_CURRENT_USER, kKey, kName, 5);
        QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, kKey, kName, QStringLiteral("<default>")),
                 QStringLiteral("<default>"));
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, kKey, kName, -1), 5);
        WriteStringValue(HKEY_CURRENT_USER, kKey, kName, QStringLiteral("abc"));
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, kKey, kName, -1), -1);
    }

    void writeCreatesKeyWithParentsAndFoldsCase()
    {
        const QString module = QStringLiteral("Software\\KRSoftware\\Module\\OnlineUpdateModule\\Lohn");
        WriteBoolValue(HKEY_LOCAL_MACHINE, module, QStringLiteral("Disabled"), true);
        QStringList names{QStringLiteral("stale entry")};
        QVERIFY(GetSubKeyNames(HKEY_LOCAL_MACHINE,
                               QStringLiteral("software\\krsoftware\\module\\onlineupdatemodule\\"), names));
        QCOMPARE(names, QStringList{"Lohn"});
        QVERIFY(GetSubKeyNames(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\KRSoftware\\Module"), names));
        QCOMPARE(names, QStringList{"OnlineUpdateModule"});
        // What the settings dialog writes as "Disabled" is what the update run reads as "disabled".
        QCOMPARE(ReadIntegerValue(HKEY_LOCAL_MACHINE, module + u'\\', QStringLiteral("disabled"), -1), 1);
        QVERIFY(GetSubKeyNames(HKEY_LOCAL_MACHINE, module, names));
        QCOMPARE(names, QStringList());
    }

    void failuresRaiseTheirMessageVerbatim_data()
    {
        QTest::addColumn<TRootKey>("root");
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("listing a missing key")
            << HKEY_LOCAL_MACHINE << 0 << QStringLiteral("Software\\KRSoftware\\Module\\OnlineUpdateModule\\")
            << QStringLiteral(
                   "Unable to open key "
                   "\"HKEY_LOCAL_MACHINE\\Software\\KRSoftware\\Module\\OnlineUpdateModule\\\" "
                   "for read");
        QTest::newRow("deleting from a missing key")
            << HKEY_CURRENT_USER << 1 << QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run")
            << QStringLiteral(
                   "Unable to open key "
                   "\"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\" "
                   "for write");
        QTest::newRow("deleting a missing value")
            << HKEY_CURRENT_USER << 2 << QStringLiteral("Software\\KRSoftware\\OnlineUpdate\\")
            << QStringLiteral(
                   "Unable to open key \"HKEY_CURRENT_USER\\Software\\KRSoftware\\OnlineUpdate\\\" and "
                   "access value "
                   "\"LocalSource\"");
        QTest::newRow("writing where the store cannot be")
            << HKEY_LOCAL_MACHINE << 3
            << QStringLiteral("Software\\KRSoftware\\Module\\OnlineUpdateModule\\Lohn")
            << QStringLiteral(
                   "Unable to open key "
                   "\"HKEY_LOCAL_MACHINE\\Software\\KRSoftware\\Module\\OnlineUpdateModule\\Lohn\" "
                   "for write");
    }

    void failuresRaiseTheirMessageVerbatim()
    {
        QFETCH(TRootKey, root);
        QFETCH(int, operation);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        WriteStringValue(HKEY_CURRENT_USER, QStringLiteral("Software\\KRSoftware\\OnlineUpdate"),
                         QStringLiteral("UpdateURL"), QStringLiteral("https://example.invalid/"));
        // A folder where the machine-wide file should be: nothing can be written there.
        QVERIFY(QDir().mkpath(path(QStringLiteral("machine-folder"))));
        useMachineStore(path(QStringLiteral("machine-folder")));
        QStringList names{QStringLiteral("stale entry")};
        const QString message = storeError([&] {
            switch (operation) {
                case 0:
                    GetSubKeyNames(root, key, names);
                    break;
                case 1:
                case 2:
                    DeleteValue(root, key, QStringLiteral("LocalSource"));
                    break;
                case 3:
                    WriteBoolValue(root, key, QStringLiteral("Disabled"), true);
                    break;
            }
        });
        QCOMPARE(message, expected);
        if (operation == 0)
            QCOMPARE(names, QStringList());
    }

    void deleteValueRemovesAnyKind()
    {
        StoreBackend::writeValue(HKEY_CURRENT_USER, kKey, QStringLiteral("LocalSource"),
                                 TRawValue::fromBinary(QByteArray("x", 1)));
        DeleteValue(HKEY_CURRENT_USER, kKey, QStringLiteral("localsource"));
        QVERIFY(!ValueExists(HKEY_CURRENT_USER, kKey, QStringLiteral("LocalSource")));
    }

    void scrambleIsItsOwnInverse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("key");
        QTest::addColumn<QString>("scrambled");
        QTest::newRow("letters") << QStringLiteral("abc") << 23u << QStringLiteral("vut");
        QTest::newRow("tab and NUL pass unchanged") << utf16(u"\ta\0", 3) << 23u << utf16(u"\tv\0", 3);
        QTest::newRow("umlaut and surrogates") << QStringLiteral("Ä😀") << 31u << scrambledSample();
        QTest::newRow("key 0 changes nothing") << QStringLiteral("geheim") << 0u << QStringLiteral("geheim");
        QTest::newRow("empty") << QString() << 23u << QString();
    }

    void scrambleIsItsOwnInverse()
    {
        QFETCH(QString, text);
        QFETCH(uint, key);
        QFETCH(QString, scrambled);
        QCOMPARE(ScramblePassword(text, key), scrambled);
        QCOMPARE(ScramblePassword(scrambled, key), text);
        // Stored and read back through the store, the password survives.
        WriteStringValue(HKEY_CURRENT_USER, kKey, QStringLiteral("Password"), ScramblePassword(text, key));
        QCOMPARE(
            ScramblePassword(ReadStringValue(HKEY_CURRENT_USER, kKey, QStringLiteral("Password"), {}), key),
            text.left(text.indexOf(QChar(u'\0'))));
    }

    void scrambleRejectsKeysAbove31_data()
    {
        QTest::addColumn<uint>("key");
        QTest::newRow("32") << 32u;
        QTest::newRow("largest unsigned") << 4294967295u;
    }

    void scrambleRejectsKeysAbove31()
    {
        QFETCH(uint, key);
        try {
            ScramblePassword(QStringLiteral("x"), key);
            QFAIL("no error raised");
        } catch (const EVorlandtError& e) {
            QCOMPARE(e.kind(), EVorlandtError::Kind::Argument);
            QCOMPARE(e.message(), QStringLiteral("Key muss ein Integer zwischen 0 und 31 sein, ist aber ") +
                                      QString::number(key));
        }
    }

    void damagedOrForeignFileIsNeitherReadNorTouched_data()
    {
        QTest::addColumn<QString>("damage");
        // A newer program's layout may still answer reads, but this program must not write it.
        QTest::addColumn<bool>("stillReadable");
        for (const char* damage :
             {"random bytes", "text", "truncated store", "overwritten page", "foreign database"})
            QTest::newRow(damage) << QString::fromLatin1(damage) << false;
        QTest::newRow("newer layout") << QStringLiteral("newer layout") << true;
    }

    void damagedOrForeignFileIsNeitherReadNorTouched()
    {
        QFETCH(QString, damage);
        QFETCH(bool, stillReadable);
        const QString file = userStore();
        const QString module = QStringLiteral("Software\\KRSoftware\\OnlineUpdate");
        const QString entry = module + QStringLiteral("\\1");
        for (int i = 0; i < 40; ++i)
            WriteStringValue(HKEY_CURRENT_USER, module + u'\\' + QString::number(i), kName,
                             QString(200, u'x'));
        const QByteArray healthy = readAll(file);
        QVERIFY(healthy.size() > 4 * 4096);

        if (damage == u"random bytes") {
            QByteArray bytes(8192, '\0');
            QRandomGenerator generator(20240611);
            for (char& c : bytes)
                c = static_cast<char>(generator.bounded(256));
            writeAll(file, bytes);
        } else if (damage == u"text") {
            writeAll(file, "Software\\KRSoftware\\OnlineUpdate\nWert=1\n");
        } else if (damage == u"truncated store") {
            writeAll(file, healthy.left(healthy.size() / 2));
        } else if (damage == u"overwritten page") {
            QByteArray bytes = healthy;
            for (qsizetype i = 2 * 4096 + 8; i < 3 * 4096; ++i)
                bytes[i] = static_cast<char>(i * 7);
            writeAll(file, bytes);
        } else if (damage == u"foreign database") {
            QFile::remove(file);
            execSql(file, "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('keep me')");
        } else if (damage == u"newer layout") {
            execSql(file, "PRAGMA user_version=99");
        }
        const QByteArray before = readAll(file);

        QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, entry, kName, QStringLiteral("d")),
                 stillReadable ? QString(200, u'x') : QStringLiteral("d"));
        QCOMPARE(ValueExists(HKEY_CURRENT_USER, entry, kName), stillReadable);
        // Beneath the default, the store knows the file failed: the value may well be in it.
        platform::TReadStatus status = platform::TReadStatus::Missing;
        StoreBackend::readValue(HKEY_CURRENT_USER, entry, kName, &status);
        QCOMPARE(status, stillReadable ? platform::TReadStatus::Found : platform::TReadStatus::Failed);
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, entry, kName, 48), 48);
        const QString write =
            QStringLiteral("Unable to open key \"HKEY_CURRENT_USER\\%1\" for write").arg(module);
        QCOMPARE(storeError([&] { WriteIntegerValue(HKEY_CURRENT_USER, module, kName, 1); }), write);
        QCOMPARE(storeError([&] { DeleteValue(HKEY_CURRENT_USER, entry, kName); }),
                 QStringLiteral("Unable to open key \"HKEY_CURRENT_USER\\%1\" for write").arg(entry));
        QStringList names;
        QCOMPARE(storeError([&] { GetSubKeyNames(HKEY_CURRENT_USER, module, names); }),
                 stillReadable
                     ? QStringLiteral("<none>")
                     : QStringLiteral("Unable to open key \"HKEY_CURRENT_USER\\%1\" for read").arg(module));

        QVERIFY2(readAll(file) == before, "the file was changed");
        QVERIFY(!QFile::exists(file + QStringLiteral("-journal")));
    }

    void twoProcessesWritingAtOnceLoseNothing()
    {
        // Both start before the file exists, so they also race to create it.
        const QString key = QStringLiteral("Software\\KRSoftware\\Standardeinstellungen\\");
        QProcess first;
        QProcess second;
        first.start(QStringLiteral(VORLANDT_STORE_HELPER),
                    {"write", "user", key, QStringLiteral("erster_"), QStringLiteral("200")});
        second.start(QStringLiteral(VORLANDT_STORE_HELPER),
                     {"write", "user", key, QStringLiteral("zweiter_"), QStringLiteral("200")});
        for (QProcess* process : {&first, &second}) {
            QVERIFY(process->waitForFinished(120000));
            QVERIFY2(process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0,
                     process->readAllStandardError().constData());
        }
        for (int i = 0; i < 200; ++i) {
            QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, key, QStringLiteral("erster_%1").arg(i), -1), i);
            QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, key, QStringLiteral("zweiter_%1").arg(i), -1), i);
        }
        QCOMPARE(StoreBackend::values(HKEY_CURRENT_USER, key)->size(), 400);
    }

    void userWithoutWriteAccessReadsMachineStore_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("admin");
        QTest::addColumn<bool>("mayWrite");
        QTest::newRow("file 0644 in folder 0755") << "protected"
                                                  << "/opt/suite/" << false << false;
        QTest::newRow("file 0666 in folder 0777") << "open"
                                                  << "/opt/suite/" << true << true;
        QTest::newRow("no file, folder 0755") << "missing"
                                              << "<missing>" << false << false;
        QTest::newRow("no file nor folder, parent 0777") << "creatable"
                                                         << "<missing>" << true << true;
    }

    void userWithoutWriteAccessReadsMachineStore()
    {
        QFETCH(QString, setup);
        QFETCH(QString, value);
        QFETCH(bool, admin);
        QFETCH(bool, mayWrite);
        if (geteuid() != 0)
            QSKIP("needs root to hand the store to an unprivileged user");
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("setpriv (util-linux) is not installed");

        // The unprivileged user must be able to reach the helper and the store.
        QVERIFY(::chmod(QFile::encodeName(FStores->Path()).constData(), 0755) == 0);
        const QString helper = path(QStringLiteral("storeHelper"));
        QVERIFY(QFile::copy(QStringLiteral(VORLANDT_STORE_HELPER), helper));
        QVERIFY(::chmod(QFile::encodeName(helper).constData(), 0755) == 0);

        const QString key = QStringLiteral("Software\\KRSoftware\\Module\\STD_EINSTELLUNGEN");
        const QString folder = path(QStringLiteral("lib"));
        const QString file = folder + (setup == u"missing" ? QStringLiteral("/registry-machine.db")
                                                           : QStringLiteral("/vorlandt/registry-machine.db"));
        useMachineStore(file);
        if (setup == u"protected" || setup == u"open") {
            // Created by root the way an installer would: file 0644 in a folder 0755.
            WriteStringValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("Pfad"), QStringLiteral("/opt/suite/"));
            if (setup == u"open") {
                QVERIFY(::chmod(QFile::encodeName(file).constData(), 0666) == 0);
                QVERIFY(::chmod(QFile::encodeName(folder + QStringLiteral("/vorlandt")).constData(), 0777) ==
                        0);
            }
        } else {
            QVERIFY(::mkdir(QFile::encodeName(folder).constData(), 0755) == 0);
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), setup == u"creatable" ? 0777 : 0755) == 0);
        }

        QProcess probe;
        probe.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", helper, "probe", "machine",
                              key, "Pfad", "/srv/suite/"});
        QVERIFY(probe.waitForFinished(60000));
        QVERIFY2(probe.exitCode() == 0, probe.readAllStandardError().constData());
        const QStringList lines =
            QString::fromUtf8(probe.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        const QString refused =
            QStringLiteral("write=Unable to open key \"HKEY_LOCAL_MACHINE\\%1\" for write").arg(key);
        QCOMPARE(lines, (QStringList{QStringLiteral("value=") + value,
                                     QStringLiteral("admin=") +
                                         (admin ? QStringLiteral("true") : QStringLiteral("false")),
                                     mayWrite ? QStringLiteral("write=ok") : refused}));
        if (mayWrite) {
            QCOMPARE(ReadStringValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("Pfad_probe"), {}),
                     QStringLiteral("/srv/suite/"));
        }
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
