// vorlandt-publish as the maker runs it: "check" names every mistake that would make a client
// skip or refuse a file, with the client's own reason and line; "add" enters a version into a
// descriptor without touching the rest of the file, and a client's search then offers it; "sign"
// refuses a file the client would refuse.
#include "core/catalog/Updates.h"
#include "core/platform/text/TextCodec.h"
#include "core/sources/DescriptorFile.h"
#include "core/sources/UpdateCheck.h"
#include "support/FrontEndFixture.h"
#include "support/RunWorld.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

TToolRun Publish(const QStringList& args)
{
    return RunTool(QStringLiteral(VORLANDT_PUBLISH_EXE), args);
}

const QByteArray Notes = "{\\rtf1\\ansi Neu in 12.3.2:\\par Umsatzsteuer mit \\'e4 und \\'fc.\\par}\n";

// A release as a maker publishes it: module 42 at major version 12 with two updates, the news for
// a local source, both signed by the test's key.
const QByteArray GoodDescriptor =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<modul verzeichnis_reg_rootkey=\"{HKLM}\" "
    "verzeichnis_reg_key=\"Software\\KRSoftware\\Module\\Buchhaltung\" "
    "verzeichnis_reg_name=\"Pfad\">\n"
    "  <version nr=\"3\">\n"
    "    <update nr=\"0\" filename=\"update.exe\" typ=\"execute\">\n"
    "      <beschreibung><![CDATA[{\\rtf1 Kontenrahmen}]]></beschreibung>\n"
    "    </update>\n"
    "    <update nr=\"1\" filename=\"update.exe\" typ=\"execute\">\n"
    "      <beschreibung><![CDATA[{\\rtf1 Korrekturen f\\'fcr den Druck}]]></beschreibung>\n"
    "    </update>\n"
    "  </version>\n"
    "</modul>\n";

const QByteArray GoodNews =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<news>\n"
    "  <item id=\"3\" updaterversion=\"6\" datum=\"01.03.2026\">\n"
    "    <beschreibung><![CDATA[{\\rtf1 Neuigkeit}]]></beschreibung>\n  </item>\n</news>\n";

QString Descriptor42()
{
    return QStringLiteral("Modul_42/update_42_12.xml");
}

}  // namespace

class TestVorlandtPublish : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FDir;
    QString FPublicKey;

    QString path(const QString& name) const { return FDir->filePath(name); }
    QString tree() const { return path(QStringLiteral("baum")); }
    QString key() const { return path(QStringLiteral("maker.pem")); }

    void writeGoodTree()
    {
        QVERIFY(WriteFile(tree() + u'/' + Descriptor42(), GoodDescriptor));
        QVERIFY(WriteFile(tree() + QStringLiteral("/news/news.xml"), GoodNews));
        const TToolRun made = Publish({QStringLiteral("sign"), key(), tree() + u'/' + Descriptor42(),
                                       tree() + QStringLiteral("/news/news.xml")});
        QVERIFY2(made.exitCode == 0, made.err.constData());
    }

private slots:
    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        QVERIFY(FDir->isValid());
        const TToolRun made = Publish({QStringLiteral("keygen"), key()});
        QVERIFY2(made.exitCode == 0, made.err.constData());
        FPublicKey = QString::fromLatin1(made.out.trimmed());
    }

    void goodTreeIsReadWhole()
    {
        writeGoodTree();
        TToolRun r = Publish({QStringLiteral("check"), QStringLiteral("--key"), FPublicKey, tree()});
        QVERIFY2(r.exitCode == 0, r.out + r.err);
        QVERIFY(r.err.isEmpty());
        QVERIFY2(r.out.contains("Modul_42/update_42_12.xml: bietet 12.3.0, 12.3.1 an.\n"), r.out.constData());
        QVERIFY2(r.out.contains("Modul_42/update_42_12.xml.sig: Signatur gültig, unbefristet.\n"),
                 r.out.constData());
        QVERIFY2(r.out.contains("news/news.xml: zeigt die Neuigkeit 3"), r.out.constData());

        // What a client with an installed version is offered: only what is newer.
        r = Publish(
            {QStringLiteral("check"), QStringLiteral("--installed"), QStringLiteral("12.3.0"), tree()});
        QVERIFY2(r.exitCode == 0, r.out + r.err);
        QVERIFY2(r.out.contains("Modul_42/update_42_12.xml: bietet einem Client mit 12.3.0 an: 12.3.1.\n"),
                 r.out.constData());
    }

    // Each mistake a maker made in practice: the client skipped or refused the file in silence, or
    // with a warning only its users saw. The check names the file, the line and the client's reason.
    void checkNamesEachMistake_data()
    {
        QTest::addColumn<QByteArray>("mistake");  // what was done, and to what
        QTest::addColumn<QByteArray>("where");    // the file (and line) the message names
        QTest::addColumn<QByteArray>("reason");   // in the client's words

        QTest::newRow("file update_42-12.xml")
            << QByteArray("rename:Modul_42/update_42-12.xml") << QByteArray("Modul_42/update_42-12.xml: ")
            << QByteArray(
                   "Der Updater fragt nie danach. Update-Beschreibungen "
                   "heißen update_42_<Hauptversion>.xml");
        QTest::newRow("folder modul_42/")
            << QByteArray("rename:modul_42/update_42_12.xml") << QByteArray("modul_42/: ")
            << QByteArray("Der Ordner des Moduls 42 heißt \"Modul_42\"");
        QTest::newRow("nr=\"3.2\"")
            << QByteArray("replace:nr=\"1\"|nr=\"3.2\"") << QByteArray("Modul_42/update_42_12.xml:7: ")
            << QByteArray(
                   "(nr=\"3.2\") unter Element \"version\" (nr=\"3\") ist keine ganze "
                   "Zahl. Der Updater meldet, die Datei habe nicht das richtige "
                   "Format, und bietet nur die Updates davor an: 12.3.0.");
        QTest::newRow("nr=\"zwei\"") << QByteArray("replace:<version nr=\"3\">|<version nr=\"zwei\">")
                                     << QByteArray("Modul_42/update_42_12.xml:3: ")
                                     << QByteArray(
                                            "Das Attribut \"nr\" von Element \"version\" (nr=\"zwei\") ist "
                                            "keine ganze Zahl.");
        QTest::newRow("unclosed tag") << QByteArray("replace:    </update>\n  </version>|  </version>")
                                      << QByteArray("Modul_42/update_42_12.xml:9: ")
                                      << QByteArray(
                                             "Start- und End-Tag passen nicht zusammen (Zeile 9). Der "
                                             "Updater überspringt das Modul ohne Meldung.");
        QTest::newRow("declared UTF-8, Latin-1 bytes")
            << QByteArray("replace:Kontenrahmen|Kontenrahmen f\xFCr 2026")
            << QByteArray("Modul_42/update_42_12.xml: ")
            << QByteArray(
                   "in der angegebenen Kodierung \"UTF-8\" ungültig sind. Der Updater überspringt das Modul "
                   "ohne Meldung.");
        QTest::newRow("encoding=\"latin9x\"")
            << QByteArray("replace:UTF-8|latin9x") << QByteArray("Modul_42/update_42_12.xml: ")
            << QByteArray("Die angegebene Kodierung \"latin9x\" ist unbekannt.");
        QTest::newRow("no verzeichnis_reg_* attributes")
            << QByteArray(
                   "replace: verzeichnis_reg_rootkey=\"{HKLM}\" "
                   "verzeichnis_reg_key=\"Software\\KRSoftware\\Module\\Buchhaltung\" "
                   "verzeichnis_reg_name=\"Pfad\"|")
            << QByteArray("Modul_42/update_42_12.xml:2: ")
            << QByteArray(
                   "Keine gültige Rootkey-Angabe in XML-Datei. Der Updater meldet, die Datei habe nicht das "
                   "richtige Format, und bietet keines ihrer Updates an.");
        QTest::newRow("edited after signing")
            << QByteArray("replace:Korrekturen|Korrekturen und mehr")
            << QByteArray("Modul_42/update_42_12.xml.sig: ") << QByteArray("Signatur ungültig.");
        QTest::newRow(".sig not uploaded")
            << QByteArray("remove:Modul_42/update_42_12.xml.sig") << QByteArray("Modul_42/update_42_12.xml: ")
            << QByteArray("Signatur fehlt.");
        QTest::newRow("news at the wrong place")
            << QByteArray("news-rename:news.xml/neuigkeiten.xml") << QByteArray("news/neuigkeiten.xml: ")
            << QByteArray("In news/ liest der Updater nur news.xml.");
        QTest::newRow("news item without updaterversion")
            << QByteArray("news-replace: updaterversion=\"6\"|") << QByteArray("news/news.xml:3: ")
            << QByteArray("NewsItem verlangt höhere Updater-Version als installiert");
        QTest::newRow("news id no number")
            << QByteArray("news-replace:id=\"3\"|id=\"drei\"") << QByteArray("news/news.xml:3: ")
            << QByteArray("Die ID \"drei\" der Neuigkeit ist keine ganze Zahl");
        QTest::newRow("signature expires soon")
            << QByteArray("expiring") << QByteArray("Modul_42/update_42_12.xml.sig: ")
            << QByteArray("Die Signatur läuft am ");
    }

    void checkNamesEachMistake()
    {
        QFETCH(QByteArray, mistake);
        QFETCH(QByteArray, where);
        QFETCH(QByteArray, reason);
        writeGoodTree();
        const QString descriptor = tree() + u'/' + Descriptor42();
        const QString news = tree() + QStringLiteral("/news/news.xml");
        const qsizetype colon = mistake.indexOf(':');
        const QByteArray kind = colon < 0 ? mistake : mistake.left(colon);
        const QByteArray whatBytes = colon < 0 ? QByteArray() : mistake.mid(colon + 1);
        const QString what = QString::fromUtf8(whatBytes);
        QStringList options{QStringLiteral("--key"), FPublicKey};
        if (kind == "rename") {
            QVERIFY(QDir().mkpath(QFileInfo(tree() + u'/' + what).path()));
            QVERIFY(QFile::rename(descriptor, tree() + u'/' + what));
            QVERIFY(QFile::rename(descriptor + QStringLiteral(".sig"),
                                  tree() + u'/' + what + QStringLiteral(".sig")));
            QDir(tree()).rmdir(QStringLiteral("Modul_42"));  // only when the move left it empty
        } else if (kind == "replace" || kind == "news-replace") {
            const QString file = kind == "replace" ? descriptor : news;
            QByteArray bytes = ReadFile(file);
            const qsizetype bar = whatBytes.indexOf('|');
            const QByteArray from = whatBytes.left(bar);
            QVERIFY2(bytes.contains(from), from.constData());
            bytes.replace(from, whatBytes.mid(bar + 1));
            QVERIFY(WriteFile(file, bytes));
            // The maker signed what is wrong: only the edit after signing breaks the signature.
            if (!mistake.contains("mehr")) {
                const TToolRun forced =
                    Publish({QStringLiteral("sign"), QStringLiteral("--force"), key(), file});
                QVERIFY2(forced.exitCode == 0, forced.err.constData());
            }
        } else if (kind == "remove") {
            QVERIFY(QFile::remove(tree() + u'/' + what));
        } else if (kind == "news-rename") {
            QVERIFY(QFile::rename(news, tree() + QStringLiteral("/news/") + what.section(u'/', 1)));
            QVERIFY(QFile::rename(
                news + QStringLiteral(".sig"),
                tree() + QStringLiteral("/news/") + what.section(u'/', 1) + QStringLiteral(".sig")));
        } else if (kind == "expiring") {
            const TToolRun resigned = Publish({QStringLiteral("sign"), QStringLiteral("--expires"),
                                               QStringLiteral("20"), key(), descriptor});
            QVERIFY2(resigned.exitCode == 0, resigned.err.constData());
            options << QStringLiteral("--expires-within") << QStringLiteral("30");
        }

        const TToolRun r = Publish(QStringList{QStringLiteral("check")} + options + QStringList{tree()});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains('\n' + where) || r.err.startsWith(where), r.err.constData());
        QVERIFY2(r.err.contains(reason), r.err.constData());
        QVERIFY2(r.err.contains("ein Client liest nicht alles"), r.err.constData());
    }

    // "add" edits the file's text: whatever encoding, line ends and layout it has, the new entry is
    // one insertion written like its neighbours, and the updater reads the old entries as before.
    void addInsertsOneEntryInTheFilesOwnForm_data()
    {
        QTest::addColumn<QByteArray>("original");
        QTest::addColumn<QString>("encoding");  // of the new entry's bytes
        QTest::addColumn<QByteArray>("inserted");

        const QByteArray root =
            "<modul verzeichnis_reg_rootkey=\"{HKCU}\" verzeichnis_reg_key=\"K\" "
            "verzeichnis_reg_name=\"P\">";
        QTest::newRow("UTF-8, a new sub-version at the end of its minor version")
            << QByteArray(
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + root +
                   "\n  <version nr=\"3\">\n    <update nr=\"1\">\n      <beschreibung>a</beschreibung>\n"
                   "    </update>\n  </version>\n</modul>\n")
            << "UTF-8"
            << QByteArray(
                   "    <update nr=\"2\" filename=\"u.exe\">\n      <beschreibung><![CDATA[{\\rtf1 x}]]>"
                   "</beschreibung>\n    </update>\n");
        QTest::newRow("Windows-1252 with CR LF and tabs, a new minor version between two")
            << QByteArray("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n" + root +
                          "\r\n\t<!-- \xC4nderungen -->\r\n\t<v nr=\"1\">\r\n\t\t<u nr=\"0\"><beschreibung>a"
                          "</beschreibung></u>\r\n\t</v>\r\n\t<v nr=\"4\">\r\n\t\t<u nr=\"0\"><beschreibung>b"
                          "</beschreibung></u>\r\n\t</v>\r\n</modul>\r\n")
            << "windows-1252"
            << QByteArray(
                   "\t<v nr=\"3\">\r\n\t\t<u nr=\"2\" filename=\"u.exe\"><beschreibung><![CDATA[{\\rtf1 x}]]>"
                   "</beschreibung></u>\r\n\t</v>\r\n");
        QTest::newRow("UTF-16 with byte-order mark, all on one line")
            << (QByteArray("\xFF\xFE") + QStringEncoder(QStringConverter::Utf16LE)(QString::fromLatin1(
                                             "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + root +
                                             "<version nr=\"3\"><update nr=\"5\"><beschreibung>a"
                                             "</beschreibung></update></version></modul>")))
            << "UTF-16LE"
            << QByteArray(
                   "<update nr=\"2\" filename=\"u.exe\"><beschreibung><![CDATA[{\\rtf1 x}]]></beschreibung>"
                   "</update>");
        QTest::newRow("an empty minor version written as <version nr=\"3\"></version>")
            << QByteArray(root + "\n  <version nr=\"3\"></version>\n</modul>\n") << "UTF-8"
            << QByteArray(
                   "\n    <update nr=\"2\" filename=\"u.exe\">\n      <beschreibung><![CDATA[{\\rtf1 x}]]>"
                   "</beschreibung>\n    </update>\n  ");
    }

    void addInsertsOneEntryInTheFilesOwnForm()
    {
        QFETCH(QByteArray, original);
        QFETCH(QString, encoding);
        QFETCH(QByteArray, inserted);
        const QString file = tree() + QStringLiteral("/Modul_7/update_7_12.xml");
        QVERIFY(WriteFile(file, original));
        QVERIFY(WriteFile(path(QStringLiteral("x.rtf")), "{\\rtf1 x}\r\n"));
        const TToolRun r =
            Publish({QStringLiteral("add"), QStringLiteral("--modul"), QStringLiteral("7"),
                     QStringLiteral("--version"), QStringLiteral("12.3.2"), QStringLiteral("--text"),
                     path(QStringLiteral("x.rtf")), QStringLiteral("--filename=u.exe"), tree()});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY2(r.out.contains("Modul_7/update_7_12.xml: 12.3.2 eingetragen."), r.out.constData());
        const QByteArray after = ReadFile(file);
        QStringEncoder encoder(qPrintable(encoding));
        const QByteArray added = encoder(QString::fromLatin1(inserted));
        const qsizetype at = after.indexOf(added);
        QVERIFY2(at >= 0, after.constData());
        QCOMPARE(after.left(at) + after.mid(at + added.size()), original);

        const sources::TDescriptorReading read = sources::ReadDescriptorFile(after);
        QCOMPARE(int(read.Outcome), int(sources::TFileReading::TOutcome::Read));
        const sources::TDescriptorReading before = sources::ReadDescriptorFile(original);
        QCOMPARE(read.Updates.size(), before.Updates.size() + 1);
    }

    // What add refuses leaves the file as it was: a version already there, a file the updater
    // does not read whole.
    void addRefusesAndLeavesTheFile_data()
    {
        QTest::addColumn<QByteArray>("original");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("version already there") << GoodDescriptor << QByteArray("12.3.1 steht schon darin");
        QByteArray broken = GoodDescriptor;
        broken.replace("nr=\"0\"", "nr=\"null\"");
        QTest::newRow("malformed file") << broken << QByteArray(":4: Das Attribut \"nr\"");
    }

    void addRefusesAndLeavesTheFile()
    {
        QFETCH(QByteArray, original);
        QFETCH(QByteArray, reason);
        QVERIFY(WriteFile(tree() + u'/' + Descriptor42(), original));
        QVERIFY(WriteFile(path(QStringLiteral("notes.rtf")), Notes));
        const TToolRun r =
            Publish({QStringLiteral("add"), QStringLiteral("--modul=42"), QStringLiteral("--version=12.3.1"),
                     QStringLiteral("--text"), path(QStringLiteral("notes.rtf")), tree()});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(reason), r.err.constData());
        QCOMPARE(ReadFile(tree() + u'/' + Descriptor42()), original);
    }

    // The maker's whole step, as the manual page describes it: add (into the existing file, and a
    // new file for the next major version that takes its directory reference from it), sign,
    // check; then a client searching the local source is offered exactly the new versions.
    void addedVersionIsOfferedByAClientSearch()
    {
        TRunWorld world;
        QVERIFY(world.IsValid());
        QVERIFY(world.AddModule(QStringLiteral("Buchhaltung"), 42, 12, QStringLiteral("Buchhaltung"),
                                {{3, 0}, {3, 1}}));
        QVERIFY(WriteFile(path(QStringLiteral("notes.rtf")), Notes));
        const QString source = world.SourceDir();
        for (const QString& version : {QStringLiteral("12.3.2"), QStringLiteral("13.0.0")}) {
            const TToolRun added =
                Publish({QStringLiteral("add"), QStringLiteral("--modul"), QStringLiteral("42"),
                         QStringLiteral("--version"), version, QStringLiteral("--text"),
                         path(QStringLiteral("notes.rtf")), QStringLiteral("--filename"),
                         QStringLiteral("buchhaltung-%1.exe").arg(version), QStringLiteral("--typ"),
                         QStringLiteral("execute"), QStringLiteral("--sign"), key(), source});
            QVERIFY2(added.exitCode == 0, added.err.constData());
        }
        const TToolRun checked =
            Publish({QStringLiteral("check"), QStringLiteral("--key"), FPublicKey, source});
        QVERIFY2(checked.exitCode == 0, checked.out + checked.err);
        QVERIFY2(checked.out.contains("Modul_42/update_42_12.xml: bietet 12.3.0, 12.3.1, 12.3.2 an."),
                 checked.out.constData());
        QVERIFY2(checked.out.contains("Modul_42/update_42_13.xml: bietet 13.0.0 an."),
                 checked.out.constData());

        // Installed 12.3.1: the search offers 12.3.2 with the notes and attributes as entered.
        QVERIFY(WriteFile(world.ModuleDir(42) + QStringLiteral("siteinfo_42.ini"),
                          "hauptversion=12\r\nnebenversion=3\r\nunterversion=1\r\n"));
        const TFrontEndFixture frontEnd;
        TUpdates updates;
        TUpdateCheck check(&updates);
        QVERIFY(check.ReadVersionTree(QStringLiteral("Buchhaltung"), 42, 12, true));
        updates.RemoveOutdatedUpdates();
        QCOMPARE(updates.SortedUpdateKeys(), QList<TUpdateIdentifier>({{42, 3, 2}}));
        const TUpdateNode& node = *updates.UpdateDictionary().at({42, 3, 2});
        QCOMPARE(node.Dateiname(), QStringLiteral("buchhaltung-12.3.2.exe"));
        QCOMPARE(node.Typ(), TUpdateTyp::utExecute);
        QCOMPARE(node.BeschreibungRTF(), QString::fromLatin1(Notes.trimmed()));

        // A client registered for major version 13 reads the new file, with the directory
        // reference taken over from version 12's.
        updates.Clear();
        QVERIFY(check.ReadVersionTree(QStringLiteral("Buchhaltung"), 42, 13, true));
        QCOMPARE(updates.SortedUpdateKeys(), QList<TUpdateIdentifier>({{42, 0, 0}}));
        QCOMPARE(updates.ModulDictionary().at(42).Zielverzeichnis, world.ModuleDir(42));
    }

    // sign refuses what check would refuse, with the same words; --force signs it anyway, and
    // the older name signs with a warning so that its scripts keep working.
    void signRefusesWhatTheClientRefuses_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("reason");
        QByteArray zwei = GoodDescriptor;
        zwei.replace("nr=\"1\"", "nr=\"zwei\"");
        QTest::newRow("malformed nr") << Descriptor42() << zwei << QByteArray(":7: Das Attribut \"nr\"");
        QByteArray unclosed = GoodDescriptor;
        unclosed.replace("</modul>", "");
        QTest::newRow("unclosed") << Descriptor42() << unclosed
                                  << QByteArray("Der Updater überspringt das Modul");
        QTest::newRow("a name the client never asks for")
            << QStringLiteral("Modul_42/update_42-12.xml") << GoodDescriptor
            << QByteArray("Der Updater fragt nie nach einer Datei namens \"update_42-12.xml\"");
    }

    void signRefusesWhatTheClientRefuses()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, reason);
        const QString file = tree() + u'/' + name;
        QVERIFY(WriteFile(file, content));
        const QString signature = file + QStringLiteral(".sig");

        TToolRun r = Publish({QStringLiteral("sign"), key(), file});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(reason), r.err.constData());
        QVERIFY2(r.err.contains("Nicht signiert (--force signiert trotzdem)."), r.err.constData());
        QVERIFY(!QFileInfo::exists(signature));
        if (name == Descriptor42()) {
            // The same message as the check of the tree gives.
            const TToolRun checked = Publish({QStringLiteral("check"), tree()});
            const QByteArray message = r.err.mid(r.err.indexOf(reason));
            QVERIFY2(checked.err.contains(message.left(message.indexOf(" Nicht signiert"))),
                     checked.err.constData());
        }

        r = Publish({QStringLiteral("sign"), QStringLiteral("--force"), key(), file});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY2(r.err.contains("Warnung: ") && r.err.contains(reason), r.err.constData());
        QVERIFY(QFileInfo::exists(signature));

        QVERIFY(QFile::remove(signature));
        r = RunTool(QStringLiteral(VORLANDT_SIGN_EXE), {QStringLiteral("sign"), key(), file});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY2(r.err.startsWith("vorlandt-sign: Warnung: ") && r.err.contains(reason), r.err.constData());
        QVERIFY(QFileInfo::exists(signature));
    }

    void wrongCallsAreUsageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no command") << QStringList();
        QTest::newRow("check without folder") << QStringList{"check"};
        QTest::newRow("check with two folders") << QStringList{"check", "a", "b"};
        QTest::newRow("check with a malformed key") << QStringList{"check", "--key", "AAAA", "a"};
        QTest::newRow("check --installed 12.3") << QStringList{"check", "--installed", "12.3", "a"};
        QTest::newRow("check --expires-within 0") << QStringList{"check", "--expires-within", "0", "a"};
        QTest::newRow("add without --text") << QStringList{"add", "--modul", "1", "--version", "1.0.0", "a"};
        QTest::newRow("add --version 12.3")
            << QStringList{"add", "--modul", "1", "--version", "12.3", "--text", "n", "a"};
        QTest::newRow("add --modul 042")
            << QStringList{"add", "--modul", "042", "--version", "1.0.0", "--text", "n", "a"};
        QTest::newRow("add --typ starten") << QStringList{"add",    "--modul", "1",     "--version", "1.0.0",
                                                          "--text", "n",       "--typ", "starten",   "a"};
        QTest::newRow("add --verzeichnis-reg-rootkey {hklm}") << QStringList{
            "add",    "--modul", "1", "--version", "1.0.0", "--text", "n", "--verzeichnis-reg-rootkey",
            "{hklm}", "a"};
        QTest::newRow("add --expires without --sign")
            << QStringList{"add", "--modul", "1", "--version", "1.0.0", "--text", "n", "--expires", "5", "a"};
        QTest::newRow("sign --force on verify") << QStringList{"verify", "--force", "AAAA", "a"};
    }

    void wrongCallsAreUsageErrors()
    {
        QFETCH(QStringList, args);
        const TToolRun r = Publish(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains("Aufruf: vorlandt-publish"), r.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestVorlandtPublish)
#include "tst_vorlandtPublish.moc"
