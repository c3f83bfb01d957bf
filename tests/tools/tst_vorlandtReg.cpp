// vorlandt-reg as installers and administrators run it: exit codes, printed values, .reg
// imports that either apply completely or leave the store untouched, against real store files, and
// a machine store whose last change was cut off, read by a user who may not write it, then
// repaired by root.
#include "support/InterruptedStoreWrite.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using TRun = TToolRun;

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

}  // namespace

class TestVorlandtReg : public QObject {
    Q_OBJECT

private slots:
    void init();

    void setThenGetPrintsTheValue_data();
    void setThenGetPrintsTheValue();
    void badCallsAreUsageErrors_data();
    void badCallsAreUsageErrors();
    void helpPrintsUsage();
    void getOfMissingValueFails_data();
    void getOfMissingValueFails();
    void deleteRemovesOnlyExistingValues();
    void listShowsSubkeysThenValues();
    void listOfMissingKeyFails();

    void importThenExportGivesRegeditBytes_data();
    void importThenExportGivesRegeditBytes();
    void exportImportExportKeepsBytes();
    void terminalExportIsUtf8AndImportsAlike();
    void damagedImportChangesNothing_data();
    void damagedImportChangesNothing();
    void damagedUtf16FileNamesItsLine();
    void refusedMachineStoreLeavesUserStoreUntouched();
    void exportOfMissingKeyFails();
    void exportToUnwritableFileFails();

    void effectiveShowsEachSettingWithItsOrigin();
    void effectiveChecksThePolicy_data();
    void effectiveChecksThePolicy();
    void usersReadTheLastCommittedStateUntilRootRepairs();
    void unreadableUnfinishedChangeNamesTheRepair();
    void repairReportsWhatItFound_data();
    void repairReportsWhatItFound();

private:
    TRun run(const QStringList& args) const;
    // As the unprivileged test user, with a private temporary folder of its own.
    TRun runAsUser(const QStringList& args) const;
    // Root's machine store with two registrations, exported by root into `committed`, then a
    // writer killed mid-change; empty when that worked, else what went wrong.
    QString interruptedMachineStore(QByteArray* committed = nullptr);
    void mustRun(const QStringList& args) const;
    void useStores(const QString& tag);
    QString writeFile(const QString& name, const QByteArray& bytes) const;
    // Both roots' whole content as .reg text: what a test compares before and after.
    QByteArray snapshot() const;

    std::unique_ptr<QTemporaryDir> FDir;
};

void TestVorlandtReg::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    useStores(QStringLiteral("a"));
}

void TestVorlandtReg::useStores(const QString& tag)
{
    qputenv("VORLANDT_USER_STORE", FDir->filePath(tag + QStringLiteral("-user.db")).toUtf8());
    qputenv("VORLANDT_MACHINE_STORE", FDir->filePath(tag + QStringLiteral("-machine.db")).toUtf8());
    qputenv("VORLANDT_POLICY_DIR", FDir->filePath(tag + QStringLiteral("-policy.d")).toUtf8());
}

TRun TestVorlandtReg::run(const QStringList& args) const
{
    return RunTool(QStringLiteral(VORLANDT_REG_EXE), args);
}

constexpr uid_t TestUser = 64001;
const QString RegistrationKey = QStringLiteral("Software\\KRSoftware\\Module\\OnlineUpdateModule\\Kasse");

TRun TestVorlandtReg::runAsUser(const QStringList& args) const
{
    const QString uid = QString::number(TestUser);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), FDir->filePath(QStringLiteral("user-tmp")));
    environment.insert(QStringLiteral("HOME"), FDir->filePath(QStringLiteral("user-tmp")));
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    return RunTool(QStringLiteral("setpriv"),
                   QStringList{QStringLiteral("--reuid=") + uid, QStringLiteral("--regid=") + uid,
                               QStringLiteral("--clear-groups"), QStringLiteral("--"),
                               QStringLiteral(VORLANDT_REG_EXE)} +
                       args,
                   environment);
}

QString TestVorlandtReg::interruptedMachineStore(QByteArray* committed)
{
    // Root's files as the package leaves them: the folder and the store readable by everyone.
    if (::chmod(QFile::encodeName(FDir->path()).constData(), 0755) != 0)
        return QStringLiteral("chmod");
    const QString userTemp = FDir->filePath(QStringLiteral("user-tmp"));
    if (!QDir().mkdir(userTemp) ||
        ::chown(QFile::encodeName(userTemp).constData(), TestUser, TestUser) != 0 ||
        ::chmod(QFile::encodeName(userTemp).constData(), 0700) != 0)
        return QStringLiteral("the user's temporary folder");
    const QString reg = writeFile(QStringLiteral("kasse.reg"),
                                  "Windows Registry Editor Version 5.00\n\n"
                                  "[HKLM\\Software\\KRSoftware\\Module\\OnlineUpdateModule\\Kasse]\n"
                                  "\"Update_ID\"=dword:0000000c\n\"Update_Modulbezeichnung\"=\"Kasse\"\n"
                                  "[HKLM\\Software\\KRSoftware\\Module\\OnlineUpdateModule\\Lager]\n"
                                  "\"Update_ID\"=dword:0000000d\n");
    const TRun imported = run({QStringLiteral("import"), reg});
    if (imported.exitCode != 0)
        return QString::fromUtf8(imported.err);
    if (committed)
        *committed =
            run({QStringLiteral("export"), QStringLiteral("HKLM"), QStringLiteral("Software"), {}}).out;
    return InterruptWriteToStore(FDir->filePath(QStringLiteral("a-machine.db")));
}

void TestVorlandtReg::mustRun(const QStringList& args) const
{
    const TRun r = run(args);
    QVERIFY2(r.exitCode == 0, qPrintable(args.join(u' ') + QStringLiteral(": ") + QString::fromUtf8(r.err)));
}

QString TestVorlandtReg::writeFile(const QString& name, const QByteArray& bytes) const
{
    const QString path = FDir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray TestVorlandtReg::snapshot() const
{
    QByteArray all;
    for (const char* root : {"HKCU", "HKLM"}) {
        const TRun r = run({QStringLiteral("export"), QString::fromLatin1(root), QString()});
        all += r.out + r.err;
    }
    return all;
}

void TestVorlandtReg::setThenGetPrintsTheValue_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("printed");
    QTest::addColumn<QByteArray>("listed");

    QTest::newRow("sz") << "HKCU"
                        << "Name"
                        << "sz"
                        << "Hallo Welt" << QByteArray("Hallo Welt\n") << QByteArray("Name = sz:Hallo Welt\n");
    QTest::newRow("sz, non-ASCII") << "HKCU"
                                   << "Größe"
                                   << "sz"
                                   << "Übermaß €" << QByteArray("Übermaß €\n")
                                   << QByteArray("Größe = sz:Übermaß €\n");
    QTest::newRow("empty sz") << "HKCU"
                              << "Leer"
                              << "sz"
                              << "" << QByteArray("\n") << QByteArray("Leer = sz:\n");
    QTest::newRow("expand_sz kept unexpanded")
        << "HKLM"
        << "Pfad"
        << "expand_sz"
        << "%HOME%\\x" << QByteArray("%HOME%\\x\n") << QByteArray("Pfad = expand_sz:%HOME%\\x\n");
    QTest::newRow("dword decimal") << "HKLM"
                                   << "Update_ID"
                                   << "dword"
                                   << "42" << QByteArray("42\n") << QByteArray("Update_ID = dword:42\n");
    QTest::newRow("dword negative") << "HKCU"
                                    << "LastNewsID"
                                    << "dword"
                                    << "-1" << QByteArray("-1\n") << QByteArray("LastNewsID = dword:-1\n");
    QTest::newRow("dword hex reads signed")
        << "HKCU"
        << "D"
        << "dword"
        << "0xFFFFFFFE" << QByteArray("-2\n") << QByteArray("D = dword:-2\n");
    QTest::newRow("dword largest unsigned")
        << "HKCU"
        << "D"
        << "dword"
        << "4294967295" << QByteArray("-1\n") << QByteArray("D = dword:-1\n");
    QTest::newRow("dword smallest") << "HKCU"
                                    << "D"
                                    << "dword"
                                    << "-2147483648" << QByteArray("-2147483648\n")
                                    << QByteArray("D = dword:-2147483648\n");
    QTest::newRow("qword reads unsigned")
        << "HKCU"
        << "Q"
        << "qword"
        << "-1" << QByteArray("18446744073709551615\n") << QByteArray("Q = qword:18446744073709551615\n");
    QTest::newRow("qword hex") << "HKCU"
                               << "Q"
                               << "qword"
                               << "0x100000000" << QByteArray("4294967296\n")
                               << QByteArray("Q = qword:4294967296\n");
    QTest::newRow("binary") << "HKCU"
                            << "B"
                            << "binary"
                            << "01,FF,0" << QByteArray("01,ff,00\n") << QByteArray("B = binary:01,ff,00\n");
    QTest::newRow("default value as @")
        << "HKCU"
        << "@"
        << "sz"
        << "Standard" << QByteArray("Standard\n") << QByteArray("@ = sz:Standard\n");
}

void TestVorlandtReg::setThenGetPrintsTheValue()
{
    QFETCH(QString, root);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, value);
    QFETCH(QByteArray, printed);
    QFETCH(QByteArray, listed);
    const QString key = QStringLiteral("Software\\KRSoftware\\Test");
    mustRun({QStringLiteral("set"), root, key, name, kind, value});

    // Roots and names compare without regard to case, as the updater reads them.
    const TRun get = run({QStringLiteral("get"), root.toLower(), key.toUpper(), name.toLower()});
    QCOMPARE(get.exitCode, 0);
    QCOMPARE(get.out, printed);
    QCOMPARE(get.err, QByteArray());
    const TRun list = run({QStringLiteral("list"), root, key});
    QCOMPARE(list.exitCode, 0);
    QCOMPARE(list.out, listed);
}

void TestVorlandtReg::badCallsAreUsageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    const QString k = QStringLiteral("Software\\A");
    QTest::newRow("no command") << QStringList{};
    QTest::newRow("unknown command") << QStringList{"copy", "HKCU", k};
    QTest::newRow("too few arguments") << QStringList{"get", "HKCU", k};
    QTest::newRow("too many arguments") << QStringList{"list", "HKCU", k, "x"};
    QTest::newRow("unknown root") << QStringList{"set", "HKCR", k, "N", "sz", "x"};
    QTest::newRow("unknown kind") << QStringList{"set", "HKCU", k, "N", "multi_sz", "x"};
    QTest::newRow("dword not a number") << QStringList{"set", "HKCU", k, "N", "dword", "zwölf"};
    QTest::newRow("dword above 32 bits") << QStringList{"set", "HKCU", k, "N", "dword", "4294967296"};
    QTest::newRow("dword below 32 bits") << QStringList{"set", "HKCU", k, "N", "dword", "-2147483649"};
    QTest::newRow("dword hex too long") << QStringList{"set", "HKCU", k, "N", "dword", "0x100000000"};
    QTest::newRow("dword with blanks") << QStringList{"set", "HKCU", k, "N", "dword", " 1"};
    QTest::newRow("dword empty") << QStringList{"set", "HKCU", k, "N", "dword", ""};
    QTest::newRow("qword above 64 bits")
        << QStringList{"set", "HKCU", k, "N", "qword", "18446744073709551616"};
    QTest::newRow("qword huge number") << QStringList{"set", "HKCU", k, "N", "qword", QString(5000, u'9')};
    QTest::newRow("binary not hex") << QStringList{"set", "HKCU", k, "N", "binary", "01,0g"};
}

void TestVorlandtReg::badCallsAreUsageErrors()
{
    QFETCH(QStringList, args);
    const TRun r = run(args);
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.contains("Aufruf: vorlandt-reg"), r.err.constData());
    // Nothing may have been written on the way to the error.
    QCOMPARE(run({QStringLiteral("get"), QStringLiteral("HKCU"), QStringLiteral("Software\\A"),
                  QStringLiteral("N")})
                 .exitCode,
             1);
}

void TestVorlandtReg::helpPrintsUsage()
{
    const TRun r = run({QStringLiteral("--help")});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.contains("Aufruf: vorlandt-reg"));
    QVERIFY(r.out.contains("UTF-8"));
    QCOMPARE(r.err, QByteArray());
}

void TestVorlandtReg::getOfMissingValueFails_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    // A file that cannot be read must not pass for a missing value: it gets the read message.
    QTest::addColumn<bool>("damaged");
    QTest::newRow("missing value") << "Software\\A"
                                   << "Fehlt" << false;
    QTest::newRow("missing key") << "Software\\Nirgends"
                                 << "Wert" << false;
    QTest::newRow("unreadable file") << "Software\\A"
                                     << "Da" << true;
}

void TestVorlandtReg::getOfMissingValueFails()
{
    QFETCH(QString, key);
    QFETCH(QString, name);
    QFETCH(bool, damaged);
    mustRun({QStringLiteral("set"), QStringLiteral("HKCU"), QStringLiteral("Software\\A"),
             QStringLiteral("Da"), QStringLiteral("sz"), QStringLiteral("x")});
    if (damaged) {
        QFile file(FDir->filePath(QStringLiteral("a-user.db")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(8192, 'x'));
    }
    const TRun r = run({QStringLiteral("get"), QStringLiteral("HKCU"), key, name});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QByteArray());
    const QString message =
        damaged ? QStringLiteral("Unable to open key \"HKEY_CURRENT_USER\\%1\" for read\n").arg(key)
                : QStringLiteral("Unable to open key \"HKEY_CURRENT_USER\\%1\" and access value \"%2\"\n")
                      .arg(key, name);
    QCOMPARE(QString::fromUtf8(r.err), message);
}

void TestVorlandtReg::deleteRemovesOnlyExistingValues()
{
    const QStringList target{QStringLiteral("HKLM"), QStringLiteral("Software\\A"), QStringLiteral("Wert")};
    mustRun(QStringList{QStringLiteral("set")} + target +
            QStringList{QStringLiteral("dword"), QStringLiteral("1")});
    mustRun(QStringList{QStringLiteral("set"), QStringLiteral("HKLM"), QStringLiteral("Software\\A"),
                        QStringLiteral("Bleibt"), QStringLiteral("dword"), QStringLiteral("2")});

    QCOMPARE(run(QStringList{QStringLiteral("delete")} + target).exitCode, 0);
    QCOMPARE(run(QStringList{QStringLiteral("get")} + target).exitCode, 1);
    QCOMPARE(run({QStringLiteral("get"), QStringLiteral("HKLM"), QStringLiteral("Software\\A"),
                  QStringLiteral("Bleibt")})
                 .out,
             QByteArray("2\n"));

    const TRun again = run(QStringList{QStringLiteral("delete")} + target);
    QCOMPARE(again.exitCode, 1);
    QCOMPARE(
        again.err,
        QByteArray("Unable to open key \"HKEY_LOCAL_MACHINE\\Software\\A\" and access value \"Wert\"\n"));
}

void TestVorlandtReg::listShowsSubkeysThenValues()
{
    const QString key = QStringLiteral("Software\\KRSoftware\\Module\\OnlineUpdateModule");
    for (const QString& module : {QStringLiteral("Lohn"), QStringLiteral("Buchhaltung")})
        mustRun({QStringLiteral("set"), QStringLiteral("HKLM"), key + u'\\' + module,
                 QStringLiteral("Update_ID"), QStringLiteral("dword"), QStringLiteral("3")});
    mustRun({QStringLiteral("set"), QStringLiteral("HKLM"), key + u'\\' + QStringLiteral("Lohn\\Tief"),
             QStringLiteral("x"), QStringLiteral("sz"), QStringLiteral("y")});
    mustRun({QStringLiteral("set"), QStringLiteral("HKLM"), key, QStringLiteral("Anzahl"),
             QStringLiteral("qword"), QStringLiteral("2")});
    mustRun({QStringLiteral("set"), QStringLiteral("HKLM"), key, QString(), QStringLiteral("binary"),
             QStringLiteral("")});

    const TRun r = run({QStringLiteral("list"), QStringLiteral("HKEY_LOCAL_MACHINE"), key});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray("Buchhaltung\nLohn\n@ = binary:\nAnzahl = qword:2\n"));
}

void TestVorlandtReg::listOfMissingKeyFails()
{
    const TRun r =
        run({QStringLiteral("list"), QStringLiteral("HKCU"), QStringLiteral("Software\\Nirgends")});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(r.err, QByteArray("Unable to open key \"HKEY_CURRENT_USER\\Software\\Nirgends\" for read\n"));
}

void TestVorlandtReg::importThenExportGivesRegeditBytes_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::newRow("regedit's own UTF-16 file") << QFINDTESTDATA("data/registrations.reg");
    QTest::newRow("same content by hand in UTF-8") << QFINDTESTDATA("data/registrations-utf8.reg");
}

void TestVorlandtReg::importThenExportGivesRegeditBytes()
{
    QFETCH(QString, fixture);
    QVERIFY(!fixture.isEmpty());
    mustRun({QStringLiteral("import"), fixture});
    const QString exported = FDir->filePath(QStringLiteral("out.reg"));
    mustRun(
        {QStringLiteral("export"), QStringLiteral("HKLM"), QStringLiteral("Software\\KRSoftware"), exported});
    QCOMPARE(ReadAll(exported), ReadAll(QFINDTESTDATA("data/registrations.reg")));
    // The machine-wide file must not have leaked into the per-user store.
    QCOMPARE(run({QStringLiteral("list"), QStringLiteral("HKCU"), QStringLiteral("Software")}).exitCode, 1);
    QCOMPARE(run({QStringLiteral("get"), QStringLiteral("HKLM"),
                  QStringLiteral("software\\krsoftware\\module\\onlineupdatemodule\\lohn & gehalt"),
                  QStringLiteral("update_modulbezeichnung")})
                 .out,
             QByteArray("Lohn \"Plus\" für Büros\n"));
}

void TestVorlandtReg::exportImportExportKeepsBytes()
{
    const QString key = QStringLiteral("Software\\Rund");
    const QList<QStringList> values{
        {key, QStringLiteral("Mehrzeilig"), QStringLiteral("sz"), QStringLiteral("Zeile 1\nZeile \"2\"\\")},
        {key, QString(), QStringLiteral("sz"), QStringLiteral("Standard")},
        {key, QStringLiteral("Lang"), QStringLiteral("binary"), QString(QStringLiteral("ab,")).repeated(200)},
        {key, QStringLiteral("D"), QStringLiteral("dword"), QStringLiteral("-7")},
        {key, QStringLiteral("Q"), QStringLiteral("qword"), QStringLiteral("0xffffffffffffffff")},
        {key + QStringLiteral("\\Unter\\Tiefer"), QStringLiteral("E"), QStringLiteral("expand_sz"),
         QStringLiteral("%TEMP%")},
        {key + QStringLiteral("\\Leer"), QStringLiteral("Nichts"), QStringLiteral("binary"), QString()},
    };
    for (const QStringList& v : values)
        mustRun(QStringList{QStringLiteral("set"), QStringLiteral("HKCU")} + v);

    const QString first = FDir->filePath(QStringLiteral("first.reg"));
    const QString second = FDir->filePath(QStringLiteral("second.reg"));
    mustRun({QStringLiteral("export"), QStringLiteral("HKCU"), key, first});
    useStores(QStringLiteral("b"));
    mustRun({QStringLiteral("import"), first});
    mustRun({QStringLiteral("export"), QStringLiteral("HKCU"), key, second});

    const QByteArray bytes = ReadAll(first);
    QVERIFY(bytes.startsWith("\xFF\xFE"));
    QVERIFY(bytes.contains(QByteArray("\r\0\n\0", 4)));
    QCOMPARE(ReadAll(second), bytes);
    QCOMPARE(run({QStringLiteral("get"), QStringLiteral("HKCU"), key, QStringLiteral("Mehrzeilig")}).out,
             QByteArray("Zeile 1\nZeile \"2\"\\\n"));
}

void TestVorlandtReg::terminalExportIsUtf8AndImportsAlike()
{
    mustRun({QStringLiteral("import"), QFINDTESTDATA("data/registrations.reg")});
    const TRun shown =
        run({QStringLiteral("export"), QStringLiteral("HKLM"), QStringLiteral("Software\\KRSoftware")});
    QCOMPARE(shown.exitCode, 0);
    QVERIFY(shown.out.startsWith("Windows Registry Editor Version 5.00\n\n["));
    QVERIFY(!shown.out.contains('\r'));
    QVERIFY(shown.out.contains("für Büros"));

    useStores(QStringLiteral("b"));
    mustRun({QStringLiteral("import"), writeFile(QStringLiteral("shown.reg"), shown.out)});
    const QString exported = FDir->filePath(QStringLiteral("out.reg"));
    mustRun(
        {QStringLiteral("export"), QStringLiteral("HKLM"), QStringLiteral("Software\\KRSoftware"), exported});
    QCOMPARE(ReadAll(exported), ReadAll(QFINDTESTDATA("data/registrations.reg")));
}

void TestVorlandtReg::damagedImportChangesNothing_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");

    const QByteArray h = "Windows Registry Editor Version 5.00\n\n";
    QTest::newRow("bad value after changes to both roots")
        << h + "[-HKEY_CURRENT_USER\\Software\\A]\n[HKLM\\Software\\M]\n\"Neu\"=\"x\"\n"
               "[HKCU\\Software\\A]\n\"Alt\"=\"überschrieben\"\n\"Kaputt\"=dword:xyz\n"
        << 8;
    QTest::newRow("bad key after values") << h + "[HKCU\\Software\\A]\n\"Alt\"=-\n[HKEY_USERS\\x]\n" << 5;
    QTest::newRow("continuation never ends") << h + "[HKLM\\Software\\M]\n\"B\"=hex:01,\\\n02,\\" << 5;
    QTest::newRow("unsupported type") << h + "[HKCU\\Software\\A]\n\"Alt\"=hex(7):00,00\n" << 4;
    QTest::newRow("missing signature") << QByteArray("[HKCU\\Software\\A]\n\"Alt\"=-\n") << 1;
}

void TestVorlandtReg::damagedImportChangesNothing()
{
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    mustRun({QStringLiteral("set"), QStringLiteral("HKCU"), QStringLiteral("Software\\A"),
             QStringLiteral("Alt"), QStringLiteral("sz"), QStringLiteral("vorher")});
    mustRun({QStringLiteral("set"), QStringLiteral("HKLM"), QStringLiteral("Software\\M"),
             QStringLiteral("Alt"), QStringLiteral("dword"), QStringLiteral("1")});
    const QByteArray before = snapshot();

    const QString path = writeFile(QStringLiteral("kaputt.reg"), text);
    const TRun r = run({QStringLiteral("import"), path});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.startsWith(QStringLiteral("%1:%2: ").arg(path).arg(line).toUtf8()), r.err.constData());
    QCOMPARE(snapshot(), before);
}

void TestVorlandtReg::damagedUtf16FileNamesItsLine()
{
    const QString path = QFINDTESTDATA("data/damaged-line12.reg");
    const TRun r = run({QStringLiteral("import"), path});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.startsWith((path + QStringLiteral(":12: ")).toUtf8()), r.err.constData());
    QVERIFY2(r.err.contains("3x"), r.err.constData());
    QCOMPARE(run({QStringLiteral("list"), QStringLiteral("HKCU"), QStringLiteral("Software")}).exitCode, 1);
    QCOMPARE(run({QStringLiteral("list"), QStringLiteral("HKLM"), QStringLiteral("Software")}).exitCode, 1);
}

void TestVorlandtReg::refusedMachineStoreLeavesUserStoreUntouched()
{
    // A store file below a plain file can be created by nobody, not even root.
    const QString blocker = writeFile(QStringLiteral("kein-ordner"), "x");
    qputenv("VORLANDT_MACHINE_STORE", (blocker + QStringLiteral("/machine.db")).toUtf8());
    mustRun({QStringLiteral("set"), QStringLiteral("HKCU"), QStringLiteral("Software\\A"),
             QStringLiteral("Alt"), QStringLiteral("sz"), QStringLiteral("vorher")});
    const QByteArray before = snapshot();

    const QString path =
        writeFile(QStringLiteral("beide.reg"),
                  "Windows Registry Editor Version 5.00\n\n[HKCU\\Software\\A]\n\"Alt\"=\"neu\"\n"
                  "[HKLM\\Software\\KRSoftware\\Module\\OnlineUpdateModule\\X]\n\"Update_ID\"=dword:1\n");
    const TRun r = run({QStringLiteral("import"), path});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(
        r.err,
        QByteArray(
            "Unable to open key \"HKEY_LOCAL_MACHINE\\Software\\KRSoftware\\Module\\OnlineUpdateModule\\X\" "
            "for write\n"));
    QCOMPARE(snapshot(), before);
}

void TestVorlandtReg::exportOfMissingKeyFails()
{
    const QString target = FDir->filePath(QStringLiteral("nie.reg"));
    const TRun r =
        run({QStringLiteral("export"), QStringLiteral("HKCU"), QStringLiteral("Software\\Nirgends"), target});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err, QByteArray("Unable to open key \"HKEY_CURRENT_USER\\Software\\Nirgends\" for read\n"));
    QVERIFY(!QFile::exists(target));
}

void TestVorlandtReg::exportToUnwritableFileFails()
{
    mustRun({QStringLiteral("set"), QStringLiteral("HKCU"), QStringLiteral("Software\\A"),
             QStringLiteral("x"), QStringLiteral("sz"), QStringLiteral("y")});
    const QString blocker = writeFile(QStringLiteral("datei"), "bleibt");
    const TRun r = run({QStringLiteral("export"), QStringLiteral("HKCU"), QStringLiteral("Software\\A"),
                        blocker + QStringLiteral("/x.reg")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.startsWith((blocker + QStringLiteral("/x.reg: ")).toUtf8()), r.err.constData());
    QCOMPARE(ReadAll(blocker), QByteArray("bleibt"));
}

// One line per setting, in a fixed order: the policy over the user's value over the default, the
// machine's own values, and never a password.
void TestVorlandtReg::effectiveShowsEachSettingWithItsOrigin()
{
    const QByteArray reg =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Policies\\KRSoftware\\OnlineUpdate]\r\n"
        "\"IntervalInHours\"=dword:000000a8\r\n"
        "\"LocalSource\"=\"\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Policies\\KRSoftware\\OnlineUpdate\\Proxy]\r\n"
        "\"Password\"=\"pst\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\KRSoftware\\Module\\STD_EINSTELLUNGEN]\r\n"
        "\"Pfad\"=\"/opt/Suite \\\"neu\\\"/\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\KRSoftware\\OnlineUpdate]\r\n"
        "\"IntervalInHours\"=dword:00000018\r\n"
        "\"LocalSource\"=\"/home/anna/quelle/\"\r\n"
        "\"NewsAktiv\"=\"0\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\KRSoftware\\Standardeinstellungen\\Proxy]\r\n"
        "\"Password\"=\"\"\r\n"
        "\"Username\"=\"anna\"\r\n";
    mustRun({QStringLiteral("import"), writeFile(QStringLiteral("settings.reg"), reg)});

    const TRun r = run({QStringLiteral("effective")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray());
    const QByteArray expected =
        "Vorgabe    HKCU\\Software\\KRSoftware\\OnlineUpdate\\Disable = 0\n"
        "Richtlinie HKCU\\Software\\KRSoftware\\OnlineUpdate\\IntervalInHours = 168\n"
        "Richtlinie HKCU\\Software\\KRSoftware\\OnlineUpdate\\LocalSource = \"\"\n"
        "Benutzer   HKCU\\Software\\KRSoftware\\OnlineUpdate\\NewsAktiv = 0\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\OnlineUpdate\\UpdateURL = "
        "\"https://download.vorlandt.example/Desktop-Software/OnlineUpdates/Updates/\"\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\OnlineUpdate\\LastCheckDateTime = \"01.01.2012 00:00:00\"\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\OnlineUpdate\\LastLocalSource = \"\"\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\OnlineUpdate\\LastNewsID = -1\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\Standardeinstellungen\\Log\\Aktiv = 0\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\Standardeinstellungen\\Proxy\\Aktiv = 0\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\Standardeinstellungen\\Proxy\\Server = \"localhost\"\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\Standardeinstellungen\\Proxy\\Port = 80\n"
        "Benutzer   HKCU\\Software\\KRSoftware\\Standardeinstellungen\\Proxy\\Username = \"anna\"\n"
        "Richtlinie HKCU\\Software\\KRSoftware\\Standardeinstellungen\\Proxy\\Password = (gesetzt)\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\Standardeinstellungen\\Proxy\\UserAgent = "
        "\"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\"\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\Standardeinstellungen\\TrackingOk = 0\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\Standardeinstellungen\\TrackingHost = \"127.0.0.1\"\n"
        "Vorgabe    HKCU\\Software\\KRSoftware\\Standardeinstellungen\\TrackingLastQuery = \"01.01.1980\"\n"
        "Vorgabe    HKLM\\Software\\KRSoftware\\OnlineUpdate\\SignatureKeys = \"\"\n"
        "Rechner    HKLM\\Software\\KRSoftware\\Module\\STD_EINSTELLUNGEN\\Pfad = \"/opt/Suite "
        "\\\"neu\\\"/\"\n";
    QCOMPARE(r.out, expected);
    QVERIFY(!r.out.contains("pst"));

    const TRun extra = run({QStringLiteral("effective"), QStringLiteral("HKCU")});
    QCOMPARE(extra.exitCode, 2);
}

// What the administrator set but the program does not heed shows: a misspelt name, a value of
// the wrong kind, a policy file that another user could have written or that does not parse.
// Policy files are read in name order, a later one's value wins, and every file's value wins
// over the store's policy key; each value from a file names the file.
void TestVorlandtReg::effectiveChecksThePolicy_data()
{
    QTest::addColumn<QByteArray>("storePolicy");  // lines below the store's policy key
    QTest::addColumn<QStringList>("files");       // "name|mode|.reg lines" in the policy folder
    QTest::addColumn<QStringList>("lines");       // expected lines of the output; "@" is the folder
    QTest::addColumn<QStringList>("absent");      // parts the output must not have
    const QString interval = QStringLiteral("HKCU\\Software\\KRSoftware\\OnlineUpdate\\IntervalInHours = ");
    const QString policyKey = QStringLiteral("HKLM\\Software\\Policies\\KRSoftware\\OnlineUpdate\\");
    // clang-format off
    QTest::newRow("misspelt names") << QByteArray("\"IntervallInHours\"=dword:000000a8\r\n[@\\Proxy]\r\n\"Aktive\"=dword:00000001\r\n")
        << QStringList()
        << QStringList{"Vorgabe    " + interval + "48",
                       "Unbekannt  " + policyKey + "IntervallInHours  (unbekannt, wird nicht beachtet)",
                       "Unbekannt  " + policyKey + "Proxy\\Aktive  (unbekannt, wird nicht beachtet)"}
        << QStringList();
    QTest::newRow("a text where a number belongs") << QByteArray("\"IntervalInHours\"=\"eine Woche\"\r\n")
        << QStringList()
        << QStringList{"Richtlinie " + interval + "48  (ungültig, es gilt 48 (Text statt Zahl))"}
        << QStringList{"Unbekannt"};
    QTest::newRow("files in name order, over the store") << QByteArray("\"IntervalInHours\"=dword:00000018\r\n\"NewsAktiv\"=dword:00000001\r\n")
        << QStringList{"20-spaeter.reg|644|\"IntervalInHours\"=dword:00000048\r\n\"UpdateURL\"=\"http://spiegel.example/\"",
                       "10-firma.reg|644|\"IntervalInHours\"=dword:000000a8\r\n\"NewsAktiv\"=dword:00000000\r\n\"Intervall\"=dword:00000001",
                       "firma.reg.alt|644|\"Disable\"=dword:00000001"}
        << QStringList{"Richtlinie " + interval + "72  (aus @/20-spaeter.reg)",
                       "Richtlinie HKCU\\Software\\KRSoftware\\OnlineUpdate\\NewsAktiv = 0  (aus @/10-firma.reg)",
                       "Richtlinie HKCU\\Software\\KRSoftware\\OnlineUpdate\\UpdateURL = \"http://spiegel.example/\"  (aus @/20-spaeter.reg; unverschlüsselt (http))",
                       "Vorgabe    HKCU\\Software\\KRSoftware\\OnlineUpdate\\Disable = 0",
                       "Unbekannt  " + policyKey + "Intervall  (unbekannt, wird nicht beachtet; aus @/10-firma.reg)"}
        << QStringList();
    QTest::newRow("a file others may write") << QByteArray()
        << QStringList{"10-firma.reg|666|\"IntervalInHours\"=dword:000000a8", "20-gut.reg|644|\"Disable\"=dword:00000001"}
        << QStringList{"Vorgabe    " + interval + "48",
                       "Richtlinie HKCU\\Software\\KRSoftware\\OnlineUpdate\\Disable = 1  (aus @/20-gut.reg)",
                       "Abgelehnt  @/10-firma.reg  (andere Benutzer dürfen es ändern (Rechte 0666), wird nicht beachtet)"}
        << QStringList();
    QTest::newRow("a file that does not parse") << QByteArray()
        << QStringList{"10-firma.reg|644|\"IntervalInHours\"=dword:zwei"}
        << QStringList{"Vorgabe    " + interval + "48",
                       "Abgelehnt  @/10-firma.reg  (10-firma.reg:4: ungültige Hex-Ziffer in dword: zwei, wird nicht beachtet)"}
        << QStringList{"Richtlinie"};
    QTest::newRow("a file of another user") << QByteArray()
        << QStringList{"10-firma.reg|644|\"IntervalInHours\"=dword:000000a8|64001"}
        << QStringList{"Vorgabe    " + interval + "48",
                       "Abgelehnt  @/10-firma.reg  (gehört nicht root (UID 64001), wird nicht beachtet)"}
        << QStringList();
    // clang-format on
}

void TestVorlandtReg::effectiveChecksThePolicy()
{
    QFETCH(QByteArray, storePolicy);
    QFETCH(QStringList, files);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, absent);
    const QByteArray header = "Windows Registry Editor Version 5.00\r\n\r\n";
    const QByteArray key = "HKEY_LOCAL_MACHINE\\Software\\Policies\\KRSoftware\\OnlineUpdate";
    if (!storePolicy.isEmpty())
        mustRun({QStringLiteral("import"),
                 writeFile(QStringLiteral("policy.reg"),
                           header + "[" + key + "]\r\n" + storePolicy.replace("@", key))});
    const QString folder = FDir->filePath(QStringLiteral("a-policy.d"));
    QVERIFY(QDir().mkpath(folder));
    for (const QString& file : files) {
        const QStringList parts = file.split(u'|');
        const QString path = folder + u'/' + parts[0];
        QVERIFY(WriteFile(path, header + "[" + key + "]\r\n" + parts[2].toUtf8() + "\r\n"));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), parts[1].toUInt(nullptr, 8)), 0);
        if (parts.size() > 3) {
            if (::geteuid() != 0)
                QSKIP("giving a file to another user needs root");
            QCOMPARE(::chown(QFile::encodeName(path).constData(), parts[3].toUInt(), parts[3].toUInt()), 0);
        }
    }

    const TRun r = run({QStringLiteral("effective")});
    QCOMPARE(r.exitCode, 0);
    const QStringList output = QString::fromUtf8(r.out).split(u'\n');
    for (QString line : lines) {
        line.replace(u'@', folder);
        QVERIFY2(output.contains(line), qPrintable(line + QStringLiteral("\n---\n") + QString::fromUtf8(r.out)));
    }
    for (const QString& part : absent)
        QVERIFY2(!r.out.contains(part.toUtf8()), r.out.constData());
}

// Root's import killed mid-write: every other user keeps reading what was committed before (not
// the torn pages in the file), without touching the file or leaving a copy behind; only root's
// repair rolls the change back, and then everyone reads the file itself again.
void TestVorlandtReg::usersReadTheLastCommittedStateUntilRootRepairs()
{
    if (::geteuid() != 0)
        QSKIP("another user's view of root's store needs root (setpriv)");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("setpriv (util-linux) missing");
    const QStringList exportArgs{
        QStringLiteral("export"), QStringLiteral("HKLM"), QStringLiteral("Software"), {}};
    QByteArray committed;
    QCOMPARE(interruptedMachineStore(&committed), QString());
    QVERIFY(committed.contains("Lager"));
    const QString store = FDir->filePath(QStringLiteral("a-machine.db"));
    const QByteArray tornFile = ReadAll(store);
    const QByteArray journal = ReadAll(store + QStringLiteral("-journal"));

    TRun user = runAsUser(
        {QStringLiteral("get"), QStringLiteral("HKLM"), RegistrationKey, QStringLiteral("Update_ID")});
    QVERIFY2(user.exitCode == 0, user.err.constData());
    QCOMPARE(user.out, QByteArray("12\n"));
    user = runAsUser(exportArgs);
    QVERIFY2(user.exitCode == 0, user.err.constData());
    QCOMPARE(user.out, committed);
    QCOMPARE(ReadAll(store), tornFile);
    QCOMPARE(ReadAll(store + QStringLiteral("-journal")), journal);
    QCOMPARE(QDir(FDir->filePath(QStringLiteral("user-tmp")))
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());

    user = runAsUser({QStringLiteral("repair")});
    QCOMPARE(user.exitCode, 1);
    QVERIFY2(user.err.contains("als root aufrufen"), user.err.constData());
    QCOMPARE(ReadAll(store), tornFile);

    TRun admin = run({QStringLiteral("repair")});
    QVERIFY2(admin.exitCode == 0, admin.err.constData());
    QCOMPARE(admin.out,
             (store + QStringLiteral(": unterbrochene Änderung zurückgenommen, der zuletzt vollständig "
                                     "gespeicherte Stand gilt; Prüfung ohne Fehler\n"))
                 .toUtf8());
    QVERIFY(!QFile::exists(store + QStringLiteral("-journal")));
    user = runAsUser(exportArgs);
    QCOMPARE(user.out, committed);
    admin = run({QStringLiteral("repair"), QStringLiteral("hklm")});
    QCOMPARE(admin.out, (store + QStringLiteral(": Prüfung ohne Fehler\n")).toUtf8());
}

// When not even a copy can be read (here the journal is unreadable for the user), the failure says
// what happened and what to do, and root's repair ends it.
void TestVorlandtReg::unreadableUnfinishedChangeNamesTheRepair()
{
    if (::geteuid() != 0)
        QSKIP("another user's view of root's store needs root (setpriv)");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("setpriv (util-linux) missing");
    QCOMPARE(interruptedMachineStore(), QString());
    const QString store = FDir->filePath(QStringLiteral("a-machine.db"));
    QVERIFY(::chmod(QFile::encodeName(store + QStringLiteral("-journal")).constData(), 0600) == 0);
    const QStringList listArgs{QStringLiteral("list"), QStringLiteral("HKLM"),
                               QStringLiteral("Software\\KRSoftware\\Module\\OnlineUpdateModule")};
    TRun user = runAsUser(listArgs);
    QCOMPARE(user.exitCode, 1);
    QCOMPARE(user.err,
             (QStringLiteral("Unable to open key \"HKEY_LOCAL_MACHINE\\Software\\KRSoftware\\Module\\"
                             "OnlineUpdateModule\" for read\nDer maschinenweite Einstellungsspeicher \"") +
              store +
              QStringLiteral("\" wurde durch eine unterbrochene Änderung unvollständig hinterlassen und "
                             "kann nicht gelesen werden. Ein Administrator repariert ihn mit dem Befehl "
                             "\"vorlandt-reg repair\".\n"))
                 .toUtf8());

    QCOMPARE(run({QStringLiteral("repair")}).exitCode, 0);
    user = runAsUser(listArgs);
    QVERIFY2(user.exitCode == 0, user.err.constData());
    QCOMPARE(user.out, QByteArray("Kasse\nLager\n"));
}

void TestVorlandtReg::repairReportsWhatItFound_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");

    QTest::newRow("no store") << "missing" << 0 << ": nicht vorhanden, nichts zu reparieren";
    QTest::newRow("sound store") << "sound" << 0 << ": Prüfung ohne Fehler";
    QTest::newRow("not a database") << "garbage" << 1 << ": beschädigt:\nfile is not a database";
    QTest::newRow("damaged page") << "damaged" << 1 << ": beschädigt:\n";
}

void TestVorlandtReg::repairReportsWhatItFound()
{
    QFETCH(QString, setup);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    const QString store = FDir->filePath(QStringLiteral("a-machine.db"));
    if (setup != u"missing") {
        // Enough keys for a file of several pages.
        QByteArray reg("Windows Registry Editor Version 5.00\n");
        for (int i = 0; i < 200; ++i)
            reg += "\n[HKLM\\Software\\Modul" + QByteArray::number(i) + "]\n\"Text\"=\"" +
                   QByteArray(100, 'x') + "\"\n";
        mustRun({QStringLiteral("import"), writeFile(QStringLiteral("viele.reg"), reg)});
    }
    if (setup == u"garbage") {
        writeFile(QStringLiteral("a-machine.db"), QByteArray(8192, 'G'));
    } else if (setup == u"damaged") {
        // A page in the middle of the file overwritten: the header is fine, a b-tree is not.
        QFile file(store);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.size() > 4 * 4096);
        QVERIFY(file.seek(3 * 4096));
        QVERIFY(file.write(QByteArray(4096, '\xA5')) == 4096);
    }
    const TRun r = run({QStringLiteral("repair"), QStringLiteral("HKLM")});
    QCOMPARE(r.exitCode, exitCode);
    const QByteArray& text = exitCode == 0 ? r.out : r.err;
    QVERIFY2(text.startsWith((store + said).toUtf8()), text.constData());
    QVERIFY(!QFile::exists(store) || setup != u"missing");
}

QTEST_GUILESS_MAIN(TestVorlandtReg)
#include "tst_vorlandtReg.moc"
