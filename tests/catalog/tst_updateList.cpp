// The notification dialog's decisions without widgets: which panels and entries the pending
// updates give, the description file it writes and reads back, and which links it opens.
#include "support/UpdateListWorld.h"

#include "core/catalog/UpdateList.h"
#include "core/platform/VorlandtError.h"

#include <QRegularExpression>
#include <QTest>

#include <memory>

namespace {

// One update per text: "display name|ModulNr|Hauptversion|Nebenversion|Unterversion".
using TUpdateRows = QStringList;

// The panels as "name: entry, entry", the tags following in order.
QStringList Describe(const QList<TUpdateListPanel>& panels)
{
    QStringList result;
    int expectedTag = 0;
    for (const TUpdateListPanel& panel : panels) {
        QStringList texts;
        for (const TUpdateListEntry& entry : panel.Entries) {
            texts << entry.Text;
            if (entry.Tag != expectedTag++)
                texts << QStringLiteral("(tag %1)").arg(entry.Tag);
        }
        result << panel.Modulbezeichnung + QStringLiteral(": ") + texts.join(QStringLiteral(", "));
    }
    return result;
}

const QString BoldRtf = QStringLiteral(
    "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Tahoma;}}\n"
    "\\pard{\\b Schnellere Tagesabschl\\'fcsse}\\par\n"
    "Mehr unter {\\field{\\*\\fldinst{HYPERLINK \"https://www.vorlandt.example/kasse\"}}"
    "{\\fldrslt Kasse}}\\par\n}");

// The HTML, tags removed, holds the text.
bool Shows(const QString& html, const QString& text)
{
    QString plain = html;
    plain.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    plain.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return plain.contains(text);
}

}  // namespace

class TestUpdateList : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TUpdateListWorld> FWorld;

private Q_SLOTS:
    void init()
    {
        FWorld = std::make_unique<TUpdateListWorld>();
        QVERIFY(FWorld->IsValid());
    }
    void cleanup() { FWorld.reset(); }

    void panelsFollowRunsOfEqualDisplayNames_data()
    {
        QTest::addColumn<TUpdateRows>("updates");
        QTest::addColumn<QStringList>("panels");
        QTest::newRow("empty catalog") << TUpdateRows{} << QStringList{};
        QTest::newRow("two modules, same name, one panel")
            << TUpdateRows{"Vorlandt Kasse|1|5|2|0", "Vorlandt Kasse|2|3|0|1"}
            << QStringList{"Vorlandt Kasse: Version 5.2.0, Version 3.0.1"};
        QTest::newRow("different names, two panels")
            << TUpdateRows{"Vorlandt Lager|2|1|1|0", "Vorlandt Kasse|1|5|2|0"}
            << QStringList{"Vorlandt Kasse: Version 5.2.0", "Vorlandt Lager: Version 1.1.0"};
        QTest::newRow("same name separated by another module, two panels")
            << TUpdateRows{"Vorlandt Kasse|1|5|2|0", "Vorlandt Lager|2|1|1|0", "Vorlandt Kasse|3|2|0|4"}
            << QStringList{"Vorlandt Kasse: Version 5.2.0", "Vorlandt Lager: Version 1.1.0",
                           "Vorlandt Kasse: Version 2.0.4"};
        QTest::newRow("versions in numeric order")
            << TUpdateRows{"Vorlandt Kasse|1|5|2|10", "Vorlandt Kasse|1|5|10|0", "Vorlandt Kasse|1|5|2|9"}
            << QStringList{"Vorlandt Kasse: Version 5.2.9, Version 5.2.10, Version 5.10.0"};
        QTest::newRow("extreme numbers")
            << TUpdateRows{"Vorlandt Kasse|2147483647|-2147483648|2147483647|2147483647"}
            << QStringList{"Vorlandt Kasse: Version -2147483648.2147483647.2147483647"};
    }
    void panelsFollowRunsOfEqualDisplayNames()
    {
        QFETCH(TUpdateRows, updates);
        QFETCH(QStringList, panels);
        for (const QString& row : updates) {
            const QStringList f = row.split(u'|');
            FWorld->Add(f[0], f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt());
        }
        QCOMPARE(Describe(GroupUpdateList(FWorld->Updates)), panels);
    }

    void entriesCarryTheirKeys()
    {
        FWorld->Add(QStringLiteral("Vorlandt Lager"), 2, 1, 1, 0);
        FWorld->Add(QStringLiteral("Vorlandt Kasse"), 1, 5, 2, 0);
        const QList<TUpdateListPanel> panels = GroupUpdateList(FWorld->Updates);
        QCOMPARE(panels.size(), 2);
        QCOMPARE(panels[0].Entries[0].Key, (TUpdateIdentifier{1, 2, 0}));
        QCOMPARE(panels[1].Entries[0].Key, (TUpdateIdentifier{2, 1, 0}));
        QCOMPARE(panels[1].Entries[0].Tag, 1);
    }

    void descriptionFileHoldsTheLinesInTheCodePage_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QByteArray>("fileBytes");
        QTest::addColumn<QString>("shownText");
        QTest::newRow("rich text") << BoldRtf << BoldRtf.toLatin1().replace("\n", "\r\n") + "\r\n"
                                   << QStringLiteral("Schnellere Tagesabschlüsse");
        QTest::newRow("rich text with a character outside the code page")
            << QStringLiteral("{\\rtf1\\ansi Preis in \u20ac und \u0107\\par}") << QByteArray()
            << QStringLiteral("Preis in \u20ac und \u0107");
        QTest::newRow("plain text") << QStringLiteral("Grüße\nzweite Zeile")
                                    << QByteArray(
                                           "Gr\xfc\xdf"
                                           "e\r\nzweite Zeile\r\n")
                                    << QStringLiteral("zweite Zeile");
        QTest::newRow("empty description") << QString() << QByteArray() << QString();
    }
    void descriptionFileHoldsTheLinesInTheCodePage()
    {
        QFETCH(QString, description);
        QFETCH(QByteArray, fileBytes);
        QFETCH(QString, shownText);
        FWorld->Add(QStringLiteral("Vorlandt Kasse"), 1, 5, 2, 0, description);
        const QString html = LoadUpdateDescriptionHtml(FWorld->Updates, TUpdateIdentifier{1, 2, 0});
        QFile file(FWorld->DescriptionFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        if (!fileBytes.isEmpty())
            QCOMPARE(written, fileBytes);
        QVERIFY2(!written.contains('?'), written.constData());
        QVERIFY2(Shows(html, shownText), qPrintable(html));
    }

    void descriptionOfAKeyNoLongerInTheCatalogIsEmpty()
    {
        QCOMPARE(LoadUpdateDescriptionHtml(FWorld->Updates, TUpdateIdentifier{1, 2, 0}), QString());
        QVERIFY(!QFile::exists(FWorld->DescriptionFile()));
    }

    void descriptionFileThatCannotBeWrittenRaises_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("temporary folder missing") << QStringLiteral("missing tmp");
        QTest::newRow("folder in the file's place") << QStringLiteral("folder");
    }
    void descriptionFileThatCannotBeWrittenRaises()
    {
        QFETCH(QString, obstacle);
        FWorld->Add(QStringLiteral("Vorlandt Kasse"), 1, 5, 2, 0, BoldRtf);
        if (obstacle == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(FWorld->DescriptionFile() + QStringLiteral("/inhalt")));
        } else {
            qputenv("TMPDIR", QFile::encodeName(FWorld->Path(QStringLiteral("gibt-es-nicht"))));
        }
        try {
            LoadUpdateDescriptionHtml(FWorld->Updates, TUpdateIdentifier{1, 2, 0});
            QFAIL("no error raised");
        } catch (const EVorlandtError& e) {
            QVERIFY(!e.message().isEmpty());
        }
        // What stood in the way is left as it was.
        if (obstacle == QLatin1String("folder"))
            QVERIFY(QFileInfo(FWorld->DescriptionFile() + QStringLiteral("/inhalt")).isDir());
    }

    void onlyWebAddressesOpen_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opens");
        QTest::newRow("https") << QStringLiteral("https://www.vorlandt.example/lizenz") << true;
        QTest::newRow("http, capital scheme") << QStringLiteral("HTTP://vorlandt.example/") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("local file") << QStringLiteral("file:///etc/passwd") << false;
        QTest::newRow("plain path") << QStringLiteral("/usr/bin/xterm") << false;
        QTest::newRow("mail") << QStringLiteral("mailto:info@vorlandt.example") << false;
        QTest::newRow("script") << QStringLiteral("javascript:alert(1)") << false;
        QTest::newRow("web scheme without host") << QStringLiteral("https:///etc/passwd") << false;
        QTest::newRow("ftp") << QStringLiteral("ftp://vorlandt.example/x") << false;
    }
    void onlyWebAddressesOpen()
    {
        QFETCH(QString, address);
        QFETCH(bool, opens);
        QCOMPARE(MayOpenUpdateLink(address), opens);
    }
};

QTEST_GUILESS_MAIN(TestUpdateList)
#include "tst_updateList.moc"
