// The settings store on the Windows registry, checked against the system's own `reg.exe`: what
// the store writes, reg.exe exports byte for byte, and what reg.exe adds, the store reads; names
// without regard to case but in their first spelling; missing keys and values; whole trees
// deleted; batches taken back when a step is refused; the machine root in the 32-bit view; the
// typed reads' conversions. Each test works below a key of its own that stands in for the roots.
#include "core/platform/store/StoreBackend.h"
#include "core/platform/VorlandtError.h"
#include "core/services/Registry.h"
#include "support/PrivateStores.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <memory>

using namespace platform;

Q_DECLARE_METATYPE(platform::TRawValue)

namespace {

struct TReg {
    int exitCode = -1;
    QString out;
};

// reg.exe, as an installer or an administrator would call it.
TReg Reg(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("reg.exe"), arguments);
    TReg result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    return result;
}

QString UniqueName()
{
    return QStringLiteral("VorlandtTests-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

}  // namespace

class TestRegistryStore : public QObject {
    Q_OBJECT

    std::unique_ptr<TPrivateStores> FStores;  // keys below HKCU standing in for both roots
    QTemporaryDir FFiles;

    QString userKey(const QString& key) const { return FStores->UserStore() + u'\\' + key; }
    QString machineKey(const QString& key) const { return FStores->MachineStore() + u'\\' + key; }

    // The lines of reg.exe's export of `regKey` ("HKCU\..."): the values of the key itself, or
    // with `wholeTree` every line after the signature.
    QStringList exported(const QString& regKey, bool wholeTree = false)
    {
        const QString file = QDir::toNativeSeparators(FFiles.filePath(UniqueName() + QStringLiteral(".reg")));
        if (Reg({QStringLiteral("export"), regKey, file, QStringLiteral("/y")}).exitCode != 0)
            return {QStringLiteral("<reg export failed>")};
        QFile input(file);
        if (!input.open(QIODevice::ReadOnly))
            return {QStringLiteral("<no export file>")};
        const QByteArray bytes = input.readAll();
        // UTF-16 LE with a byte-order mark, as regedit writes it.
        const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                                                (bytes.size() - 2) / 2);
        const QString header = QStringLiteral("[HKEY_CURRENT_USER\\") + regKey.section(u'\\', 1, -1) + u']';
        QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        lines.removeFirst();
        if (wholeTree)
            return lines;
        QStringList values;
        bool inKey = false;
        for (const QString& line : lines) {
            if (line.startsWith(u'['))
                inKey = line.compare(header, Qt::CaseInsensitive) == 0;
            else if (inKey)
                values.append(line);
        }
        return values;
    }

private slots:
    void initTestCase() { QVERIFY(FFiles.isValid()); }

    void init()
    {
        FStores = std::make_unique<TPrivateStores>();
        QVERIFY(FStores->IsValid());
    }

    void cleanup()
    {
        const QString keys = FStores->UserStore().section(u'\\', 0, -2);
        FStores.reset();
        QCOMPARE(Reg({QStringLiteral("query"), keys}).exitCode, 1);
    }

    void kindsWrittenByTheStoreAreWhatRegExports_data()
    {
        QTest::addColumn<TRawValue>("value");
        QTest::addColumn<QString>("line");
        QTest::newRow("string") << TRawValue::fromString(QStringLiteral("Ab c"))
                                << QStringLiteral("\"v\"=\"Ab c\"");
        QTest::newRow("empty string") << TRawValue::fromString(QString()) << QStringLiteral("\"v\"=\"\"");
        QTest::newRow("umlaut") << TRawValue::fromString(QStringLiteral("Größe"))
                                << QStringLiteral("\"v\"=\"Größe\"");
        QTest::newRow("expandable string")
            << TRawValue::fromString(QStringLiteral("%T%"), TValueKind::ExpandString)
            << QStringLiteral("\"v\"=hex(2):25,00,54,00,25,00,00,00");
        QTest::newRow("dword") << TRawValue::fromDWord(42) << QStringLiteral("\"v\"=dword:0000002a");
        QTest::newRow("dword all bits")
            << TRawValue::fromDWord(0xFFFFFFFFu) << QStringLiteral("\"v\"=dword:ffffffff");
        QTest::newRow("qword") << TRawValue::fromQWord(0x0102030405060708ull)
                               << QStringLiteral("\"v\"=hex(b):08,07,06,05,04,03,02,01");
        QTest::newRow("binary") << TRawValue::fromBinary(QByteArray("\0\x01\xFF", 3))
                                << QStringLiteral("\"v\"=hex:00,01,ff");
        QTest::newRow("empty binary") << TRawValue::fromBinary(QByteArray()) << QStringLiteral("\"v\"=hex:");
        QTest::newRow("a kind the store has no name for passes through")
            << TRawValue{static_cast<TValueKind>(7), QByteArray("a\0\0\0\0\0", 6)}
            << QStringLiteral("\"v\"=hex(7):61,00,00,00,00,00");
    }

    void kindsWrittenByTheStoreAreWhatRegExports()
    {
        QFETCH(TRawValue, value);
        QFETCH(QString, line);
        QVERIFY(
            StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("Kinds"), QStringLiteral("v"), value));
        TReadStatus status = TReadStatus::Failed;
        const auto read =
            StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("Kinds"), QStringLiteral("v"), &status);
        QCOMPARE(read, value);
        QCOMPARE(status, TReadStatus::Found);
        QCOMPARE(exported(userKey(QStringLiteral("Kinds"))), QStringList{line});
    }

    // What reg.exe adds the store reads as it is, and the typed reads convert by the store's
    // rules: numbers from texts, no text from numbers, the low 32 bits of a longer number.
    void kindsAddedByRegAreReadAsTheyAre_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("data");
        QTest::addColumn<TRawValue>("value");
        QTest::addColumn<int>("integer");
        QTest::addColumn<QString>("text");
        const QString none = QStringLiteral("<default>");
        QTest::newRow("REG_SZ") << "REG_SZ"
                                << "Größe" << TRawValue::fromString(QStringLiteral("Größe")) << -1 << "Größe";
        QTest::newRow("REG_SZ number") << "REG_SZ"
                                       << "42" << TRawValue::fromString(QStringLiteral("42")) << 42 << "42";
        QTest::newRow("REG_SZ empty") << "REG_SZ"
                                      << "" << TRawValue::fromString(QString()) << -1 << "";
        QTest::newRow("REG_EXPAND_SZ stays unexpanded")
            << "REG_EXPAND_SZ"
            << "%SystemRoot%\\7"
            << TRawValue::fromString(QStringLiteral("%SystemRoot%\\7"), TValueKind::ExpandString) << -1
            << "%SystemRoot%\\7";
        QTest::newRow("REG_DWORD") << "REG_DWORD"
                                   << "42" << TRawValue::fromDWord(42) << 42 << none;
        QTest::newRow("REG_DWORD negative")
            << "REG_DWORD"
            << "0xffffffff" << TRawValue::fromDWord(0xFFFFFFFFu) << -1 << none;
        QTest::newRow("REG_DWORD negative nine")
            << "REG_DWORD"
            << "0xfffffff7" << TRawValue::fromDWord(0xFFFFFFF7u) << -9 << none;
        QTest::newRow("REG_QWORD low bits")
            << "REG_QWORD"
            << "0x100000002a" << TRawValue::fromQWord(0x100000002aull) << 42 << none;
        QTest::newRow("REG_BINARY as number and as text")
            << "REG_BINARY"
            << "2a000000" << TRawValue::fromBinary(QByteArray("\x2a\0\0\0", 4)) << 42 << "*";
    }

    void kindsAddedByRegAreReadAsTheyAre()
    {
        QFETCH(QString, type);
        QFETCH(QString, data);
        QFETCH(TRawValue, value);
        QFETCH(int, integer);
        QFETCH(QString, text);
        QCOMPARE(Reg({QStringLiteral("add"), userKey(QStringLiteral("Added")), QStringLiteral("/v"),
                      QStringLiteral("v"), QStringLiteral("/t"), type, QStringLiteral("/d"), data,
                      QStringLiteral("/f")})
                     .exitCode,
                 0);
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("Added"), QStringLiteral("v")),
                 value);
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, QStringLiteral("Added"), QStringLiteral("v"), -1),
                 integer);
        QCOMPARE(ReadStringValue(HKEY_CURRENT_USER, QStringLiteral("Added"), QStringLiteral("v"),
                                 QStringLiteral("<default>")),
                 text);
    }

    void namesCompareWithoutCaseAndKeepTheirFirstSpelling()
    {
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("Äpfel\\Birnen\\"),
                                         QStringLiteral("Wert"), TRawValue::fromDWord(1)));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("äPFEL\\\\BIRNEN"),
                                         QStringLiteral("WERT"), TRawValue::fromDWord(2)));
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("ÄPFEL\\birnen"),
                                         QStringLiteral("wert")),
                 TRawValue::fromDWord(2));
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QString()),
                 QStringList{QStringLiteral("Äpfel")});
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QStringLiteral("äpfel")),
                 QStringList{QStringLiteral("Birnen")});
        const auto values = StoreBackend::values(HKEY_CURRENT_USER, QStringLiteral("ÄPFEL\\BIRNEN"));
        QVERIFY(values);
        QCOMPARE(values->size(), 1);
        QCOMPARE(values->first().name, QStringLiteral("Wert"));
        QCOMPARE(exported(userKey(QStringLiteral("Äpfel\\Birnen"))),
                 QStringList{QStringLiteral("\"Wert\"=dword:00000002")});

        // A key reg.exe made is found in any letter case, and listed in its own.
        QCOMPARE(Reg({QStringLiteral("add"), userKey(QStringLiteral("Module\\STD_EINSTELLUNGEN")),
                      QStringLiteral("/v"), QStringLiteral("Pfad"), QStringLiteral("/d"),
                      QStringLiteral("C:\\KR\\"), QStringLiteral("/f")})
                     .exitCode,
                 0);
        QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("module\\std_einstellungen"),
                                         QStringLiteral("PFAD")),
                 TRawValue::fromString(QStringLiteral("C:\\KR\\")));
        QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QStringLiteral("MODULE")),
                 QStringList{QStringLiteral("STD_EINSTELLUNGEN")});
    }

    void valuesListSortedLikeTheOtherStore()
    {
        for (const QString& name : {QStringLiteral("b"), QStringLiteral("C"), QStringLiteral("a"), QString()})
            QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("K"), name,
                                             TRawValue::fromDWord(0)));
        const std::optional<QList<TNamedValue>> values =
            StoreBackend::values(HKEY_CURRENT_USER, QStringLiteral("K"));
        QVERIFY(values);
        QStringList names;
        for (const TNamedValue& value : *values)
            names.append(value.name);
        QCOMPARE(names,
                 (QStringList{QString(), QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("C")}));
    }

    void missingKeysAndValuesAreToldApartFromFailures()
    {
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("There"), QStringLiteral("v"),
                                         TRawValue::fromDWord(1)));
        const auto statusOf = [](const QString& key, const QString& name) {
            TReadStatus status = TReadStatus::Found;
            const bool found = StoreBackend::readValue(HKEY_CURRENT_USER, key, name, &status).has_value();
            return found                            ? QStringLiteral("value")
                   : status == TReadStatus::Missing ? QStringLiteral("missing")
                                                    : QStringLiteral("failed");
        };
        QCOMPARE(statusOf(QStringLiteral("There"), QStringLiteral("w")), QStringLiteral("missing"));
        QCOMPARE(statusOf(QStringLiteral("Not\\There"), QStringLiteral("v")), QStringLiteral("missing"));
        QCOMPARE(statusOf(QStringLiteral("There"), QString::fromUtf16(u"v\0x", 3)),
                 QStringLiteral("missing"));
        QVERIFY(!StoreBackend::keyExists(HKEY_CURRENT_USER, QStringLiteral("Not\\There")));
        QVERIFY(StoreBackend::keyExists(HKEY_CURRENT_USER, QStringLiteral("there\\")));
        QVERIFY(!StoreBackend::subKeyNames(HKEY_CURRENT_USER, QStringLiteral("Not")));
        QVERIFY(!StoreBackend::values(HKEY_CURRENT_USER, QStringLiteral("Not")));
        QCOMPARE(StoreBackend::deleteValue(HKEY_CURRENT_USER, QStringLiteral("Not"), QStringLiteral("v")),
                 TDeleteResult::KeyNotWritable);
        QCOMPARE(StoreBackend::deleteValue(HKEY_CURRENT_USER, QStringLiteral("There"), QStringLiteral("w")),
                 TDeleteResult::NoSuchValue);
        QCOMPARE(StoreBackend::deleteValue(HKEY_CURRENT_USER, QStringLiteral("THERE"), QStringLiteral("V")),
                 TDeleteResult::Deleted);
        QCOMPARE(statusOf(QStringLiteral("There"), QStringLiteral("v")), QStringLiteral("missing"));
        // The store's messages for the same cases.
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, QStringLiteral("Not"), QStringLiteral("v"), 7), 7);
        QStringList names{QStringLiteral("stale")};
        try {
            GetSubKeyNames(HKEY_CURRENT_USER, QStringLiteral("Not"), names);
            QFAIL("no error raised");
        } catch (const EVorlandtError& e) {
            QCOMPARE(e.message(), QStringLiteral("Unable to open key \"HKEY_CURRENT_USER\\Not\" for read"));
        }
    }

    // A setting that names something other than a key never falls back to the real registry.
    void storeElsewhereThanInAKeyRefusesEverything()
    {
        qputenv("VORLANDT_USER_STORE", "C:\\ProgramData\\user.db");
        TReadStatus status = TReadStatus::Found;
        QVERIFY(!StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("Software"), QString(), &status));
        QCOMPARE(status, TReadStatus::Failed);
        QVERIFY(!StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("K"), QString(),
                                          TRawValue::fromDWord(1)));
        QVERIFY(!StoreBackend::subKeyNames(HKEY_CURRENT_USER, QString()));
    }

    void deleteKeyRemovesTheWholeTreeButNeverTheRoot()
    {
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("A\\B\\C"), QStringLiteral("v"),
                                         TRawValue::fromDWord(1)));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("A"), QStringLiteral("v"),
                                         TRawValue::fromDWord(1)));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("AB"), QStringLiteral("v"),
                                         TRawValue::fromDWord(1)));
        QCOMPARE(
            Reg({QStringLiteral("add"), userKey(QStringLiteral("A\\D\\E")), QStringLiteral("/f")}).exitCode,
            0);

        QVERIFY(StoreBackend::deleteKey(HKEY_CURRENT_USER, QStringLiteral("a\\")));
        QVERIFY(!StoreBackend::keyExists(HKEY_CURRENT_USER, QStringLiteral("A")));
        QCOMPARE(Reg({QStringLiteral("query"), userKey(QStringLiteral("A"))}).exitCode, 1);
        QVERIFY(StoreBackend::keyExists(HKEY_CURRENT_USER, QStringLiteral("AB")));
        QVERIFY(StoreBackend::deleteKey(HKEY_CURRENT_USER, QStringLiteral("A")));
        for (const QString& root : {QString(), QStringLiteral("\\"), QStringLiteral("\\\\")})
            QVERIFY(!StoreBackend::deleteKey(HKEY_CURRENT_USER, root));
        QVERIFY(StoreBackend::keyExists(HKEY_CURRENT_USER, QStringLiteral("AB")));
    }

    // Every kind of step taken back when a later one is refused: the tree reads as before.
    void batchIsTakenBackWhenAStepIsRefused_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("applied") << false;
        QTest::newRow("refused at the end") << true;
    }

    void batchIsTakenBackWhenAStepIsRefused()
    {
        QFETCH(bool, refused);
        const auto dword = [](quint32 v) { return TRawValue::fromDWord(v); };
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("Keep"), QStringLiteral("Changed"),
                                         dword(1)));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("Keep"), QStringLiteral("Deleted"),
                                         dword(2)));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("Tree\\Sub"),
                                         QStringLiteral("Deep"),
                                         TRawValue::fromString(QStringLiteral("tief"))));
        QVERIFY(StoreBackend::writeValue(HKEY_CURRENT_USER, QStringLiteral("Tree"), QStringLiteral("Top"),
                                         dword(3)));
        const QStringList before = exported(FStores->UserStore(), true);

        using T = TStoreOp::Type;
        QList<TStoreOp> ops{
            {T::SetValue, QStringLiteral("Keep"), QStringLiteral("changed"), dword(10)},
            {T::SetValue, QStringLiteral("Keep"), QStringLiteral("Added"), dword(11)},
            {T::DeleteValue, QStringLiteral("KEEP"), QStringLiteral("deleted"), {}},
            {T::DeleteValue, QStringLiteral("Keep"), QStringLiteral("NeverThere"), {}},
            {T::SetValue, QStringLiteral("New\\Deeper"), QStringLiteral("v"), dword(12)},
            {T::CreateKey, QStringLiteral("Empty\\Key"), {}, {}},
            {T::DeleteKey, QStringLiteral("tree"), {}, {}},
            {T::DeleteKey, QStringLiteral("NeverThere"), {}, {}},
        };
        // The registry refuses a key name longer than 255 characters.
        if (refused)
            ops.append({T::SetValue, QString(300, u'k'), QStringLiteral("v"), dword(13)});
        QCOMPARE(StoreBackend::apply(HKEY_CURRENT_USER, ops), !refused);

        const QString all = FStores->UserStore();
        if (refused) {
            QCOMPARE(exported(all, true), before);
            QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QString()),
                     (QStringList{QStringLiteral("Keep"), QStringLiteral("Tree")}));
            QCOMPARE(StoreBackend::readValue(HKEY_CURRENT_USER, QStringLiteral("Tree\\Sub"),
                                             QStringLiteral("Deep")),
                     TRawValue::fromString(QStringLiteral("tief")));
            const auto keep = StoreBackend::values(HKEY_CURRENT_USER, QStringLiteral("Keep"));
            QCOMPARE(keep.value().size(), 2);
            QCOMPARE(keep->at(0).name, QStringLiteral("Changed"));
            QCOMPARE(keep->at(0).value, dword(1));
        } else {
            QCOMPARE(StoreBackend::subKeyNames(HKEY_CURRENT_USER, QString()),
                     (QStringList{QStringLiteral("Empty"), QStringLiteral("Keep"), QStringLiteral("New")}));
            QCOMPARE(exported(userKey(QStringLiteral("Keep"))),
                     (QStringList{QStringLiteral("\"Added\"=dword:0000000b"),
                                  QStringLiteral("\"Changed\"=dword:0000000a")}));
            QVERIFY(StoreBackend::keyExists(HKEY_CURRENT_USER, QStringLiteral("Empty\\Key")));
        }
    }

    // The administrators' policy is a key under the machine root that Group Policy writes; a
    // per-user setting it covers reads the policy's value.
    void policyUnderTheMachineRootWinsOverTheUsersValue()
    {
        WriteIntegerValue(HKEY_CURRENT_USER, QStringLiteral("Software\\KRSoftware\\OnlineUpdate\\"),
                          QStringLiteral("IntervalInHours"), 48);
        QCOMPARE(Reg({QStringLiteral("add"),
                      machineKey(QStringLiteral("Software\\Policies\\KRSoftware\\OnlineUpdate")),
                      QStringLiteral("/v"), QStringLiteral("IntervalInHours"), QStringLiteral("/t"),
                      QStringLiteral("REG_DWORD"), QStringLiteral("/d"), QStringLiteral("24"),
                      QStringLiteral("/f")})
                     .exitCode,
                 0);
        QCOMPARE(ReadIntegerValue(HKEY_CURRENT_USER, QStringLiteral("Software\\KRSoftware\\OnlineUpdate\\"),
                                  QStringLiteral("IntervalInHours"), 0),
                 24);
    }

    // The real machine root: the suite's 32-bit installers find what the store writes, which 64-bit
    // Windows keeps under WOW6432Node. Writing it needs administrator rights (Wine grants them).
    void machineRootIsTheThirtyTwoBitView()
    {
        qunsetenv("VORLANDT_MACHINE_STORE");
        const bool suiteKeyBefore =
            StoreBackend::keyExists(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\KRSoftware"));
        if (!StoreBackend::canWriteMachineStore())
            QSKIP("needs administrator rights");
        QCOMPARE(StoreBackend::keyExists(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\KRSoftware")),
                 suiteKeyBefore);

        const QString key = QStringLiteral("Software\\") + UniqueName();
        QVERIFY(
            StoreBackend::writeValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("v"), TRawValue::fromDWord(5)));
        const QString inView = QStringLiteral("HKLM\\") + key;
        const QString redirected = QStringLiteral("HKLM\\Software\\WOW6432Node\\") + key.section(u'\\', 1);
        const int in32 = Reg({QStringLiteral("query"), inView, QStringLiteral("/reg:32")}).exitCode;
        const int in64 = Reg({QStringLiteral("query"), inView, QStringLiteral("/reg:64")}).exitCode;
        const int underNode = Reg({QStringLiteral("query"), redirected, QStringLiteral("/reg:64")}).exitCode;
        QVERIFY(StoreBackend::deleteKey(HKEY_LOCAL_MACHINE, key));
        QCOMPARE(in32, 0);
        QCOMPARE(in64, 1);
        QCOMPARE(underNode, 0);
        QCOMPARE(Reg({QStringLiteral("query"), inView, QStringLiteral("/reg:32")}).exitCode, 1);
    }
};

QTEST_GUILESS_MAIN(TestRegistryStore)
#include "tst_registryStore.moc"
