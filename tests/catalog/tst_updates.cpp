// The update catalog: which offered updates survive against the installed version, the key and
// record rules of AddUpdate, the conversions of the descriptor's texts, and the sorted keys.
#include "core/catalog/Updates.h"
#include "core/platform/VorlandtError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

struct Offer {
    QString name = QStringLiteral("Vorlandt Kasse");
    qint32 modulNr = 7;
    qint32 haupt = 1;
    qint32 neben = 0;
    qint32 unter = 0;
    QString datei = QStringLiteral("kasse.exe");
    QString still = QStringLiteral("nein");
    QString typ = QStringLiteral("execute");
    QString lizenz = QStringLiteral("https://download.example/lizenz.rtf");
    QString updater = QStringLiteral("6");
    QString rtf = QStringLiteral("{\\rtf1 Neu}");
    QString ziel;
};

void Add(TUpdates& updates, const Offer& o)
{
    updates.AddUpdate(o.name, o.modulNr, o.haupt, o.neben, o.unter, o.datei, o.still, o.typ, o.lizenz,
                      o.updater, o.rtf, o.ziel);
}

// "1.2 3.-4" → {(m,1,2), (m,3,-4)}
QList<TUpdateIdentifier> Keys(qint32 modulNr, const QString& text)
{
    QList<TUpdateIdentifier> keys;
    for (const QString& pair : text.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList parts = pair.split(u'.');
        keys.append({modulNr, parts.value(0).toInt(), parts.value(1).toInt()});
    }
    return keys;
}

const TUpdateNode& OnlyNode(const TUpdates& updates)
{
    Q_ASSERT(updates.UpdateDictionary().size() == 1);
    return *updates.UpdateDictionary().begin()->second;
}

}  // namespace

Q_DECLARE_METATYPE(TUpdateIdentifier)
Q_DECLARE_METATYPE(TUpdateTyp)

// Found by QCOMPARE through argument-dependent lookup, so failures show the keys.
char* toString(const TUpdateIdentifier& id)
{
    return qstrdup(
        QStringLiteral("(%1,%2,%3)").arg(id.ModulNr).arg(id.Nebenversion).arg(id.Unterversion).toUtf8());
}

class TestUpdates : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FEmptyDir;

    QString Fixture(const QString& name)
    {
        if (name.isEmpty())
            return FEmptyDir.path() + u'/';
        const QString dir = QFINDTESTDATA(QStringLiteral("data/") + name);
        return dir.isEmpty() ? QString() : dir + u'/';
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(FEmptyDir.isValid()); }

    void keepsOnlyUpdatesNewerThanInstalled_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QList<int>>("installed");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("kept");
        // clang-format off
        QTest::newRow("no siteinfo counts as 0.0.0")
            << "" << QList<int>{0, 0, 0} << "0.0 0.1 1.0 -1.5 0.-1 -1.-1" << "0.1 1.0";
        QTest::newRow("installed 1.3.5")
            << "installed-1-3-5" << QList<int>{1, 3, 5} << "3.5 3.6 4.0 4.-1 2.9 3.4 0.0 10.0" << "3.6 4.-1 4.0 10.0";
        QTest::newRow("key with capital H, major version takes no part")
            << "capital-h" << QList<int>{3, 0, 2} << "0.2 0.3 1.0" << "0.3 1.0";
        QTest::newRow("blanks around equals sign do not match")
            << "blanks-around-equals" << QList<int>{0, 0, 0} << "0.0 0.1" << "0.1";
        QTest::newRow("values that are no numbers count as 0")
            << "not-numbers" << QList<int>{0, 0, 0} << "0.0 0.1" << "0.1";
        QTest::newRow("hexadecimal, leading blank and sign")
            << "hex-and-sign" << QList<int>{10, 2, -1} << "2.-1 2.0 1.9" << "2.0";
        // clang-format on
    }

    void keepsOnlyUpdatesNewerThanInstalled()
    {
        QFETCH(QString, fixture);
        QFETCH(QList<int>, installed);
        QFETCH(QString, offered);
        QFETCH(QString, kept);
        const QString ziel = Fixture(fixture);
        QVERIFY2(!ziel.isEmpty(), qPrintable(fixture));

        TUpdates updates;
        for (const TUpdateIdentifier& key : Keys(7, offered))
            Add(updates, {.neben = key.Nebenversion, .unter = key.Unterversion, .ziel = ziel});

        const TModulInformation& modul = updates.ModulDictionary().at(7);
        QCOMPARE((QList<int>{modul.LocalHauptversion, modul.LocalNebenversion, modul.LocalUnterversion}),
                 installed);

        updates.RemoveOutdatedUpdates();
        QCOMPARE(updates.SortedUpdateKeys(), Keys(7, kept));
        // Module records stay, even when nothing of the module is left.
        QCOMPARE(updates.ModulDictionary().size(), size_t(1));
    }

    void modulesAreJudgedByTheirOwnInstalledVersion()
    {
        TUpdates updates;
        Add(updates, {.modulNr = 7, .neben = 3, .unter = 5, .ziel = Fixture("installed-1-3-5")});
        Add(updates, {.modulNr = 8, .neben = 3, .unter = 5, .ziel = Fixture("")});
        updates.RemoveOutdatedUpdates();
        QCOMPARE(updates.SortedUpdateKeys(), (QList<TUpdateIdentifier>{{8, 3, 5}}));
    }

    void sortsKeys_data()
    {
        QTest::addColumn<QList<TUpdateIdentifier>>("keys");
        QTest::addColumn<QList<TUpdateIdentifier>>("sorted");
        QTest::newRow("empty") << QList<TUpdateIdentifier>{} << QList<TUpdateIdentifier>{};
        QTest::newRow("module, then minor, then sub-version")
            << QList<TUpdateIdentifier>{{2, 1, 0}, {1, 3, 5}, {1, 3, 2}}
            << QList<TUpdateIdentifier>{{1, 3, 2}, {1, 3, 5}, {2, 1, 0}};
        QTest::newRow("numbers, not texts; negatives first")
            << QList<TUpdateIdentifier>{{10, 0, 0}, {9, 10, 0}, {9, 9, 10}, {-1, 0, 0}, {9, 9, -2}}
            << QList<TUpdateIdentifier>{{-1, 0, 0}, {9, 9, -2}, {9, 9, 10}, {9, 10, 0}, {10, 0, 0}};
    }

    void sortsKeys()
    {
        QFETCH(QList<TUpdateIdentifier>, keys);
        QFETCH(QList<TUpdateIdentifier>, sorted);
        TUpdates updates;
        for (const TUpdateIdentifier& key : keys)
            Add(updates, {.modulNr = key.ModulNr,
                          .neben = key.Nebenversion,
                          .unter = key.Unterversion,
                          .ziel = Fixture("")});
        QCOMPARE(updates.SortedUpdateKeys(), sorted);
    }

    void sameKeyKeepsTheSecondNodeOnly()
    {
        TUpdates updates;
        Add(updates, {.neben = 1, .unter = 2, .datei = "erste.exe", .ziel = Fixture("")});
        Add(updates, {.neben = 1, .unter = 2, .datei = "zweite.exe", .still = "ja", .ziel = Fixture("")});
        QCOMPARE(updates.UpdateDictionary().size(), size_t(1));
        const TUpdateNode& node = *updates.UpdateDictionary().at({7, 1, 2});
        QCOMPARE(node.Dateiname(), QStringLiteral("zweite.exe"));
        QVERIFY(node.StillesUpdate());
    }

    void sameModulNrSharesOneRecordLaterWins()
    {
        TUpdates updates;
        Add(updates, {.name = "Kasse", .haupt = 1, .neben = 1, .unter = 0, .ziel = Fixture("")});
        Add(updates,
            {.name = "Lager", .haupt = 2, .neben = 1, .unter = 1, .ziel = Fixture("installed-1-3-5")});
        Add(updates,
            {.name = "Lager", .haupt = 2, .neben = 1, .unter = 1, .ziel = Fixture("installed-1-3-5")});
        QCOMPARE(updates.ModulDictionary().size(), size_t(1));
        const TModulInformation& modul = updates.ModulDictionary().at(7);
        QCOMPARE(modul.Modulbezeichnung, QStringLiteral("Lager"));
        QCOMPARE(modul.Hauptversion, 2);
        QCOMPARE(modul.XMLFilename, QStringLiteral("update_7_2.xml"));
        QCOMPARE(modul.Zielverzeichnis, Fixture("installed-1-3-5"));
        QCOMPARE(modul.LocalNebenversion, 3);
        QCOMPARE(updates.SortedUpdateKeys(), (QList<TUpdateIdentifier>{{7, 1, 0}, {7, 1, 1}}));
    }

    void storesTheDescriptorTexts()
    {
        TUpdates updates;
        Add(updates, {.modulNr = 12,
                      .haupt = 2024,
                      .neben = 3,
                      .unter = 1,
                      .datei = "Setup_12.exe",
                      .lizenz = "https://x/l.rtf",
                      .rtf = "{\\rtf1 \\b Neu\\b0}",
                      .ziel = Fixture("")});
        const TUpdateNode& node = OnlyNode(updates);
        QCOMPARE(node.Dateiname(), QStringLiteral("Setup_12.exe"));
        QCOMPARE(node.LizenzURL(), QStringLiteral("https://x/l.rtf"));
        QCOMPARE(node.BeschreibungRTF(), QStringLiteral("{\\rtf1 \\b Neu\\b0}"));
        QVERIFY(node.CommandLineParam().isEmpty());
        QCOMPARE(updates.ModulDictionary().at(12).XMLFilename, QStringLiteral("update_12_2024.xml"));
    }

    void replacesOldProductName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("bezeichnung");
        QTest::newRow("alone") << "KTVO"
                               << "Zahlwerk";
        QTest::newRow("inside a longer name") << "Vorlandt KTVO-Pro 2024"
                                              << "Vorlandt Zahlwerk-Pro 2024";
        QTest::newRow("glued to letters") << "XKTVOY"
                                          << "XZahlwerkY";
        QTest::newRow("every occurrence") << "KTVO/KTVO"
                                          << "Zahlwerk/Zahlwerk";
        QTest::newRow("lower case untouched") << "ktvo Kasse"
                                              << "ktvo Kasse";
        QTest::newRow("mixed case untouched") << "Ktvo"
                                              << "Ktvo";
        QTest::newRow("empty") << ""
                               << "";
    }

    void replacesOldProductName()
    {
        QFETCH(QString, name);
        QFETCH(QString, bezeichnung);
        TUpdates updates;
        Add(updates, {.name = name, .ziel = Fixture("")});
        QCOMPARE(updates.ModulDictionary().at(7).Modulbezeichnung, bezeichnung);
    }

    void silentOnlyForExactlyJa_data()
    {
        QTest::addColumn<QString>("still");
        QTest::addColumn<bool>("silent");
        QTest::newRow("ja") << "ja" << true;
        QTest::newRow("Ja") << "Ja" << false;
        QTest::newRow("JA") << "JA" << false;
        QTest::newRow("with blank") << "ja " << false;
        QTest::newRow("nein") << "nein" << false;
        QTest::newRow("yes") << "yes" << false;
        QTest::newRow("empty") << "" << false;
    }

    void silentOnlyForExactlyJa()
    {
        QFETCH(QString, still);
        QFETCH(bool, silent);
        TUpdates updates;
        Add(updates, {.still = still, .ziel = Fixture("")});
        QCOMPARE(OnlyNode(updates).StillesUpdate(), silent);
    }

    void updaterVersionIsAnIntegerOrMinusOne_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("decimal") << "6" << 6;
        QTest::newRow("hexadecimal with $") << "$1F" << 31;
        QTest::newRow("hexadecimal with 0x") << "0x10" << 16;
        QTest::newRow("leading blank") << " 7" << 7;
        QTest::newRow("trailing blank") << "7 " << -1;
        QTest::newRow("letters") << "abc" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("too large") << "99999999999" << -1;
        QTest::newRow("negative") << "-3" << -3;
    }

    void updaterVersionIsAnIntegerOrMinusOne()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        TUpdates updates;
        Add(updates, {.updater = text, .ziel = Fixture("")});
        QCOMPARE(OnlyNode(updates).UpdaterVersion(), value);
    }

    void updateTypFromExactText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<TUpdateTyp>("typ");
        QTest::newRow("execute") << "execute" << TUpdateTyp::utExecute;
        QTest::newRow("exec_on_restart") << "exec_on_restart" << TUpdateTyp::utExec_on_restart;
        QTest::newRow("capitalised") << "Execute" << TUpdateTyp::utNone;
        QTest::newRow("with blank") << "execute " << TUpdateTyp::utNone;
        QTest::newRow("other") << "install" << TUpdateTyp::utNone;
        QTest::newRow("empty") << "" << TUpdateTyp::utNone;
    }

    void updateTypFromExactText()
    {
        QFETCH(QString, text);
        QFETCH(TUpdateTyp, typ);
        TUpdates updates;
        Add(updates, {.typ = text, .ziel = Fixture("")});
        QCOMPARE(OnlyNode(updates).Typ(), typ);
    }

    void unreadableSiteinfoRaisesAndKeepsEarlierUpdates_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder of that name") << "folder";
#ifndef _WIN32
        QTest::newRow("named pipe of that name") << "pipe";
#endif
    }

    void unreadableSiteinfoRaisesAndKeepsEarlierUpdates()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString siteinfo = dir.filePath(QStringLiteral("siteinfo_9.ini"));
        if (kind == u"folder")
            QVERIFY(QDir().mkdir(siteinfo));
#ifndef _WIN32
        else
            QCOMPARE(mkfifo(QFile::encodeName(siteinfo).constData(), 0600), 0);
#endif

        TUpdates updates;
        Add(updates, {.modulNr = 7, .neben = 1, .unter = 0, .ziel = Fixture("")});
        try {
            Add(updates, {.modulNr = 9, .neben = 1, .unter = 0, .ziel = dir.path() + u'/'});
            QFAIL("no error raised");
        } catch (const EVorlandtError& e) {
            QCOMPARE(e.kind(), EVorlandtError::Kind::InOut);
            QVERIFY2(e.message().contains(siteinfo), qPrintable(e.message()));
        }
        QCOMPARE(updates.SortedUpdateKeys(), (QList<TUpdateIdentifier>{{7, 1, 0}}));
        QCOMPARE(updates.ModulDictionary().count(9), size_t(0));
    }

    void clearEmptiesBoth()
    {
        TUpdates updates;
        Add(updates, {.modulNr = 7, .ziel = Fixture("")});
        Add(updates, {.modulNr = 8, .ziel = Fixture("")});
        updates.Clear();
        QVERIFY(updates.UpdateDictionary().empty());
        QVERIFY(updates.ModulDictionary().empty());
        QVERIFY(updates.SortedUpdateKeys().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUpdates)
#include "tst_updates.moc"
