// The update checker: how descriptors and the news file are fetched (local source folder and a
// loopback HTTPS server), how a descriptor is read into the catalog, which descriptors are
// refused and with which warning, the interval gate, and that damaged input ends in a result.
#include "core/catalog/Updates.h"
#include "core/platform/Clock.h"
#include "core/platform/text/TextCodec.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/text/RegionalFormat.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/UpdateCheck.h"
#include "support/FrontEndFixture.h"
#include "support/PrivateStores.h"
#include "support/ScriptedFrontEnd.h"
#include "support/TestClock.h"
#include "support/TestFiles.h"
#include "support/TestFormatSettings.h"
#include "support/TestSigningKey.h"

#include "support/net/TestHttpsServer.h"
#include "support/net/TestPki.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <climits>
#include <memory>

#include <sys/stat.h>

namespace {

const QString ModulKey = QStringLiteral("Software\\Vorlandt\\Module\\Kasse");
const QString DescriptorName = QStringLiteral("update_12_3.xml");
const QString RootAttributes = QStringLiteral(
    "verzeichnis_reg_rootkey=\"{HKLM}\" verzeichnis_reg_key=\"Software\\Vorlandt\\Module\\Kasse\" "
    "verzeichnis_reg_name=\"Pfad\"");

QByteArray Fixture(const QString& name)
{
    QFile file(QFINDTESTDATA(QStringLiteral("data/") + name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("fixture %s missing", qPrintable(name));
    return file.readAll();
}

QStringList LogLines()
{
    return LogBuffer().value_or(QStringList());
}

QStringList LogLinesStartingWith(const QString& prefix)
{
    QStringList lines;
    for (const QString& line : LogLines()) {
        if (line.startsWith(prefix))
            lines.append(line);
    }
    return lines;
}

// "1.0 2.3" → the sorted keys of module 12.
QList<TUpdateIdentifier> Keys(const QString& text)
{
    QList<TUpdateIdentifier> keys;
    for (const QString& pair : text.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList parts = pair.split(u'.');
        keys.append({12, parts.value(0).toInt(), parts.value(1).toInt()});
    }
    return keys;
}

// A descriptor with one update whose parts the caller gives.
QByteArray Descriptor(const QString& minorNr, const QString& updateNr, const QString& beschreibung)
{
    return QStringLiteral(
               "<modul %1><version nr=\"%2\"><update nr=\"%3\"><beschreibung>%4</beschreibung>"
               "</update></version></modul>")
        .arg(RootAttributes, minorNr, updateNr, beschreibung)
        .toUtf8();
}

// The scripted front end, also counting the wait cursor.
class TCursorFrontEnd : public TScriptedFrontEnd {
public:
    int Begins = 0;
    int Ends = 0;
    int DepthAtLastMessage = 0;

    void BeginWaitCursor() override { ++Begins; }
    void EndWaitCursor() override { ++Ends; }
    int MessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) override
    {
        DepthAtLastMessage = Begins - Ends;
        return TScriptedFrontEnd::MessageDialog(text, type, buttons, helpContext);
    }
};

platform::TFormatSettings UsFormat()
{
    return platform::TFormatSettings{
        QStringLiteral("m/d/yyyy"), QStringLiteral("h:nn:ss ampm"), u'/', u':', QStringLiteral("AM"),
        QStringLiteral("PM")};
}

enum class TOutcome { True, False, Warning };
enum class TDamage {
    HugeDescription,
    UpdatesAtTheLimit,
    ManyUpdates,
    DeepNesting,
    InvalidUtf8,
    EntityBomb,
    TooMuchMarkup,
    TooLarge
};

}  // namespace

Q_DECLARE_METATYPE(TOutcome)
Q_DECLARE_METATYPE(TDamage)

char* toString(const TUpdateIdentifier& id)
{
    return qstrdup(
        QStringLiteral("(%1,%2,%3)").arg(id.ModulNr).arg(id.Nebenversion).arg(id.Unterversion).toUtf8());
}

class TestUpdateCheck : public QObject {
    Q_OBJECT

private:
    QByteArray FOriginalTmpDir;
    QString FOriginalTempPath;
    std::unique_ptr<TPrivateStores> FStores;
    std::unique_ptr<TFrontEndFixtureOf<TCursorFrontEnd>> FFrontEnd;
    TUpdates FUpdates;
    QTemporaryDir FCertDir;
    QTemporaryDir FWwwDir;
    TTestPki FPki;
    TTestHttpsServer FServer;
    QString FServerError;          // why the HTTPS tests are skipped; empty while the server runs
    bool FSignDescriptor = false;  // the descriptor put into the local source is signed

    QString Path(const QString& name) const { return FStores->FilePath(name); }
    // TMPDIR of the code under test.
    QString TempDir() const { return Path(QStringLiteral("tmp")) + u'/'; }
    QString SourceDir() const { return Path(QStringLiteral("quelle")) + u'/'; }
    QString InstallDir() const { return Path(QStringLiteral("kasse")) + u'/'; }
    QString SourceDescriptor() const { return SourceDir() + QStringLiteral("Modul_12/") + DescriptorName; }
    QString FetchedDescriptor() const { return TempDir() + DescriptorName; }

    // With FSignDescriptor, also switches the signature check on and signs the descriptor.
    bool PutDescriptor(const QByteArray& content)
    {
        if (!WriteFile(SourceDescriptor(), content))
            return false;
        if (!FSignDescriptor)
            return true;
        const TTestKey key('k');
        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                         key.PublicBase64());
        return WriteFile(SourceDescriptor() + QStringLiteral(".sig"),
                         key.SignatureFile(content, DescriptorName));
    }

    bool Check(bool ignoreCheckInterval = true)
    {
        TUpdateCheck check(&FUpdates);
        return check.ReadVersionTree(QStringLiteral("Kasse"), 12, 3, ignoreCheckInterval);
    }

    QString WarningText(const QString& message) const
    {
        return QStringLiteral("Datei \"") + FetchedDescriptor() +
               QStringLiteral("\" hat nicht das richtige Format:\r\n\r\n") + message;
    }

    void ExpectNoMessage() { QCOMPARE(FFrontEnd->Messages(), QList<TShownMessage>()); }

    // The loopback server serves descriptors and news below /updates/ and the not-available
    // page under the names of both below /gone/.
    QString StartServer()
    {
        if (!FWwwDir.isValid())
            return QStringLiteral("no temporary folder");
        const QString pkiError = TrustedLoopbackPki(FPki, FCertDir);
        if (!pkiError.isEmpty())
            return pkiError;
        const QString www = FWwwDir.path();
        const QByteArray page = Fixture(QStringLiteral("not-available.html"));
        if (!WriteFile(www + QStringLiteral("/updates/Modul_12/update_12_3.xml"),
                       Fixture(QStringLiteral("plain.xml"))) ||
            !WriteFile(www + QStringLiteral("/updates/news.xml"), Fixture(QStringLiteral("news.xml"))) ||
            !WriteFile(www + QStringLiteral("/gone/Modul_12/update_12_3.xml"), page) ||
            !WriteFile(www + QStringLiteral("/gone/news.xml"), page))
            return QStringLiteral("cannot write the served files");
        return FServer.Start(FPki.ServerCert, FPki.ServerKey, www);
    }

    // Fetches go to the server at base from now on.
    void UseServer(const QString& base)
    {
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource, QString());
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         FServer.Url(base));
        FServer.ClearRequests();
    }

    QStringList RequestedPaths() const
    {
        QStringList paths;
        for (const TRecordedRequest& request : FServer.Requests())
            paths.append(request.Method + u' ' + request.Path);
        return paths;
    }

private Q_SLOTS:
    void initTestCase()
    {
        FOriginalTmpDir = qgetenv("TMPDIR");
        FOriginalTempPath = QDir::tempPath();
        FServerError = StartServer();
    }

    void cleanupTestCase() { FServer.Stop(); }

    void init()
    {
        qputenv("TMPDIR", FOriginalTmpDir);
        FStores = std::make_unique<TPrivateStores>(FOriginalTempPath + QStringLiteral("/tst_updateCheck-XXXXXX"));
        QVERIFY(FStores->IsValid());
        QVERIFY(QDir().mkpath(TempDir()));
        QVERIFY(QDir().mkpath(SourceDir()));
        QVERIFY(QDir().mkpath(InstallDir()));
        qputenv("TMPDIR", TempDir().toUtf8());

        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
        WriteLog(TLogAction::StartBuffer, QString());
        WriteStringValue(HKEY_LOCAL_MACHINE, ModulKey, QStringLiteral("Pfad"), InstallDir());
        WriteStringValue(HKEY_LOCAL_MACHINE, ModulKey, QStringLiteral("Leer"), QString());
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                         SourceDir());
        TestFormatSettings::set(platform::TFormatSettings::German());

        FUpdates.Clear();
        FSignDescriptor = false;
        FFrontEnd = std::make_unique<TFrontEndFixtureOf<TCursorFrontEnd>>();
    }

    void cleanup()
    {
        const int begins = FFrontEnd->Begins;
        const int ends = FFrontEnd->Ends;
        WriteLog(TLogAction::DiscardBuffer, QString());
        FFrontEnd.reset();
        TestClock::set(QDateTime());
        TestFormatSettings::set(std::nullopt);
        qputenv("TMPDIR", FOriginalTmpDir);
        FStores.reset();
        // Every way out of a fetch gives the cursor back, whatever the test did.
        QCOMPARE(ends, begins);
    }

    // ---- evaluation ------------------------------------------------------------------------

    void readsDescriptorIntoCatalog_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("warning");  // the message after the fixed text; empty: none

        const QString noWarning;
        const QString unlabelled = QStringLiteral(" unter Element \"version\" (nr=\"1\")");
        // clang-format off
        QTest::newRow("every update under its minor version")
            << "plain.xml" << true << "1.0 1.1 2.0" << noWarning;
        QTest::newRow("element names play no part")
            << "other-names.xml" << true << "1.0 1.1 2.0" << noWarning;
        QTest::newRow("comments, text and CDATA where they do no harm")
            << "comments-cdata-text.xml" << true << "1.0 1.1 1.2" << noWarning;
        QTest::newRow("root without children")
            << "empty-root.xml" << true << "" << noWarning;
        QTest::newRow("minor version without nr and without updates")
            << "minor-without-nr-childless.xml" << true << "1.4" << noWarning;
        QTest::newRow("minor version without nr holding an update")
            << "minor-without-nr-with-child.xml" << false << "1.4"
            << "Element \"version\" hat kein Attribut \"nr\".";
        QTest::newRow("update without beschreibung: the ones before it stay")
            << "malformed-in-the-middle.xml" << false << "1.0 1.1"
            << "Element \"update\" (nr=\"2\")" + unlabelled + " hat kein Element \"beschreibung\".";
        QTest::newRow("update without nr")
            << "update-without-nr.xml" << false << "1.0"
            << "Element \"update\"" + unlabelled + " hat kein Attribut \"nr\".";
        QTest::newRow("comment below a minor version counts as an update")
            << "comment-below-minor.xml" << false << ""
            << "Kommentar \"alte Fassung\" unter Element \"version\" (nr=\"3\") hat kein Attribut \"nr\".";
        QTest::newRow("text below a minor version counts as an update")
            << "text-below-minor.xml" << false << "3.0"
            << "Text \"vergessener Text\" unter Element \"version\" (nr=\"3\") hat kein Attribut \"nr\".";
        QTest::newRow("beschreibung holding text and an element")
            << "beschreibung-text-and-element.xml" << false << ""
            << "Das Element \"beschreibung\" von Element \"update\" (nr=\"7\")" + unlabelled +
               " enthält nicht genau einen Text oder CDATA-Abschnitt.";
        QTest::newRow("beschreibung holding text and CDATA")
            << "beschreibung-text-and-cdata.xml" << false << ""
            << "Das Element \"beschreibung\" von Element \"update\" (nr=\"7\")" + unlabelled +
               " enthält nicht genau einen Text oder CDATA-Abschnitt.";
        QTest::newRow("minor version nr that is no integer")
            << "nr-not-a-number.xml" << false << ""
            << "Das Attribut \"nr\" von Element \"version\" (nr=\"1,5\") ist keine ganze Zahl.";
        QTest::newRow("root key in lower case")
            << "rootkey-lower-case.xml" << false << "" << "Keine gültige Rootkey-Angabe in XML-Datei.";
        QTest::newRow("root key absent")
            << "rootkey-absent.xml" << false << "" << "Keine gültige Rootkey-Angabe in XML-Datei.";
        QTest::newRow("registry value exists but is empty")
            << "registry-value-empty.xml" << false << ""
            << "Keine Verzeichnisangabe am angegebenen Registry-Pfad gefunden.";
        QTest::newRow("registry value name absent")
            << "registry-name-absent.xml" << false << ""
            << "Element \"modul\" hat kein Attribut \"verzeichnis_reg_name\".";
        // clang-format on
    }

    void readsDescriptorIntoCatalog()
    {
        QFETCH(QString, fixture);
        QFETCH(bool, result);
        QFETCH(QString, keys);
        QFETCH(QString, warning);
        QVERIFY(PutDescriptor(Fixture(fixture)));
        if (!warning.isEmpty())
            FFrontEnd->Answer({mrOk});

        QCOMPARE(Check(), result);

        QCOMPARE(FUpdates.SortedUpdateKeys(), Keys(keys));
        // The module record comes with the first update stored, not before.
        QCOMPARE(FUpdates.ModulDictionary().count(12), keys.isEmpty() ? 0u : 1u);
        if (warning.isEmpty()) {
            ExpectNoMessage();
        } else {
            QCOMPARE(FFrontEnd->Messages(),
                     QList<TShownMessage>(
                         {{WarningText(warning), TMsgDlgType::mtWarning, TMsgDlgButtons::mbOK, 0}}));
            QCOMPARE(LogLinesStartingWith(QStringLiteral("GetVersionInfos - ")),
                     QStringList({QStringLiteral("GetVersionInfos - ") + warning,
                                  QStringLiteral("GetVersionInfos - Ende")}));
        }
        QCOMPARE(LogLines().constLast(), QStringLiteral("GetVersionInfos - Ende"));
    }

    // A signed descriptor's updates are read while its signature is being checked and reach the
    // catalog only afterwards: catalog, result, warning and log must come out the same.
    void readsSignedDescriptorIntoCatalog_data() { readsDescriptorIntoCatalog_data(); }
    void readsSignedDescriptorIntoCatalog()
    {
        FSignDescriptor = true;
        readsDescriptorIntoCatalog();
    }

    void storesWhatTheUpdateSays()
    {
        QVERIFY(PutDescriptor(Fixture(QStringLiteral("plain.xml"))));
        QVERIFY(Check());

        const TUpdateNode& first = *FUpdates.UpdateDictionary().at({12, 1, 0});
        QCOMPARE(first.Dateiname(), QStringLiteral("kasse_1_0.exe"));
        QCOMPARE(first.StillesUpdate(), true);
        QCOMPARE(first.Typ(), TUpdateTyp::utExecute);
        QCOMPARE(first.LizenzURL(), QStringLiteral("https://download.vorlandt.example/lizenz.rtf"));
        QCOMPARE(first.UpdaterVersion(), 6);
        QCOMPARE(first.BeschreibungRTF(), QStringLiteral("{\\rtf1 Erste Fassung}"));
        const TUpdateNode& bare = *FUpdates.UpdateDictionary().at({12, 1, 1});
        QCOMPARE(bare.StillesUpdate(), false);
        QCOMPARE(bare.Typ(), TUpdateTyp::utNone);
        QCOMPARE(bare.LizenzURL(), QString());
        QCOMPARE(bare.UpdaterVersion(), -1);
        const TUpdateNode& last = *FUpdates.UpdateDictionary().at({12, 2, 0});
        QCOMPARE(last.Typ(), TUpdateTyp::utExec_on_restart);
        QCOMPARE(last.UpdaterVersion(), 7);

        const TModulInformation& modul = FUpdates.ModulDictionary().at(12);
        QCOMPARE(modul.Modulbezeichnung, QStringLiteral("Kasse"));
        QCOMPARE(modul.Hauptversion, 3);
        QCOMPARE(modul.XMLFilename, DescriptorName);
        QCOMPARE(modul.Zielverzeichnis, InstallDir());
    }

    void readsDescriptionText_data()
    {
        QTest::addColumn<QString>("beschreibung");  // as written in the file
        QTest::addColumn<QString>("expected");
        QTest::newRow("text") << "{\\rtf1 Neu}"
                              << "{\\rtf1 Neu}";
        QTest::newRow("CDATA keeps markup") << "<![CDATA[{\\rtf1 <b> & }]]>"
                                            << "{\\rtf1 <b> & }";
        QTest::newRow("escaped characters") << "a &amp; b &lt;c&gt;"
                                            << "a & b <c>";
        QTest::newRow("empty element") << ""
                                       << "";
        QTest::newRow("only blanks and line breaks") << "  \r\n  "
                                                     << "";
        QTest::newRow("declared entity stays literal") << "&lol;"
                                                       << "&lol;";
    }

    void readsDescriptionText()
    {
        QFETCH(QString, beschreibung);
        QFETCH(QString, expected);
        QVERIFY(PutDescriptor(Descriptor(QStringLiteral("1"), QStringLiteral("0"), beschreibung)));
        QVERIFY(Check());
        QCOMPARE(FUpdates.UpdateDictionary().at({12, 1, 0})->BeschreibungRTF(), expected);
    }

    void convertsNrAsPlainDecimal_data()
    {
        QTest::addColumn<QString>("nr");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("digits") << "7" << true << 7;
        QTest::newRow("blanks around") << "  12 " << true << 12;
        QTest::newRow("plus sign") << "+3" << true << 3;
        QTest::newRow("minus sign") << "-4" << true << -4;
        QTest::newRow("largest") << "2147483647" << true << INT_MAX;
        QTest::newRow("smallest") << "-2147483648" << true << INT_MIN;
        QTest::newRow("beyond 32 bits") << "2147483648" << false << 0;
        QTest::newRow("far beyond 64 bits") << "99999999999999999999999" << false << 0;
        QTest::newRow("hexadecimal with $") << "$10" << false << 0;
        QTest::newRow("hexadecimal with 0x") << "0x10" << false << 0;
        QTest::newRow("decimal fraction") << "1.5" << false << 0;
        QTest::newRow("word for true") << "true" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("sign alone") << "-" << false << 0;
        QTest::newRow("blank inside") << "1 2" << false << 0;
        QTest::newRow("digits of another script") << QString::fromUtf8("\xD9\xA1") << false << 0;
    }

    void convertsNrAsPlainDecimal()
    {
        QFETCH(QString, nr);
        QFETCH(bool, valid);
        QFETCH(int, value);
        QVERIFY(PutDescriptor(Descriptor(QStringLiteral("1"), nr, QStringLiteral("x"))));
        if (!valid)
            FFrontEnd->Answer({mrOk});

        QCOMPARE(Check(), valid);

        if (valid) {
            QCOMPARE(FUpdates.SortedUpdateKeys(), QList<TUpdateIdentifier>({{12, 1, value}}));
        } else {
            QCOMPARE(FFrontEnd->Messages().size(), 1);
            QCOMPARE(
                FFrontEnd->Messages().constFirst().text,
                WarningText(QStringLiteral("Das Attribut \"nr\" von Element \"update\" (nr=\"%1\") unter "
                                           "Element \"version\" (nr=\"1\") ist keine ganze Zahl.")
                                .arg(nr)));
        }
    }

    void resolvesInstallationDirectory_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<bool>("perUser");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("separator added") << "plain.xml" << false << "/opt/kasse"
                                         << "/opt/kasse/";
        QTest::newRow("separator kept") << "plain.xml" << false << "/opt/kasse/"
                                        << "/opt/kasse/";
        QTest::newRow("Windows-style folder kept as stored")
            << "plain.xml" << false << "C:\\Programme\\Kasse\\"
            << "C:\\Programme\\Kasse\\";
        QTest::newRow("per-user root") << "rootkey-hkcu.xml" << true << "/home/kasse"
                                       << "/home/kasse/";
    }

    void resolvesInstallationDirectory()
    {
        QFETCH(QString, fixture);
        QFETCH(bool, perUser);
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        WriteStringValue(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, ModulKey, QStringLiteral("Pfad"),
                         stored);
        QVERIFY(PutDescriptor(Fixture(fixture)));

        QVERIFY(Check());

        QCOMPARE(FUpdates.ModulDictionary().at(12).Zielverzeichnis, expected);
        QCOMPARE(LogLinesStartingWith(QStringLiteral("GetZielVerzeichnis - ")),
                 QStringList({QStringLiteral("GetZielVerzeichnis - Start - Parameters: (XMLNode)"),
                              QStringLiteral("GetZielVerzeichnis - Ende - Result: ") + expected}));
    }

    void readsDeclaredEncoding_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("text");
        const QString text = QStringLiteral("Änderung für Größe € „neu“");
        const auto body = [](const QString& beschreibung) {
            return QStringLiteral(
                       "<modul %1><version nr=\"1\"><update nr=\"0\"><beschreibung>%2"
                       "</beschreibung></update></version></modul>")
                .arg(RootAttributes, beschreibung);
        };
        const auto declared = [&](const char* encoding, const QString& beschreibung) {
            return QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>\r\n")
                       .arg(QLatin1String(encoding)) +
                   body(beschreibung);
        };
        // Encoded by Qt's converters, so the bytes are what an editor in that encoding writes.
        const auto encoded = [&](const char* encoding, const QString& beschreibung) {
            QStringEncoder encoder(encoding);
            const QByteArray bytes = encoder(declared(encoding, beschreibung));
            if (!encoder.isValid() || encoder.hasError())
                qFatal("%s cannot hold the text", encoding);
            return bytes;
        };
        QTest::newRow("windows-1252") << platform::EncodeWindows1252(declared("windows-1252", text)) << text;
        QTest::newRow("ISO-8859-1 read as the Windows code page")
            << platform::EncodeWindows1252(declared("ISO-8859-1", text)) << text;
        QTest::newRow("declaration in single quotes, name in capitals")
            << platform::EncodeWindows1252(
                   QStringLiteral("<?xml version='1.0' encoding = 'WINDOWS-1252' ?>") + body(text))
            << text;
        QTest::newRow("UTF-8 without declaration") << body(text).toUtf8() << text;
        QTest::newRow("UTF-8 declared") << declared("UTF-8", text).toUtf8() << text;
        QTest::newRow("byte-order mark wins over the declaration")
            << QByteArray("\xEF\xBB\xBF") + declared("windows-1252", text).toUtf8() << text;
        QByteArray utf16("\xFF\xFE", 2);
        const QString utf16Text = declared("UTF-16", text);
        utf16.append(reinterpret_cast<const char*>(utf16Text.utf16()), utf16Text.size() * 2);
        QTest::newRow("UTF-16 with byte-order mark") << utf16 << text;
        // The euro sign is 0xA4 here, where Windows-1252 has the currency sign.
        const QString westEuropean = QStringLiteral("Größe 20 € für Œuvre");
        QTest::newRow("ISO-8859-15") << encoded("ISO-8859-15", westEuropean) << westEuropean;
        const QString russian = QStringLiteral("Обновление: новые функции");
        QTest::newRow("KOI8-R") << encoded("KOI8-R", russian) << russian;
        QTest::newRow("windows-1251") << encoded("windows-1251", russian) << russian;
    }

    void readsDeclaredEncoding()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, text);
        QVERIFY(PutDescriptor(content));
        QVERIFY(Check());
        QCOMPARE(FUpdates.UpdateDictionary().at({12, 1, 0})->BeschreibungRTF(), text);
    }

    // Bytes that are no text in the declared encoding, or an encoding nobody knows, make a file
    // that is not well-formed XML: the module is skipped without a box (also at log-on), never
    // read with replacement characters or guessed letters.
    void damagedEncodingSkipsTheModuleSilently_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("warning");
        const auto declared = [](const QByteArray& encoding, const QByteArray& beschreibung) {
            return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\r\n" +
                   Descriptor(QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("@"))
                       .replace("@", beschreibung);
        };
        const auto invalid = [](const char* name) {
            return QStringLiteral(
                       "Die Datei enthält Zeichen, die in der angegebenen Kodierung \"%1\" ungültig sind")
                .arg(QLatin1String(name));
        };
        QTest::newRow("UTF-8 with a Windows-1252 letter")
            << declared("UTF-8", "\xC4nderung") << invalid("UTF-8");
        QTest::newRow("UTF-8 with an overlong sequence")
            << declared("utf-8", "a\xC0\x80") << invalid("UTF-8");
        QTest::newRow("ISO-8859-7 with a byte it leaves undefined")
            << declared("ISO-8859-7", "\xAE") << invalid("ISO-8859-7");
        QTest::newRow("Shift_JIS with a broken double-byte character")
            << declared("Shift_JIS", "\x81\x20") << invalid("Shift_JIS");
        QTest::newRow("UTF-16 declared, but the file is ASCII")
            << declared("UTF-16", "neu") << invalid("UTF-16");
        QTest::newRow("unknown encoding")
            << declared("x-vorlandt-7", "neu")
            << QStringLiteral("Die angegebene Kodierung \"x-vorlandt-7\" ist unbekannt");
        // Without a declaration XML is UTF-8: a Windows-1252 letter is no character of the file.
        const QString undeclared =
            QStringLiteral("Die Datei enthält Zeichen, die in UTF-8 ungültig sind (keine Kodierung angegeben)");
        QTest::newRow("no declaration, a Windows-1252 letter")
            << Descriptor(QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("@")).replace("@", "\xC4nderung")
            << undeclared;
        QTest::newRow("declaration without encoding, a Windows-1252 letter")
            << "<?xml version=\"1.0\"?>\r\n" +
                   Descriptor(QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("@")).replace("@", "\xE4")
            << undeclared;
    }

    void damagedEncodingSkipsTheModuleSilently()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, warning);
        QVERIFY(PutDescriptor(content));

        QVERIFY(!Check());

        QCOMPARE(FFrontEnd->Messages(), QList<TShownMessage>());
        QVERIFY(!LogLines().contains(QStringLiteral("GetVersionInfos - ") + warning));
        // The diagnostic log names the file and why: the words a console run repeats on stderr.
        QVERIFY(LogLines().contains(QStringLiteral("DownloadUpdateXML - ") + DescriptorName + QStringLiteral(": ") +
                                    warning));
        QVERIFY(FUpdates.UpdateDictionary().empty());
    }

    // A descriptor of many updates reads the module's installed-version file once, and the next
    // evaluation sees a changed file.
    void readsInstalledVersionOncePerDescriptor()
    {
        const QString siteinfo = InstallDir() + QStringLiteral("siteinfo_12.ini");
        QVERIFY(WriteFile(siteinfo, "hauptversion=3\r\nnebenversion=1\r\nunterversion=1\r\n"));
        QVERIFY(PutDescriptor(Fixture(QStringLiteral("plain.xml"))));

        QVERIFY(Check());
        QCOMPARE(LogLinesStartingWith(QStringLiteral("GetStrInfoFromIni - Start")).size(), 3);
        QCOMPARE(FUpdates.ModulDictionary().at(12).LocalNebenversion, 1);

        QVERIFY(WriteFile(siteinfo, "hauptversion=3\r\nnebenversion=2\r\nunterversion=0\r\n"));
        QVERIFY(Check());
        QCOMPARE(FUpdates.ModulDictionary().at(12).LocalNebenversion, 2);
        FUpdates.RemoveOutdatedUpdates();
        QCOMPARE(FUpdates.SortedUpdateKeys(), QList<TUpdateIdentifier>());
    }

    // The memo of one evaluation keeps modules and folders apart and rebuilds a module's record
    // when its arguments change; outside an evaluation every update reads the file again.
    void installedVersionMemoKeepsModulesApart()
    {
        const QString other = Path(QStringLiteral("andere")) + u'/';
        QVERIFY(WriteFile(InstallDir() + QStringLiteral("siteinfo_1.ini"), "nebenversion=1\r\n"));
        QVERIFY(WriteFile(other + QStringLiteral("siteinfo_1.ini"), "nebenversion=2\r\n"));
        QVERIFY(WriteFile(other + QStringLiteral("siteinfo_2.ini"), "nebenversion=3\r\n"));
        const auto add = [&](const QString& name, int modulNr, int haupt, int unter, const QString& dir) {
            FUpdates.AddUpdate(name, modulNr, haupt, 0, unter, QString(), QString(), QString(), QString(),
                               QString(), QString(), dir);
        };
        const auto record = [&](int modulNr) { return FUpdates.ModulDictionary().at(modulNr); };
        {
            const TUpdates::TInstalledVersionMemo memo(FUpdates);
            add(QStringLiteral("Kasse"), 1, 3, 0, InstallDir());
            add(QStringLiteral("Lager"), 2, 3, 0, other);
            add(QStringLiteral("Kasse"), 1, 3, 1, InstallDir());
            QCOMPARE(record(1).LocalNebenversion, 1);
            QCOMPARE(record(2).LocalNebenversion, 3);

            add(QStringLiteral("KTVO Kasse"), 1, 4, 2, other);
            QCOMPARE(record(1).Modulbezeichnung, QStringLiteral("Zahlwerk Kasse"));
            QCOMPARE(record(1).Hauptversion, 4);
            QCOMPARE(record(1).XMLFilename, QStringLiteral("update_1_4.xml"));
            QCOMPARE(record(1).Zielverzeichnis, other);
            QCOMPARE(record(1).LocalNebenversion, 2);

            QVERIFY(WriteFile(other + QStringLiteral("siteinfo_1.ini"), "nebenversion=7\r\n"));
            add(QStringLiteral("KTVO Kasse"), 1, 4, 3, other);
            QCOMPARE(record(1).LocalNebenversion, 2);
        }
        add(QStringLiteral("KTVO Kasse"), 1, 4, 4, other);
        QCOMPARE(record(1).LocalNebenversion, 7);
        QCOMPARE(FUpdates.UpdateDictionary().size(), 6u);
    }

    void unreadableInstalledVersionIsReportedLikeAMalformedDescriptor()
    {
        QVERIFY(QDir().mkpath(InstallDir() + QStringLiteral("siteinfo_12.ini")));
        QVERIFY(PutDescriptor(Fixture(QStringLiteral("plain.xml"))));
        FFrontEnd->Answer({mrOk});

        QCOMPARE(Check(), false);

        QCOMPARE(FUpdates.SortedUpdateKeys(), QList<TUpdateIdentifier>());
        QCOMPARE(FFrontEnd->Messages().size(), 1);
        QVERIFY(FFrontEnd->Messages().constFirst().text.startsWith(WarningText(QString())));
        QCOMPARE(FFrontEnd->Messages().constFirst().type, TMsgDlgType::mtWarning);
    }

    // The lines a successful evaluation from a local source leaves, in order.
    void logsEachStepVerbatim()
    {
        QVERIFY(PutDescriptor(Fixture(QStringLiteral("plain.xml"))));
        {
            TUpdateCheck check(&FUpdates);
            QVERIFY(check.ReadVersionTree(QStringLiteral("Kasse"), 12, 3, true));
        }

        QStringList own;
        for (const QString& line : LogLines()) {
            if (!line.startsWith(QStringLiteral("GetTempDir - ")) &&
                !line.startsWith(QStringLiteral("GetStrInfoFromIni - ")))
                own.append(line);
        }
        QCOMPARE(own, QStringList({
                          QStringLiteral("Create - Start"),
                          QStringLiteral("Create - Ende"),
                          QStringLiteral("DownloadUpdateXML - Start; Parameter: 12, 3"),
                          QStringLiteral("DownloadUpdateXML - LocalSource wird verwendet: ") + SourceDir(),
                          QStringLiteral("DownloadUpdateXML - Ende - Result: True"),
                          QStringLiteral("GetVersionsFromXML - Start Parameter: 12"),
                          QStringLiteral("GetZielVerzeichnis - Start - Parameters: (XMLNode)"),
                          QStringLiteral("GetZielVerzeichnis - Ende - Result: ") + InstallDir(),
                          QStringLiteral("GetVersionInfos - Ende"),
                      }));
    }

    // ---- retrieval from a local source -------------------------------------------------------

    void fetchesFromLocalSource_data()
    {
        QTest::addColumn<QString>("suffix");  // how the folder ends as stored
        QTest::newRow("with /") << "/";
        QTest::newRow("without separator") << "";
        QTest::newRow("with a Windows-style \\") << "\\";
    }

    void fetchesFromLocalSource()
    {
        QFETCH(QString, suffix);
        const QString stored = SourceDir().chopped(1) + suffix;
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource, stored);
        const QByteArray content = Fixture(QStringLiteral("plain.xml"));
        QVERIFY(PutDescriptor(content));
        QVERIFY(WriteFile(FetchedDescriptor(), "an earlier, longer descriptor fetched before this one"));

        TUpdateCheck check(&FUpdates);
        QVERIFY(check.DownloadUpdateXML(12, 3));

        QCOMPARE(check.xmlVersionenFilename(), FetchedDescriptor());
        QCOMPARE(ReadFile(FetchedDescriptor()), content);
        QCOMPARE(QString::fromUtf8(check.xmlVersionen().document_element().name()), QStringLiteral("modul"));
        QVERIFY(
            LogLines().contains(QStringLiteral("DownloadUpdateXML - LocalSource wird verwendet: ") + stored));
        QCOMPARE(LogLinesStartingWith(QStringLiteral("DownloadUpdateXML - HTTPS")), QStringList());
        QCOMPARE(FFrontEnd->Begins, 1);
        // Nothing but the fetched file is left in the temporary folder.
        QCOMPARE(QDir(TempDir()).entryList(QDir::Files | QDir::Hidden), QStringList({DescriptorName}));
    }

    void copyFailureIsLoggedWithTheSystemText_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("error");
        QTest::newRow("file missing") << "missing" << ENOENT;
        QTest::newRow("a folder under the file's name") << "folder" << EISDIR;
        QTest::newRow("a pipe under the file's name does not block") << "pipe" << EINVAL;
    }

    void copyFailureIsLoggedWithTheSystemText()
    {
        QFETCH(QString, kind);
        QFETCH(int, error);
        QVERIFY(QDir().mkpath(SourceDir() + QStringLiteral("Modul_12")));
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(SourceDescriptor()));
        if (kind == QLatin1String("pipe"))
            QCOMPARE(::mkfifo(QFile::encodeName(SourceDescriptor()).constData(), 0600), 0);
        // A well-formed descriptor left by an earlier fetch must not be taken for this one.
        QVERIFY(WriteFile(FetchedDescriptor(), Fixture(QStringLiteral("plain.xml"))));

        QCOMPARE(Check(), false);

        QCOMPARE(LogLinesStartingWith(QStringLiteral("DownloadUpdateXML - Fehler")),
                 QStringList(QStringLiteral("DownloadUpdateXML - Fehler beim Kopieren: \"") +
                             qt_error_string(error) + u'"'));
        QCOMPARE(LogLines().constLast(), QStringLiteral("DownloadUpdateXML - Ende - Result: False"));
        QCOMPARE(FUpdates.SortedUpdateKeys(), QList<TUpdateIdentifier>());
        ExpectNoMessage();
    }

    void unusableFilesGiveFalseSilently_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not-available page") << Fixture(QStringLiteral("not-available.html"));
        QTest::newRow("marker inside an otherwise good descriptor")
            << Fixture(QStringLiteral("plain.xml"))
                   .replace("Erste Fassung", "Datei steht nicht zur Verf&uuml;gung.");
        const QString page = QStringLiteral("<p>Datei steht nicht zur Verf&uuml;gung.</p>");
        QByteArray utf16("\xFF\xFE", 2);
        utf16.append(reinterpret_cast<const char*>(page.utf16()), page.size() * 2);
        QTest::newRow("marker in a UTF-16 file") << utf16;
        QTest::newRow("not well-formed") << Fixture(QStringLiteral("not-well-formed.xml"));
        QTest::newRow("two root elements") << Fixture(QStringLiteral("two-roots.xml"));
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("only a comment") << QByteArray("<!-- nichts -->");
    }

    void unusableFilesGiveFalseSilently()
    {
        QFETCH(QByteArray, content);
        QVERIFY(PutDescriptor(content));

        QCOMPARE(Check(), false);

        // The file is still where it was fetched to, for whoever looks into the problem.
        QCOMPARE(ReadFile(FetchedDescriptor()), content);
        QCOMPARE(LogLinesStartingWith(QStringLiteral("GetVersions")), QStringList());
        QCOMPARE(LogLines().constLast(), QStringLiteral("DownloadUpdateXML - Ende - Result: False"));
        ExpectNoMessage();
    }

    void failedLoadKeepsTheLastDocument()
    {
        TUpdateCheck check(&FUpdates);
        QVERIFY(PutDescriptor(Fixture(QStringLiteral("plain.xml"))));
        QVERIFY(check.DownloadUpdateXML(12, 3));
        QVERIFY(PutDescriptor(Fixture(QStringLiteral("not-well-formed.xml"))));
        QVERIFY(!check.DownloadUpdateXML(12, 3));
        QCOMPARE(QString::fromUtf8(
                     check.xmlVersionen().document_element().attribute("verzeichnis_reg_name").value()),
                 QStringLiteral("Pfad"));
        QCOMPARE(
            QString::fromUtf8(check.xmlVersionen().document_element().first_child().attribute("nr").value()),
            QStringLiteral("1"));
    }

    void missingTempDirEndsWithTheEndLine()
    {
        qputenv("TMPDIR", Path(QStringLiteral("nicht-da")).toUtf8());
        TUpdateCheck check(&FUpdates);
        QVERIFY_THROWS_EXCEPTION(EVorlandtError, check.DownloadUpdateXML(12, 3));
        QCOMPARE(LogLines().constLast(), QStringLiteral("DownloadUpdateXML - Ende - Result: False"));
    }

    void fetchesNewsFromLocalSource()
    {
        QVERIFY(
            WriteFile(SourceDir() + QStringLiteral("news/news.xml"), Fixture(QStringLiteral("news.xml"))));
        TUpdateCheck check(&FUpdates);

        QVERIFY(check.DownloadNewsXML());

        QCOMPARE(ReadFile(TempDir() + QStringLiteral("news.xml")), Fixture(QStringLiteral("news.xml")));
        QCOMPARE(QString::fromUtf8(check.xmlNews().document_element().name()), QStringLiteral("news"));
        QCOMPARE(LogLines().value(2), QStringLiteral("DownloadNewsXML - Start"));
        QVERIFY(LogLines().contains(QStringLiteral("DownloadNewsXML - LocalSource wird verwendet: ") +
                                    SourceDir()));
        QCOMPARE(LogLines().constLast(), QStringLiteral("DownloadNewsXML - Ende - Result: True"));
        ExpectNoMessage();
    }

    void newsParseErrorIsShown_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");
        QTest::newRow("unclosed element") << Fixture(QStringLiteral("not-well-formed.xml"))
                                          << "Start- und End-Tag passen nicht zusammen (Zeile 3)";
        QTest::newRow("two root elements")
            << Fixture(QStringLiteral("two-roots.xml")) << "Mehr als ein Wurzelelement";
        QTest::newRow("empty file") << QByteArray() << "Kein Wurzelelement gefunden (Zeile 1)";
    }

    void newsParseErrorIsShown()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QVERIFY(WriteFile(SourceDir() + QStringLiteral("news/news.xml"), content));
        FFrontEnd->Answer({mrOk});
        TUpdateCheck check(&FUpdates);

        QVERIFY(!check.DownloadNewsXML());

        const QString text =
            QStringLiteral("Exception beim Laden aus dem Tempverzeichnis: \"") + error + u'"';
        QCOMPARE(FFrontEnd->Messages(),
                 QList<TShownMessage>({{text, TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0}}));
        QCOMPARE(FFrontEnd->DepthAtLastMessage, 0);
        QCOMPARE(LogLines().mid(LogLines().size() - 2),
                 QStringList({QStringLiteral("DownloadNewsXML - ") + text,
                              QStringLiteral("DownloadNewsXML - Ende - Result: False")}));
    }

    void newsNotAvailableOrNotCopiedGivesFalseSilently()
    {
        TUpdateCheck check(&FUpdates);
        QVERIFY(!check.DownloadNewsXML());
        QCOMPARE(LogLinesStartingWith(QStringLiteral("DownloadNewsXML - Fehler beim Kopieren: ")),
                 QStringList(QStringLiteral("DownloadNewsXML - Fehler beim Kopieren: \"") +
                             qt_error_string(ENOENT) + u'"'));

        QVERIFY(WriteFile(SourceDir() + QStringLiteral("news/news.xml"),
                          Fixture(QStringLiteral("not-available.html"))));
        QVERIFY(!check.DownloadNewsXML());
        ExpectNoMessage();
    }

    // ---- interval gate -------------------------------------------------------------------

    void checkIntervalGate_data()
    {
        QTest::addColumn<bool>("usFormat");
        QTest::addColumn<QString>("stored");  // null: never written
        QTest::addColumn<int>("interval");    // INT_MIN: never written
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("due");
        QTest::addColumn<QString>("logged");  // the "letzter Check" line after its fixed text

        const auto at = [](int y, int mo, int d, int h, int mi, int s) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
        };
        const QString never;
        // clang-format off
        QTest::newRow("never checked: 2012-01-01 00:00 in any format, 48 h not yet over")
            << true << never << INT_MIN << at(2012, 1, 2, 23, 59, 59) << false << "1/1/2012 12:00:00 AM... Interval [h]: 48";
        QTest::newRow("never checked: due 48 h after 2012-01-01")
            << true << never << INT_MIN << at(2012, 1, 3, 0, 0, 0) << true << "1/1/2012 12:00:00 AM... Interval [h]: 48";
        QTest::newRow("one second before due")
            << false << "10.05.2024 08:00:00" << 24 << at(2024, 5, 11, 7, 59, 59) << false << "10.05.2024 08:00:00... Interval [h]: 24";
        QTest::newRow("exactly due")
            << false << "10.05.2024 08:00:00" << 24 << at(2024, 5, 11, 8, 0, 0) << true << "10.05.2024 08:00:00... Interval [h]: 24";
        QTest::newRow("stored in the user's format")
            << true << "5/10/2024 8:00:00 PM" << 1 << at(2024, 5, 10, 21, 0, 0) << true << "5/10/2024 8:00:00 PM... Interval [h]: 1";
        QTest::newRow("interval 0: due at the stored moment")
            << false << "10.05.2024 08:00:00" << 0 << at(2024, 5, 10, 8, 0, 0) << true << "10.05.2024 08:00:00... Interval [h]: 0";
        QTest::newRow("interval 0: not before it")
            << false << "10.05.2024 08:00:00" << 0 << at(2024, 5, 10, 7, 59, 59) << false << "10.05.2024 08:00:00... Interval [h]: 0";
        QTest::newRow("largest interval does not overflow")
            << false << "10.05.2024 08:00:00" << INT_MAX << at(2999, 1, 1, 0, 0, 0) << false << "10.05.2024 08:00:00... Interval [h]: 2147483647";
        QTest::newRow("negative interval is already over")
            << false << "10.05.2024 08:00:00" << -24 << at(2024, 5, 9, 8, 0, 0) << true << "10.05.2024 08:00:00... Interval [h]: -24";
        // clang-format on
    }

    void checkIntervalGate()
    {
        QFETCH(bool, usFormat);
        QFETCH(QString, stored);
        QFETCH(int, interval);
        QFETCH(QDateTime, now);
        QFETCH(bool, due);
        QFETCH(QString, logged);
        TestFormatSettings::set(usFormat ? UsFormat() : platform::TFormatSettings::German());
        if (!stored.isNull())
            WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastCheckDateTime,
                             stored);
        if (interval != INT_MIN)
            WriteIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::IntervalInHours,
                              interval);
        TestClock::set(now);
        QVERIFY(PutDescriptor(Fixture(QStringLiteral("plain.xml"))));

        QCOMPARE(Check(false), due);

        QCOMPARE(LogLinesStartingWith(QStringLiteral("CheckInterval - ")),
                 QStringList({QStringLiteral("CheckInterval - Start"),
                              QStringLiteral("CheckInterval - letzter Check: ") + logged,
                              QStringLiteral("CheckInterval - Ende - Result: ") + (due ? "True" : "False")}));
        // Not due: nothing is fetched.
        QCOMPARE(LogLinesStartingWith(QStringLiteral("DownloadUpdateXML - Start")).size(), due ? 1 : 0);
    }

    void unparsableLastCheckFailsTheGate()
    {
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastCheckDateTime,
                         QStringLiteral("gestern"));
        QVERIFY(PutDescriptor(Fixture(QStringLiteral("plain.xml"))));
        try {
            Check(false);
            QFAIL("no error raised");
        } catch (const EVorlandtError& e) {
            QCOMPARE(e.kind(), EVorlandtError::Kind::Convert);
        }
        QCOMPARE(LogLines(), QStringList({QStringLiteral("Create - Start"), QStringLiteral("Create - Ende"),
                                          QStringLiteral("CheckInterval - Start"),
                                          QStringLiteral("CheckInterval - Ende - Result: False")}));
    }

    void ignoredIntervalIsNotEvaluated()
    {
        // Would fail the gate with an error if it were read.
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastCheckDateTime,
                         QStringLiteral("gestern"));
        QVERIFY(PutDescriptor(Fixture(QStringLiteral("plain.xml"))));
        QVERIFY(Check(true));
        QCOMPARE(LogLinesStartingWith(QStringLiteral("CheckInterval")), QStringList());
    }

    // ---- damaged input ---------------------------------------------------------------------

    void damagedDescriptorEndsInAResult_data()
    {
        QTest::addColumn<TDamage>("damage");
        QTest::addColumn<TOutcome>("outcome");
        QTest::newRow("50 MB description") << TDamage::HugeDescription << TOutcome::True;
        QTest::newRow("10,000 updates, as many as a descriptor may offer")
            << TDamage::UpdatesAtTheLimit << TOutcome::True;
        // Every pending update costs a temporary file later: none may be added.
        QTest::newRow("100,000 updates are refused as malformed")
            << TDamage::ManyUpdates << TOutcome::Warning;
        QTest::newRow("elements nested 100,000 deep") << TDamage::DeepNesting << TOutcome::Warning;
        // Without a declaration the file is UTF-8: other bytes make it no XML, skipped silently.
        QTest::newRow("invalid UTF-8") << TDamage::InvalidUtf8 << TOutcome::False;
        QTest::newRow("entity bomb in the DTD") << TDamage::EntityBomb << TOutcome::True;
        QTest::newRow("millions of empty elements are refused") << TDamage::TooMuchMarkup << TOutcome::False;
        QTest::newRow("file above 64 MB is refused") << TDamage::TooLarge << TOutcome::False;
    }

    void damagedDescriptorEndsInAResult()
    {
        QFETCH(TDamage, damage);
        QFETCH(TOutcome, outcome);
        const QByteArray open = QStringLiteral("<modul %1>").arg(RootAttributes).toUtf8();
        QByteArray content;
        switch (damage) {
            case TDamage::HugeDescription:
                content = open + "<v nr=\"1\"><u nr=\"0\"><beschreibung><![CDATA[" +
                          QByteArray(50 * 1000 * 1000, 'x') + "]]></beschreibung></u></v></modul>";
                break;
            case TDamage::UpdatesAtTheLimit:
            case TDamage::ManyUpdates:
                content = open + "<v nr=\"1\">";
                for (int i = 0; i < (damage == TDamage::ManyUpdates ? 100000 : 10000); ++i)
                    content += "<u nr=\"" + QByteArray::number(i) + "\"><beschreibung>b</beschreibung></u>";
                content += "</v></modul>";
                break;
            case TDamage::DeepNesting:
                content = open + QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000) +
                          "</modul>";
                break;
            case TDamage::InvalidUtf8:
                content = Descriptor(QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("@"))
                              .replace("@", "\xC4nderung \xFF\xFE\xC0\x80");
                break;
            case TDamage::EntityBomb: {
                content = "<?xml version=\"1.0\"?>\n<!DOCTYPE modul [\n<!ENTITY lol \"lol\">\n";
                for (int i = 1; i < 10; ++i)
                    content += "<!ENTITY lol" + QByteArray::number(i) + " \"" +
                               QByteArray("&lol" + (i == 1 ? QByteArray() : QByteArray::number(i - 1)) + ";")
                                   .repeated(10) +
                               "\">\n";
                content +=
                    "]>\n" + Descriptor(QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("&lol9;"));
                break;
            }
            case TDamage::TooMuchMarkup:
                content = open + QByteArray("<a/>").repeated(5 * 1000 * 1000) + "</modul>";
                break;
            case TDamage::TooLarge:
                content = Descriptor(QStringLiteral("1"), QStringLiteral("0"),
                                     QString::fromLatin1(QByteArray(65 * 1024 * 1024, 'x')));
                break;
        }
        QVERIFY(PutDescriptor(content));
        content.clear();
        if (outcome == TOutcome::Warning)
            FFrontEnd->Answer({mrOk});

        QCOMPARE(Check(), outcome == TOutcome::True);

        QCOMPARE(FFrontEnd->Messages().size(), outcome == TOutcome::Warning ? 1 : 0);
        if (damage == TDamage::HugeDescription)
            QCOMPARE(FUpdates.UpdateDictionary().at({12, 1, 0})->BeschreibungRTF().size(), 50 * 1000 * 1000);
        if (damage == TDamage::UpdatesAtTheLimit)
            QCOMPARE(FUpdates.UpdateDictionary().size(), 10000u);
        if (damage == TDamage::ManyUpdates) {
            QCOMPARE(FFrontEnd->Messages().first().text,
                     WarningText(QStringLiteral("Die Datei enthält mehr als 10000 Updates.")));
            QCOMPARE(FUpdates.UpdateDictionary().size(), 0u);
        }
        if (damage == TDamage::InvalidUtf8)
            QVERIFY(FUpdates.UpdateDictionary().empty());
        if (damage == TDamage::EntityBomb)
            QCOMPARE(FUpdates.UpdateDictionary().at({12, 1, 0})->BeschreibungRTF(), QStringLiteral("&lol9;"));
    }

    // The limit on the number of updates holds when they are read ahead of the signature's verdict.
    void signedDescriptorAtAndAboveTheLimit_data()
    {
        QTest::addColumn<TDamage>("damage");
        QTest::addColumn<TOutcome>("outcome");
        QTest::newRow("10,000 updates") << TDamage::UpdatesAtTheLimit << TOutcome::True;
        QTest::newRow("100,000 updates are refused") << TDamage::ManyUpdates << TOutcome::Warning;
    }
    void signedDescriptorAtAndAboveTheLimit()
    {
        FSignDescriptor = true;
        damagedDescriptorEndsInAResult();
    }

    // ---- retrieval over HTTPS ----------------------------------------------------------------

    void fetchesDescriptorAndNews_data()
    {
        QTest::addColumn<QString>("base");  // the stored UpdateURL, after the server's address
        QTest::newRow("with trailing /") << "/updates/";
        QTest::newRow("without trailing /") << "/updates";
    }

    void fetchesDescriptorAndNews()
    {
        QFETCH(QString, base);
        if (!FServerError.isEmpty())
            QSKIP(qPrintable(FServerError));
        UseServer(base);
        TUpdateCheck check(&FUpdates);

        QVERIFY(check.DownloadUpdateXML(12, 3));
        QVERIFY(check.DownloadNewsXML());

        QCOMPARE(check.xmlVersionenFilename(), FetchedDescriptor());
        QCOMPARE(ReadFile(FetchedDescriptor()), Fixture(QStringLiteral("plain.xml")));
        QCOMPARE(ReadFile(TempDir() + QStringLiteral("news.xml")), Fixture(QStringLiteral("news.xml")));
        QCOMPARE(RequestedPaths(), QStringList({"HEAD /updates/Modul_12/update_12_3.xml",
                                                "GET /updates/Modul_12/update_12_3.xml",
                                                "HEAD /updates/news.xml", "GET /updates/news.xml"}));
        QVERIFY(LogLines().contains(QStringLiteral("DownloadUpdateXML - HTTPS-Quelle wird verwendet: ") +
                                    FServer.Url(QStringLiteral("/updates/Modul_12/update_12_3.xml"))));
        QVERIFY(LogLines().contains(QStringLiteral("DownloadNewsXML - HTTPS-Quelle wird verwendet: ") +
                                    FServer.Url(QStringLiteral("/updates/news.xml"))));
        QCOMPARE(FFrontEnd->Begins, 2);
    }

    void notAvailablePageGivesFalse()
    {
        if (!FServerError.isEmpty())
            QSKIP(qPrintable(FServerError));
        UseServer(QStringLiteral("/gone/"));
        TUpdateCheck check(&FUpdates);

        QVERIFY(!check.ReadVersionTree(QStringLiteral("Kasse"), 12, 3, true));
        QVERIFY(!check.DownloadNewsXML());

        // The page itself is stored where the descriptor would have been.
        QCOMPARE(ReadFile(FetchedDescriptor()), Fixture(QStringLiteral("not-available.html")));
        QCOMPARE(FUpdates.SortedUpdateKeys(), QList<TUpdateIdentifier>());
    }

    void missingFileLeavesEarlierFileUnread()
    {
        if (!FServerError.isEmpty())
            QSKIP(qPrintable(FServerError));
        UseServer(QStringLiteral("/nirgends/"));
        QVERIFY(WriteFile(FetchedDescriptor(), Fixture(QStringLiteral("plain.xml"))));
        TUpdateCheck check(&FUpdates);

        QVERIFY(!check.DownloadUpdateXML(12, 3));

        QCOMPARE(RequestedPaths(), QStringList({"HEAD /nirgends/Modul_12/update_12_3.xml"}));
        QVERIFY(!check.xmlVersionen().document_element());
    }

    // A local source wins: not a single request goes out.
    void localSourceMakesNoRequest()
    {
        if (!FServerError.isEmpty())
            QSKIP(qPrintable(FServerError));
        UseServer(QStringLiteral("/updates/"));
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                         Path(QStringLiteral("leer")));
        TUpdateCheck check(&FUpdates);

        QVERIFY(!check.DownloadUpdateXML(12, 3));
        QVERIFY(!check.DownloadNewsXML());

        QCOMPARE(RequestedPaths(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updateCheck.moc"
