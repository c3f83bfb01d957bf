// The .reg reader and writer on their own: what each kind of line turns into, which damage is
// reported on which line, and that written text reads back to the very same values.
#include "core/platform/store/RegFile.h"

#include "core/platform/VorlandtError.h"

#include <QtEndian>
#include <QtTest>

using platform::TNamedValue;
using platform::TRawValue;
using platform::TStoreOp;
using platform::TValueKind;

namespace {

const QString Header = QStringLiteral("Windows Registry Editor Version 5.00\n\n");

QByteArray Utf16Le(const QString& text, bool withBom = true)
{
    QByteArray bytes = withBom ? QByteArray("\xFF\xFE", 2) : QByteArray();
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

QByteArray Utf16LeWithNul(const QString& text)
{
    return Utf16Le(text, false) + QByteArray(2, '\0');
}

QByteArray Bytes(const char* hex)
{
    return QByteArray::fromHex(hex);
}

TRawValue Raw(TValueKind kind, const QByteArray& data)
{
    return TRawValue{kind, data};
}

// "sz:Text" for ordinary strings, "<kind number>:<hex>" for everything else, so that a table
// row shows exactly which bytes reach the store.
QString ValueText(const TRawValue& value)
{
    const QByteArray& d = value.data;
    if (value.kind == TValueKind::String && d.size() >= 2 && d.size() % 2 == 0 &&
        d.endsWith(QByteArray(2, '\0'))) {
        QString text;
        for (qsizetype i = 0; i + 2 < d.size(); i += 2)
            text.append(QChar(qFromLittleEndian<quint16>(d.constData() + i)));
        return QStringLiteral("sz:") + text;
    }
    return QString::number(int(value.kind)) + u':' + QString::fromLatin1(d.toHex());
}

QStringList Describe(const regfile::TRegImport& parsed)
{
    QStringList lines;
    const auto add = [&](const char* root, const QList<TStoreOp>& ops) {
        for (const TStoreOp& op : ops) {
            QString line = QLatin1StringView(root) + u' ';
            switch (op.type) {
                case TStoreOp::Type::CreateKey:
                    line += QStringLiteral("key ") + op.key;
                    break;
                case TStoreOp::Type::DeleteKey:
                    line += QStringLiteral("delete-key ") + op.key;
                    break;
                case TStoreOp::Type::DeleteValue:
                    line += QStringLiteral("delete ") + op.key + u'|' + op.name;
                    break;
                case TStoreOp::Type::SetValue:
                    line += QStringLiteral("set ") + op.key + u'|' + op.name + u'|' + ValueText(op.value);
                    break;
            }
            lines.append(line);
        }
    };
    add("HKCU", parsed.userOps);
    add("HKLM", parsed.machineOps);
    return lines;
}

}  // namespace

Q_DECLARE_METATYPE(platform::TRawValue)

class TestRegFile : public QObject {
    Q_OBJECT

private slots:
    void parsesEachKindOfLine_data();
    void parsesEachKindOfLine();
    void readsEveryEncodingAlike_data();
    void readsEveryEncodingAlike();
    void reportsDamageWithFileAndLine_data();
    void reportsDamageWithFileAndLine();
    void rejectsTruncatedUtf16();
    void parsesHexByteLists_data();
    void parsesHexByteLists();
    void rootNamesIgnoreCase_data();
    void rootNamesIgnoreCase();
    void writesRegeditLayout();
    void wrapsLongHexListsAtEightyColumns();
    void writtenValuesReadBackUnchanged_data();
    void writtenValuesReadBackUnchanged();
    void refusesNamesWithLineBreaks();
    void encodesFilesAsUtf16WithCrLf();
    void hugeInputStaysLinear();
};

void TestRegFile::parsesEachKindOfLine_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("string") << "[HKEY_CURRENT_USER\\Software\\A]\n\"Name\"=\"Wert\"\n"
                            << QStringList{"HKCU key Software\\A", "HKCU set Software\\A|Name|sz:Wert"};
    QTest::newRow("empty string") << "[HKCU\\A]\n\"Leer\"=\"\"\n"
                                  << QStringList{"HKCU key A", "HKCU set A|Leer|sz:"};
    QTest::newRow("default value") << "[HKCU\\A]\n@=\"Standard\"\n@=dword:1\n"
                                   << QStringList{"HKCU key A", "HKCU set A||sz:Standard",
                                                  "HKCU set A||4:01000000"};
    QTest::newRow("escapes in name and text")
        << "[HKCU\\A]\n\"a\\\\b\\\"c\"=\"C:\\\\Programme\\\\\\\"x\\\"\"\n"
        << QStringList{"HKCU key A", "HKCU set A|a\\b\"c|sz:C:\\Programme\\\"x\""};
    QTest::newRow("brackets and equals in names")
        << "[HKCU\\A]\n\"x]=\\\"y\"=\"=\\\"\"\n\"@\"=\"kein Standardwert\"\n"
        << QStringList{"HKCU key A", "HKCU set A|x]=\"y|sz:=\"", "HKCU set A|@|sz:kein Standardwert"};
    QTest::newRow("dword") << "[HKCU\\A]\n\"D\"=dword:0000002a\n\"E\"=dword:FFFFFFFF\n\"F\"=dword:7\n"
                           << QStringList{"HKCU key A", "HKCU set A|D|4:2a000000", "HKCU set A|E|4:ffffffff",
                                          "HKCU set A|F|4:07000000"};
    QTest::newRow("qword") << "[HKCU\\A]\n\"Q\"=hex(b):2a,00,00,00,00,00,00,80\n"
                           << QStringList{"HKCU key A", "HKCU set A|Q|11:2a00000000000080"};
    QTest::newRow("expandable string") << "[HKCU\\A]\n\"P\"=hex(2):25,00,54,00,25,00,00,00\n"
                                       << QStringList{"HKCU key A", "HKCU set A|P|2:2500540025000000"};
    QTest::newRow("binary forms") << "[HKCU\\A]\n\"B\"=hex:01,ff\n\"C\"=hex(3):0,A,f\n\"E\"=hex:\n"
                                  << QStringList{"HKCU key A", "HKCU set A|B|3:01ff", "HKCU set A|C|3:000a0f",
                                                 "HKCU set A|E|3:"};
    QTest::newRow("hex string and hex dword")
        << "[HKCU\\A]\n\"S\"=hex(1):41,00,00,00\n\"D\"=hex(4):2a,0,0,0\n"
        << QStringList{"HKCU key A", "HKCU set A|S|sz:A", "HKCU set A|D|4:2a000000"};
    QTest::newRow("continued hex list")
        << "[HKCU\\A]\n\"B\"=hex:01,02,\\\n  03,04,\\\r\n\t05\n\"C\"=dword:1\n"
        << QStringList{"HKCU key A", "HKCU set A|B|3:0102030405", "HKCU set A|C|4:01000000"};
    QTest::newRow("continuation of an empty line ends the list")
        << "[HKCU\\A]\n\"B\"=hex:01,\\\n\n\"C\"=\"x\"\n"
        << QStringList{"HKCU key A", "HKCU set A|B|3:01", "HKCU set A|C|sz:x"};
    QTest::newRow("value deletion") << "[HKCU\\A]\n\"Alt\"=-\n@=-\n"
                                    << QStringList{"HKCU key A", "HKCU delete A|Alt", "HKCU delete A|"};
    QTest::newRow("key deletion then new key")
        << "[-HKEY_LOCAL_MACHINE\\Software\\Alt]\n[HKLM\\Software\\Neu]\n\"X\"=\"1\"\n"
        << QStringList{"HKLM delete-key Software\\Alt", "HKLM key Software\\Neu",
                       "HKLM set Software\\Neu|X|sz:1"};
    QTest::newRow("comments, blanks, indentation")
        << "; Kommentar\n\n   [HKCU\\A]   \n\t; eingerückt\n  \"N\" = \"v\"  \n\n"
        << QStringList{"HKCU key A", "HKCU set A|N|sz:v"};
    QTest::newRow("roots go to their own batch, order kept")
        << "[HKLM\\M]\n\"a\"=\"1\"\n[HKCU\\U]\n\"b\"=\"2\"\n[HKLM\\M]\n\"c\"=\"3\"\n"
        << QStringList{"HKCU key U",        "HKCU set U|b|sz:2", "HKLM key M",
                       "HKLM set M|a|sz:1", "HKLM key M",        "HKLM set M|c|sz:3"};
    QTest::newRow("root names in any case, trailing backslash")
        << "[hkey_current_user\\Software\\A\\]\n[hKcU]\n\"R\"=\"x\"\n"
        << QStringList{"HKCU key Software\\A", "HKCU key ", "HKCU set |R|sz:x"};
    QTest::newRow("non-ASCII text") << "[HKCU\\Software\\Größe]\n\"Straße\"=\"Übergrößen €\"\n"
                                    << QStringList{"HKCU key Software\\Größe",
                                                   "HKCU set Software\\Größe|Straße|sz:Übergrößen €"};
    QTest::newRow("only the header") << "" << QStringList{};
}

void TestRegFile::parsesEachKindOfLine()
{
    QFETCH(QString, body);
    QFETCH(QStringList, expected);
    QCOMPARE(Describe(regfile::ParseRegFile((Header + body).toUtf8(), QStringLiteral("t.reg"))), expected);
}

void TestRegFile::readsEveryEncodingAlike_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QString text = QStringLiteral(
        "Windows Registry Editor Version 5.00\r\n\r\n[HKCU\\Software\\Möbel]\r\n\"Größe\"=\"Übermaß\"\r\n");
    QTest::newRow("UTF-16 LE with BOM") << Utf16Le(text);
    QTest::newRow("UTF-16 BE with BOM") << [&] {
        QByteArray le = Utf16Le(text);
        for (qsizetype i = 0; i < le.size(); i += 2)
            std::swap(le[i], le[i + 1]);
        return le;
    }();
    QTest::newRow("UTF-8 with BOM") << "\xEF\xBB\xBF" + text.toUtf8();
    QTest::newRow("UTF-8 without BOM, LF")
        << QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).toUtf8();
    QTest::newRow("REGEDIT4 in Windows-1252") << QByteArray(
        "REGEDIT4\r\n\r\n[HKCU\\Software\\M\xF6"
        "bel]\r\n\"Gr\xF6\xDF"
        "e\"=\"\xDC"
        "berma\xDF\"\r\n");
}

void TestRegFile::readsEveryEncodingAlike()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(Describe(regfile::ParseRegFile(bytes, QStringLiteral("t.reg"))),
             (QStringList{"HKCU key Software\\Möbel", "HKCU set Software\\Möbel|Größe|sz:Übermaß"}));
}

void TestRegFile::reportsDamageWithFileAndLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("fragment");

    const QString h = Header;
    QTest::newRow("empty file") << "" << 1 << "leer";
    QTest::newRow("no signature") << "[HKCU\\A]\n\"a\"=\"b\"\n" << 1 << "erwartet";
    QTest::newRow("wrong signature after blanks") << "\n\nWindows Registry Editor Version 4.00\n"
                                                  << 3 << "erwartet";
    QTest::newRow("comment before signature") << "; x\n" + h << 1 << "erwartet";
    QTest::newRow("value before any key") << h + "\"a\"=\"b\"\n" << 3 << "vor der ersten Schlüsselzeile";
    QTest::newRow("value after key deletion") << h + "[-HKCU\\A]\n\"a\"=\"b\"\n" << 4 << "Schlüssellöschung";
    QTest::newRow("unknown root") << h + "[HKEY_CLASSES_ROOT\\A]\n" << 3 << "unbekannter Hauptschlüssel";
    QTest::newRow("missing bracket") << h + "[HKCU\\A\n" << 3 << "\"]\" fehlt";
    QTest::newRow("empty key name") << h + "[HKCU\\A\\\\B]\n" << 3 << "leerer Schlüsselname";
    QTest::newRow("two trailing backslashes") << h + "[HKCU\\A\\\\]\n" << 3 << "leerer Schlüsselname";
    QTest::newRow("deleting a whole root") << h + "[-HKEY_CURRENT_USER]\n" << 3 << "ganzer Hauptschlüssel";
    QTest::newRow("garbage line") << h + "[HKCU\\A]\n\"a\"=\"b\"\nfoo=bar\n" << 5 << "ungültige Zeile";
    QTest::newRow("unterminated name") << h + "[HKCU\\A]\n\"abc\n" << 4 << "ohne schließendes";
    QTest::newRow("unterminated text") << h + "[HKCU\\A]\n\"a\"=\"abc\n" << 4 << "ohne schließendes";
    QTest::newRow("unknown escape") << h + "[HKCU\\A]\n\"a\"=\"C:\\Programme\"\n" << 4 << "Escape";
    QTest::newRow("text followed by more") << h + "[HKCU\\A]\n\"a\"=\"x\" \"y\"\n" << 4 << "nach dem Text";
    QTest::newRow("missing equals") << h + "[HKCU\\A]\n\"a\" \"b\"\n" << 4 << "\"=\" fehlt";
    QTest::newRow("NUL in value name") << h + "[HKCU\\A]\n\"a" + QChar(0) + "b\"=\"x\"\n" << 4 << "NUL";
    QTest::newRow("dword too long") << h + "[HKCU\\A]\n\"d\"=dword:100000000\n" << 4 << "1 bis 8";
    QTest::newRow("dword empty") << h + "[HKCU\\A]\n\"d\"=dword:\n" << 4 << "1 bis 8";
    QTest::newRow("dword not hex") << h + "[HKCU\\A]\n\"d\"=dword:0000002g\n" << 4 << "Hex-Ziffer";
    QTest::newRow("unknown data") << h + "[HKCU\\A]\n\"d\"=42\n" << 4 << "unbekannte Wertangabe";
    QTest::newRow("hex byte with three digits") << h + "[HKCU\\A]\n\"b\"=hex:01,123\n" << 4 << "Hex-Byte";
    QTest::newRow("hex byte not hex") << h + "[HKCU\\A]\n\"b\"=hex:0g\n" << 4 << "Hex-Byte";
    QTest::newRow("two commas") << h + "[HKCU\\A]\n\"b\"=hex:01,,02\n" << 4 << "Hex-Byte";
    QTest::newRow("hex without colon") << h + "[HKCU\\A]\n\"b\"=hex 01\n" << 4 << "\":\" fehlt";
    QTest::newRow("hex type not closed") << h + "[HKCU\\A]\n\"b\"=hex(2:00\n" << 4 << "Werttyp";
    QTest::newRow("multi-string type") << h + "[HKCU\\A]\n\"m\"=hex(7):41,00,00,00,00,00\n" << 4 << "hex(7)";
    QTest::newRow("none type") << h + "[HKCU\\A]\n\"n\"=hex(0):\n" << 4 << "hex(0)";
    QTest::newRow("huge type number") << h + "[HKCU\\A]\n\"n\"=hex(123456789):\n" << 4 << "Werttyp";
    QTest::newRow("hex dword of three bytes") << h + "[HKCU\\A]\n\"d\"=hex(4):01,02,03\n" << 4 << "genau 4";
    QTest::newRow("hex qword of four bytes") << h + "[HKCU\\A]\n\"q\"=hex(b):01,02,03,04\n" << 4 << "genau 8";
    QTest::newRow("odd UTF-16 in expandable string") << h + "[HKCU\\A]\n\"e\"=hex(2):41\n" << 4 << "gerade";
    QTest::newRow("bad byte on a continuation line")
        << h + "[HKCU\\A]\n\"b\"=hex:01,02,\\\n  03,04,\\\n  05,zz\n"
        << 6 << "Hex-Byte";
    QTest::newRow("continuation at end of file")
        << h + "[HKCU\\A]\n\"b\"=hex:01,02,\\\n  03,\\" << 5 << "Fortsetzungszeile fehlt";
    QTest::newRow("error after valid keys of both roots")
        << h + "[HKLM\\M]\n\"a\"=\"1\"\n[HKCU\\U]\n\"b\"=\"2\"\n\"c\"=dword:xyz\n"
        << 7 << "Hex-Ziffer";
}

void TestRegFile::reportsDamageWithFileAndLine()
{
    QFETCH(QString, text);
    QFETCH(int, line);
    QFETCH(QString, fragment);
    try {
        regfile::ParseRegFile(text.toUtf8(), QStringLiteral("/tmp/kaputt.reg"));
        QFAIL("damaged file was accepted");
    } catch (const EVorlandtError& error) {
        const QString prefix = QStringLiteral("/tmp/kaputt.reg:%1: ").arg(line);
        QVERIFY2(error.message().startsWith(prefix), qPrintable(error.message()));
        QVERIFY2(error.message().contains(fragment), qPrintable(error.message()));
    }
}

void TestRegFile::rejectsTruncatedUtf16()
{
    const QByteArray bytes = Utf16Le(Header + "[HKCU\\A]\n").chopped(1);
    QVERIFY_THROWS_EXCEPTION(EVorlandtError, regfile::ParseRegFile(bytes, QStringLiteral("t.reg")));
}

void TestRegFile::parsesHexByteLists_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << "" << true << QByteArray();
    QTest::newRow("list") << "01,ff,00" << true << Bytes("01ff00");
    QTest::newRow("single digits, blanks, trailing comma") << " 1 , F ,\t0a," << true << Bytes("010f0a");
    QTest::newRow("three digits") << "100" << false << QByteArray();
    QTest::newRow("no comma") << "01 02" << false << QByteArray();
    QTest::newRow("leading comma") << ",01" << false << QByteArray();
    QTest::newRow("0x prefix") << "0x01" << false << QByteArray();
}

void TestRegFile::parsesHexByteLists()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QByteArray, bytes);
    const auto parsed = regfile::ParseHexBytes(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, bytes);
}

void TestRegFile::rootNamesIgnoreCase_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("root");  // -1: not a root
    QTest::newRow("HKLM") << "HKLM" << int(HKEY_LOCAL_MACHINE);
    QTest::newRow("hkey_local_machine") << "hkey_local_machine" << int(HKEY_LOCAL_MACHINE);
    QTest::newRow("hkcu") << "hkcu" << int(HKEY_CURRENT_USER);
    QTest::newRow("HKEY_CURRENT_USER") << "HKEY_CURRENT_USER" << int(HKEY_CURRENT_USER);
    QTest::newRow("HKCR") << "HKCR" << -1;
    QTest::newRow("prefix only") << "HKEY_CURRENT" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestRegFile::rootNamesIgnoreCase()
{
    QFETCH(QString, name);
    QFETCH(int, root);
    const auto parsed = regfile::RootFromName(name);
    QCOMPARE(parsed ? int(*parsed) : -1, root);
}

void TestRegFile::writesRegeditLayout()
{
    const QList<regfile::TRegKey> keys{
        {QStringLiteral("Software\\A"),
         {{QString(), TRawValue{TValueKind::String, Utf16LeWithNul(QStringLiteral("Standard"))}},
          {QStringLiteral("Pfad \"x\""),
           TRawValue{TValueKind::String, Utf16LeWithNul(QStringLiteral("C:\\Temp\\"))}},
          {QStringLiteral("D"), Raw(TValueKind::DWord, Bytes("2a000000"))},
          {QStringLiteral("Q"), Raw(TValueKind::QWord, Bytes("ffffffffffffffff"))},
          {QStringLiteral("E"), Raw(TValueKind::ExpandString, Utf16LeWithNul(QStringLiteral("%T%")))},
          {QStringLiteral("B"), Raw(TValueKind::Binary, Bytes("01ff"))},
          {QStringLiteral("Leer"), Raw(TValueKind::Binary, QByteArray())}}},
        {QStringLiteral("Software\\A\\Kind"), {}},
    };
    QCOMPARE(regfile::FormatRegText(HKEY_LOCAL_MACHINE, keys),
             QStringLiteral("Windows Registry Editor Version 5.00\n"
                            "\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\A]\n"
                            "@=\"Standard\"\n"
                            "\"Pfad \\\"x\\\"\"=\"C:\\\\Temp\\\\\"\n"
                            "\"D\"=dword:0000002a\n"
                            "\"Q\"=hex(b):ff,ff,ff,ff,ff,ff,ff,ff\n"
                            "\"E\"=hex(2):25,00,54,00,25,00,00,00\n"
                            "\"B\"=hex:01,ff\n"
                            "\"Leer\"=hex:\n"
                            "\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\A\\Kind]\n"
                            "\n"));
    QCOMPARE(regfile::FormatRegText(HKEY_CURRENT_USER, {{QString(), {}}}),
             QStringLiteral("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER]\n\n"));
}

void TestRegFile::wrapsLongHexListsAtEightyColumns()
{
    QByteArray data(300, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i);
    const QString text = regfile::FormatRegText(
        HKEY_CURRENT_USER,
        {{QStringLiteral("A"), {{QStringLiteral("Blob"), Raw(TValueKind::Binary, data)}}}});
    const QStringList lines = text.split(u'\n');
    const qsizetype first = lines.indexOf(QRegularExpression(QStringLiteral("^\"Blob\"=hex:.*")));
    QVERIFY(first > 0);
    qsizetype last = first;
    while (lines[last].endsWith(u'\\'))
        ++last;
    QVERIFY(last - first >= 3);
    for (qsizetype i = first; i <= last; ++i) {
        QVERIFY2(lines[i].size() <= 80, qPrintable(lines[i]));
        if (i > first)
            QVERIFY2(lines[i].startsWith(QStringLiteral("  ")) && lines[i][2] != u' ', qPrintable(lines[i]));
        if (i < last) {
            QVERIFY2(lines[i].endsWith(QStringLiteral(",\\")), qPrintable(lines[i]));
            // Each line is filled: one more byte would have crossed the limit.
            QVERIFY2(lines[i].size() + 3 > 80, qPrintable(lines[i]));
        }
    }
}

void TestRegFile::writtenValuesReadBackUnchanged_data()
{
    QTest::addColumn<QString>("keyPath");
    QTest::addColumn<QString>("name");
    QTest::addColumn<TRawValue>("value");

    const auto sz = [](const QString& text) { return TRawValue{TValueKind::String, Utf16LeWithNul(text)}; };
    QTest::newRow("plain text") << "Software\\A"
                                << "Name" << sz(QStringLiteral("Wert"));
    QTest::newRow("empty text") << "A"
                                << "Leer" << sz(QString());
    QTest::newRow("backslashes and quotes") << "A"
                                            << "\\\"\\" << sz(QStringLiteral("\"C:\\\\\"\\"));
    QTest::newRow("default value") << "A"
                                   << "" << sz(QStringLiteral("x"));
    QTest::newRow("name @ is not the default") << "A"
                                               << "@" << sz(QStringLiteral("x"));
    QTest::newRow("line breaks in text") << "A"
                                         << "T" << sz(QStringLiteral("Zeile 1\r\nZeile 2\n"));
    QTest::newRow("text without terminating NUL") << "A"
                                                  << "T" << Raw(TValueKind::String, Bytes("4100"));
    QTest::newRow("text with inner NUL") << "A"
                                         << "T" << Raw(TValueKind::String, Bytes("4100000042000000"));
    QTest::newRow("lone surrogate in text") << "A"
                                            << "T" << Raw(TValueKind::String, Bytes("00d80000"));
    QTest::newRow("non-ASCII") << "Software\\Größe"
                               << "Straße" << sz(QStringLiteral("Übermaß 😀"));
    QTest::newRow("dword") << "A"
                           << "D" << Raw(TValueKind::DWord, Bytes("feffffff"));
    QTest::newRow("qword") << "A"
                           << "Q" << Raw(TValueKind::QWord, Bytes("0102030405060708"));
    QTest::newRow("expandable") << "A"
                                << "E"
                                << Raw(TValueKind::ExpandString, Utf16LeWithNul(QStringLiteral("%PATH%;x")));
    QTest::newRow("empty binary") << "A"
                                  << "B" << Raw(TValueKind::Binary, QByteArray());
    QTest::newRow("long binary") << "A"
                                 << "B" << Raw(TValueKind::Binary, QByteArray(1000, '\xab'));
    QTest::newRow("long name and binary")
        << "A" << QString(120, u'n') << Raw(TValueKind::Binary, QByteArray(90, '\1'));
    QTest::newRow("brackets in key path") << "A\\[x]\\]"
                                          << "v" << sz(QStringLiteral("]"));
}

void TestRegFile::writtenValuesReadBackUnchanged()
{
    QFETCH(QString, keyPath);
    QFETCH(QString, name);
    QFETCH(TRawValue, value);
    const QString text = regfile::FormatRegText(HKEY_LOCAL_MACHINE, {{keyPath, {{name, value}}}});
    for (const QByteArray& bytes : {regfile::EncodeForFile(text), regfile::EncodeForTerminal(text)}) {
        const regfile::TRegImport parsed = regfile::ParseRegFile(bytes, QStringLiteral("t.reg"));
        QVERIFY(parsed.userOps.isEmpty());
        QCOMPARE(parsed.machineOps.size(), 2);
        QCOMPARE(parsed.machineOps[0].type, TStoreOp::Type::CreateKey);
        QCOMPARE(parsed.machineOps[0].key, keyPath);
        const TStoreOp& op = parsed.machineOps[1];
        QCOMPARE(op.type, TStoreOp::Type::SetValue);
        QCOMPARE(op.key, keyPath);
        QCOMPARE(op.name, name);
        QCOMPARE(int(op.value.kind), int(value.kind));
        QCOMPARE(op.value.data.toHex(), value.data.toHex());
    }
}

void TestRegFile::refusesNamesWithLineBreaks()
{
    const TRawValue v{TValueKind::DWord, Bytes("00000000")};
    QVERIFY_THROWS_EXCEPTION(
        EVorlandtError,
        regfile::FormatRegText(HKEY_CURRENT_USER, {{QStringLiteral("A"), {{QStringLiteral("a\nb"), v}}}}));
    QVERIFY_THROWS_EXCEPTION(EVorlandtError,
                             regfile::FormatRegText(HKEY_CURRENT_USER, {{QStringLiteral("A\rB"), {}}}));
}

void TestRegFile::encodesFilesAsUtf16WithCrLf()
{
    QCOMPARE(regfile::EncodeForFile(QStringLiteral("a\nä")).toHex(), QByteArray("fffe61000d000a00e400"));
    QCOMPARE(regfile::EncodeForTerminal(QStringLiteral("a\nä")), QByteArray("a\n\xC3\xA4"));
}

// Hostile files must not make the parser quadratic; the test's timeout is the guard.
void TestRegFile::hugeInputStaysLinear()
{
    QByteArray text = (Header + "[HKCU\\A]\n\"B\"=hex:").toUtf8();
    constexpr int ContinuationLines = 200000;
    text.reserve(text.size() + ContinuationLines * 8 + 3000000);
    for (int i = 0; i < ContinuationLines; ++i)
        text.append("  ab,\\\n");
    text.append("cd\n\"C\"=hex:");
    for (int i = 0; i < 1000000; ++i)
        text.append("01,");
    text.append('\n');
    const regfile::TRegImport parsed = regfile::ParseRegFile(text, QStringLiteral("t.reg"));
    QCOMPARE(parsed.userOps.size(), 3);
    QCOMPARE(parsed.userOps[1].value.data.size(), ContinuationLines + 1);
    QCOMPARE(parsed.userOps[2].value.data.size(), 1000000);
}

QTEST_APPLESS_MAIN(TestRegFile)
#include "tst_regFile.moc"
