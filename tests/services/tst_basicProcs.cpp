// GetStrInfoFromIni: which line answers a key, how the file is named and decoded, what happens
// to missing and unreadable files, and the two log lines around every lookup.
#include "core/platform/VorlandtError.h"
#include "core/services/BasicProcs.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <memory>

#include <sys/stat.h>

namespace {

QByteArray Utf16LE(const QString& text)
{
    QByteArray bytes("\xFF\xFE");
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

QByteArray Utf16BE(const QString& text)
{
    QByteArray bytes("\xFE\xFF");
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() >> 8));
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
    }
    return bytes;
}

}  // namespace

class TestBasicProcs : public QObject {
    Q_OBJECT

private:
    // A fresh folder for every test function and data row.
    std::unique_ptr<TPrivateStores> FStores;

    QString Write(const QString& name, const QByteArray& bytes)
    {
        const QString path = FStores->FilePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write fixture %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void init()
    {
        FStores = std::make_unique<TPrivateStores>();
        QVERIFY(FStores->IsValid());
    }

    void cleanup()
    {
        WriteLog(TLogAction::DiscardBuffer, QString());
        FStores.reset();
    }

    void findsTheFirstMatchingLine_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        // clang-format off
        QTest::newRow("key as written") << QByteArray("hauptversion=3\r\n") << "hauptversion" << "3";
        QTest::newRow("capital H in the file") << QByteArray("Hauptversion=3\r\n") << "hauptversion" << "3";
        QTest::newRow("capitals in the key") << QByteArray("hauptversion=3") << "HAUPTVERSION" << "3";
        QTest::newRow("blank before equals sign") << QByteArray("hauptversion =3\r\n") << "hauptversion" << "";
        QTest::newRow("blank after equals sign kept") << QByteArray("hauptversion= 3\r\n") << "hauptversion" << " 3";
        QTest::newRow("trailing blank kept") << QByteArray("hauptversion=3 \r\n") << "hauptversion" << "3 ";
        QTest::newRow("leading blank in the line") << QByteArray(" hauptversion=3") << "hauptversion" << "";
        QTest::newRow("first matching line wins") << QByteArray("hauptversion=1\r\nHAUPTVERSION=2\r\n") << "hauptversion" << "1";
        QTest::newRow("even when its value is empty") << QByteArray("hauptversion=\r\nhauptversion=4\r\n") << "hauptversion" << "";
        QTest::newRow("value after the first equals sign") << QByteArray("url=a=b=c") << "url" << "a=b=c";
        QTest::newRow("key with equals sign never matches") << QByteArray("a=b=c") << "a=b" << "";
        QTest::newRow("line without equals sign skipped") << QByteArray("hauptversion\r\nhauptversion=5") << "hauptversion" << "5";
        QTest::newRow("sections play no part") << QByteArray("[Alt]\r\nwert=1\r\n[Neu]\r\nwert=2\r\n") << "wert" << "1";
        QTest::newRow("longer name does not match") << QByteArray("hauptversionen=1") << "hauptversion" << "";
        QTest::newRow("shorter key does not match") << QByteArray("hauptversion=1") << "haupt" << "";
        QTest::newRow("empty key matches an empty name") << QByteArray("x\r\n=leer") << "" << "leer";
        QTest::newRow("line ends of every kind") << QByteArray("a=1\rb=2\nc=3\r\n") << "b" << "2";
        QTest::newRow("no such key") << QByteArray("a=1\r\n") << "b" << "";
        QTest::newRow("empty file") << QByteArray() << "a" << "";
        QTest::newRow("Windows-1252 umlauts") << QByteArray("Stra\xDF" "e=M\xFCnchen \x80\r\n") << QStringLiteral(u"STRAßE") << QStringLiteral(u"München €");
        QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBFOrt=K\xC3\xB6ln\r\n") << "ort" << QStringLiteral(u"Köln");
        QTest::newRow("UTF-8 umlaut key folds case") << QByteArray("\xEF\xBB\xBF\xC3\xA4nderung=ja") << QStringLiteral(u"Änderung") << "ja";
        QTest::newRow("UTF-16 LE with mark") << Utf16LE(u"x=1\r\nGröße=Groß\r\n"_qs) << QStringLiteral(u"GRÖßE") << QStringLiteral(u"Groß");
        QTest::newRow("UTF-16 BE with mark") << Utf16BE(u"Ort=Müll\r\n"_qs) << "ort" << QStringLiteral(u"Müll");
        // clang-format on
    }

    void findsTheFirstMatchingLine()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QString path = Write(QStringLiteral("siteinfo_7.ini"), content);
        QCOMPARE(GetStrInfoFromIni(path, key), value);
    }

    void appendsIniOnlyWhenMissing_data()
    {
        QTest::addColumn<QString>("onDisk");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("value");
        QTest::newRow("with .ini") << "werte.ini"
                                   << "werte.ini"
                                   << "1";
        QTest::newRow("without .ini") << "werte.ini"
                                      << "werte"
                                      << "1";
        QTest::newRow(".INI is not .ini") << "werte.INI"
                                          << "werte.INI"
                                          << "";
        QTest::newRow("other extension gets .ini") << "werte.txt"
                                                   << "werte.txt"
                                                   << "";
        QTest::newRow("other extension plus .ini") << "werte.txt.ini"
                                                   << "werte.txt"
                                                   << "1";
        QTest::newRow("missing file") << "andere.ini"
                                      << "werte"
                                      << "";
    }

    void appendsIniOnlyWhenMissing()
    {
        QFETCH(QString, onDisk);
        QFETCH(QString, asked);
        QFETCH(QString, value);
        Write(onDisk, "a=1\r\n");
        QCOMPARE(GetStrInfoFromIni(FStores->FilePath(asked), QStringLiteral("a")), value);
    }

    void unreadableFileRaises_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder of that name") << "folder";
        QTest::newRow("named pipe of that name") << "pipe";
    }

    void unreadableFileRaises()
    {
        QFETCH(QString, kind);
        const QString path = FStores->FilePath(QStringLiteral("siteinfo_7.ini"));
        if (kind == u"folder")
            QVERIFY(QDir().mkdir(path));
        else
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        try {
            GetStrInfoFromIni(path, QStringLiteral("hauptversion"));
            QFAIL("no error raised");
        } catch (const EVorlandtError& e) {
            QCOMPARE(e.kind(), EVorlandtError::Kind::InOut);
            QVERIFY2(e.message().startsWith(
                         QStringLiteral("Die Datei \"%1\" kann nicht gelesen werden: ").arg(path)),
                     qPrintable(e.message()));
        }
    }

    void logsStartAndEnd_data()
    {
        QTest::addColumn<QString>("fileArgument");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QString>("result");
        QTest::newRow("found") << "siteinfo_7" << false << "3";
        QTest::newRow("missing file") << "fehlt.ini" << false << "";
        QTest::newRow("unreadable file") << "ordner.ini" << true << "";
    }

    void logsStartAndEnd()
    {
        QFETCH(QString, fileArgument);
        QFETCH(bool, fails);
        QFETCH(QString, result);
        Write(QStringLiteral("siteinfo_7.ini"), "Hauptversion=3\r\n");
        QVERIFY(QDir(FStores->Path()).mkdir(QStringLiteral("ordner.ini")));
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
        WriteLog(TLogAction::StartBuffer, QString());

        const QString path = FStores->FilePath(fileArgument);
        bool raised = false;
        try {
            QCOMPARE(GetStrInfoFromIni(path, QStringLiteral("hauptVersion")), result);
        } catch (const EVorlandtError&) {
            raised = true;
        }
        QCOMPARE(raised, fails);
        const QStringList expected{
            QStringLiteral("GetStrInfoFromIni - Start - Parameters: %1, hauptVersion").arg(path),
            QStringLiteral(u"GetStrInfoFromIni - Ende - Result:\u00B4") + result,
        };
        QCOMPARE(LogBuffer(), std::optional<QStringList>(expected));
    }
};

QTEST_GUILESS_MAIN(TestBasicProcs)
#include "tst_basicProcs.moc"
