// A whole update run with signature keys configured, from a local source folder and from the
// loopback HTTPS server: which descriptors and news pass, what is logged for the ones that fail,
// that nothing of them stays in the temporary folder, and that without keys no signature is
// ever asked for.
#include "core/catalog/Updates.h"
#include "core/run/UpdateRun.h"
#include "core/sources/SignatureCheck.h"
#include "core/sources/UpdateCheck.h"
#include "support/ScriptedFrontEnd.h"
#include "support/TestSigningKey.h"

#include "RunWorld.h"
#include "download/TestHttpsServer.h"
#include "download/TestPki.h"

#include <QtTest>

#include <algorithm>

namespace {

const TTestKey KeyA('a');
const TTestKey KeyB('b');

// What is done to the signature of module 12's descriptor and of the news file; module 7's
// descriptor is always signed properly by the row's signer.
enum class TDamage {
    None,
    FileChanged,   // one byte of the file changed after signing
    OtherFile,     // the signature of module 7's descriptor
    Truncated,     // the signature file cut off in the middle
    NotBase64,     // 88 characters, none of them base64
    TooLarge,      // far more than any signature file
    Missing,       // no signature file (404 from the server)
    NotAvailable,  // the server's page for a file it does not have
};

const QString Module12 = QStringLiteral("Modul_12/update_12_5.xml");
const QString Module7 = QStringLiteral("Modul_7/update_7_3.xml");
const QString NotAvailablePage =
    QStringLiteral("<html><body><p>Datei steht nicht zur Verf&uuml;gung.</p></body></html>");

QString FileName(const QString& path)
{
    return path.section(u'/', -1);
}

}  // namespace

Q_DECLARE_METATYPE(TDamage)

class tst_SignedFiles : public QObject {
    Q_OBJECT

    std::unique_ptr<TRunWorld> FWorld;
    std::unique_ptr<TScriptedFrontEnd> FFrontEnd;
    std::unique_ptr<TScopedFrontEnd> FScope;
    QTemporaryDir FCertDir;
    TTestPki FPki;
    QString FPkiError;  // why the rows against the loopback server are skipped

    // Where the run finds a file: the local source keeps the news in "news/", the server beside
    // the module folders.
    QString Published(const QString& path, bool server) const
    {
        return FWorld->SourceDir() +
               (path == u"news.xml" && !server ? QStringLiteral("news/news.xml") : path);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (TTestPki::OpensslProgram().isEmpty() || TTestHttpsServer::PythonProgram().isEmpty() ||
            !FCertDir.isValid()) {
            FPkiError = QStringLiteral("openssl or python3 missing: no loopback HTTPS server");
            return;
        }
        FPkiError = FPki.CreateAndTrust(FCertDir.path());
    }

    void init()
    {
        FWorld = std::make_unique<TRunWorld>();
        QVERIFY(FWorld->IsValid());
        FFrontEnd = std::make_unique<TScriptedFrontEnd>();
        FScope = std::make_unique<TScopedFrontEnd>(*FFrontEnd);
        WriteLog(TLogAction::StartBuffer, QString());
    }

    void cleanup()
    {
        const QList<TShownMessage> unanswered = FFrontEnd->Unanswered();
        FScope.reset();
        FFrontEnd.reset();
        FWorld.reset();
        QCOMPARE(unanswered, QList<TShownMessage>());
    }

    void onlySignedFilesAreRead_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<QString>("machineKeys");
        QTest::addColumn<QString>("userKeys");
        QTest::addColumn<char>("signer");  // the key the files are signed with; 0: no signature files
        QTest::addColumn<TDamage>("damage");
        QTest::addColumn<QStringList>("rejected");  // of update_12_5.xml, update_7_3.xml, news.xml
        QTest::addColumn<QString>("reason");

        const QString a = KeyA.PublicBase64();
        const QString b = KeyB.PublicBase64();
        const QString both = a + QStringLiteral(" ") + b;
        const QStringList none;
        const QStringList damaged{QStringLiteral("update_12_5.xml"), QStringLiteral("news.xml")};
        const QStringList all{QStringLiteral("update_12_5.xml"), QStringLiteral("update_7_3.xml"),
                              QStringLiteral("news.xml")};
        const QString invalid = QStringLiteral("Signatur ungültig");
        const QString missing = QStringLiteral("Signatur fehlt");

        // Every case from the local source; over HTTPS the ones where the transport matters.
        for (const bool server : {false, true}) {
            const char* where = server ? "https" : "local";
            auto row = [&](const char* name) {
                return &QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(where, name)));
            };
            *row("signed and good") << server << a << QString() << 'a' << TDamage::None << none << QString();
            *row("one byte changed") << server << a << QString() << 'a' << TDamage::FileChanged << damaged
                                     << invalid;
            *row("signature file too large")
                << server << a << QString() << 'a' << TDamage::TooLarge << damaged << invalid;
            *row("signature missing")
                << server << a << QString() << 'a' << TDamage::Missing << damaged << missing;
            *row("not-available page as signature")
                << server << a << QString() << 'a' << TDamage::NotAvailable << damaged << missing;
            *row("key only in the per-user store")
                << server << QString() << a << '\0' << TDamage::None << none << QString();
            *row("no keys, damaged signatures beside the files")
                << server << QString() << QString() << 'a' << TDamage::Truncated << none << QString();
            if (server)
                continue;
            *row("signature of another file")
                << server << a << QString() << 'a' << TDamage::OtherFile << damaged << invalid;
            *row("truncated signature")
                << server << a << QString() << 'a' << TDamage::Truncated << damaged << invalid;
            *row("signature not base64")
                << server << a << QString() << 'a' << TDamage::NotBase64 << damaged << invalid;
            *row("rotation, signed with the old key")
                << server << both << QString() << 'a' << TDamage::None << none << QString();
            *row("rotation, signed with the new key")
                << server << both << QString() << 'b' << TDamage::None << none << QString();
            *row("old key removed") << server << b << QString() << 'a' << TDamage::None << all << invalid;
            *row("no usable key: every file fails") << server << QStringLiteral("Schluessel") << QString()
                                                    << 'a' << TDamage::None << all << invalid;
            *row("no keys, unsigned files")
                << server << QString() << QString() << '\0' << TDamage::None << none << QString();
        }
    }

    void onlySignedFilesAreRead()
    {
        QFETCH(bool, server);
        QFETCH(QString, machineKeys);
        QFETCH(QString, userKeys);
        QFETCH(char, signer);
        QFETCH(TDamage, damage);
        QFETCH(QStringList, rejected);
        QFETCH(QString, reason);

        if (!machineKeys.isEmpty())
            WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                             machineKeys);
        if (!userKeys.isEmpty())
            WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                             userKeys);

        QVERIFY(FWorld->AddModule(QStringLiteral("Kasse"), 12, 5, QStringLiteral("Kasse"), {{0, 1}}));
        QVERIFY(FWorld->AddModule(QStringLiteral("Lager"), 7, 3, QStringLiteral("Lager"), {{0, 1}}));
        QVERIFY(FWorld->AddNews());
        const QByteArray news = ReadFile(Published(QStringLiteral("news.xml"), false));
        if (server) {
            QVERIFY(QFile::remove(Published(QStringLiteral("news.xml"), false)));
            QVERIFY(WriteFile(Published(QStringLiteral("news.xml"), true), news));
        }

        const TTestKey& key = signer == 'b' ? KeyB : KeyA;
        const QByteArray module7 = ReadFile(Published(Module7, server));
        const QStringList paths{Module12, Module7, QStringLiteral("news.xml")};
        QStringList signatureServed;  // the signature files the server has
        for (const QString& path : paths) {
            const QString file = Published(path, server);
            if (signer == 0)
                continue;
            const QByteArray content = ReadFile(file);
            QVERIFY(!content.isEmpty());
            QByteArray signature = key.SignatureFile(content);
            if (path != Module7) {
                switch (damage) {
                    case TDamage::None:
                        break;
                    case TDamage::FileChanged: {
                        QByteArray changed = content;
                        changed[changed.indexOf("Neu")] = 'M';
                        QVERIFY(WriteFile(file, changed));
                        break;
                    }
                    case TDamage::OtherFile:
                        signature = key.SignatureFile(module7);
                        break;
                    case TDamage::Truncated:
                        signature.truncate(40);
                        break;
                    case TDamage::NotBase64:
                        signature = QByteArray(86, '!') + "==\n";
                        break;
                    case TDamage::TooLarge:
                        signature = signature.repeated(40);
                        break;
                    case TDamage::Missing:
                        continue;
                    case TDamage::NotAvailable:
                        signature = NotAvailablePage.toLatin1();
                        break;
                }
            }
            QVERIFY(WriteFile(TSignatureCheck::SignatureFileName(file), signature));
            signatureServed.append(path);
        }

        TTestHttpsServer httpsServer;
        if (server) {
            if (!FPkiError.isEmpty())
                QSKIP(qPrintable(FPkiError));
            const QString error = httpsServer.Start(FPki.ServerCert, FPki.ServerKey, FWorld->SourceDir());
            if (!error.isEmpty())
                QSKIP(qPrintable(error));
            DeleteValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource);
            WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                             httpsServer.Url(QStringLiteral("/")));
        }

        TUpdates updates;
        TUpdateCheck check(&updates);
        TUpdateRun(updates, check, true).RunUpdateCheck(false);

        // A rejected descriptor is a module without updates; the others go on.
        QStringList offered;
        for (const QList<TUpdateIdentifier>& shown : FFrontEnd->ShownUpdates())
            for (const TUpdateIdentifier& id : shown)
                offered.append(
                    QStringLiteral("%1.%2.%3").arg(id.ModulNr).arg(id.Nebenversion).arg(id.Unterversion));
        QStringList expectedOffered;
        if (!rejected.contains(QStringLiteral("update_7_3.xml")))
            expectedOffered.append(QStringLiteral("7.0.1"));
        if (!rejected.contains(QStringLiteral("update_12_5.xml")))
            expectedOffered.append(QStringLiteral("12.0.1"));
        QCOMPARE(offered, expectedOffered);
        QCOMPARE(FFrontEnd->ShownNews().size(), rejected.contains(QStringLiteral("news.xml")) ? 0 : 1);
        // A failed signature never ends in a box.
        QCOMPARE(FFrontEnd->Messages(), QList<TShownMessage>());

        // One line per rejected file, naming it and the reason; a bad key entry once per run.
        const QStringList log = LogBufferForTesting().value_or(QStringList());
        QStringList fileLines;
        for (const QString& line : log) {
            if (line.startsWith(QStringLiteral("Signaturprüfung - ")) &&
                !line.contains(QStringLiteral("Schlüssel")))
                fileLines.append(line);
        }
        QStringList expectedLines;
        for (const QString& name : rejected)
            expectedLines.append(QStringLiteral("Signaturprüfung - %1: %2").arg(name, reason));
        fileLines.sort();
        expectedLines.sort();
        QCOMPARE(fileLines, expectedLines);
        QCOMPARE(log.filter(QStringLiteral("ungültiger Schlüssel in SignatureKeys")).size(),
                 machineKeys == u"Schluessel" ? 1 : 0);

        // Neither a rejected file nor any signature stays in the temporary folder.
        const QStringList signatureFiles =
            QDir(FWorld->TempDir()).entryList({QStringLiteral("*.sig")}, QDir::Files);
        QCOMPARE(signatureFiles, QStringList());
        for (const QString& path : paths)
            QCOMPARE(QFileInfo::exists(FWorld->TempDir() + FileName(path)),
                     !rejected.contains(FileName(path)));

        // Signatures are asked for the way the file is, HEAD then GET; without keys, never.
        if (server) {
            QStringList signatureRequests;
            for (const TRecordedRequest& request : httpsServer.Requests()) {
                if (request.Path.endsWith(QStringLiteral(".sig")))
                    signatureRequests.append(request.Method + u' ' + request.Path);
            }
            QStringList expectedRequests;
            if (!machineKeys.isEmpty()) {
                for (const QString& path : paths) {
                    expectedRequests.append(QStringLiteral("HEAD /") + path + QStringLiteral(".sig"));
                    if (signatureServed.contains(path))
                        expectedRequests.append(QStringLiteral("GET /") + path + QStringLiteral(".sig"));
                }
            }
            signatureRequests.sort();
            expectedRequests.sort();
            QCOMPARE(signatureRequests, expectedRequests);
        }
    }

    // The window keeps one checker for all its searches: each search reads the keys anew.
    void keysChangedBetweenSearchesCountFromTheNextSearch()
    {
        QVERIFY(FWorld->AddModule(QStringLiteral("Kasse"), 12, 5, QStringLiteral("Kasse"), {{0, 1}}));
        TUpdates updates;
        TUpdateCheck check(&updates);
        TUpdateRun(updates, check, false).RunUpdateCheck(true);
        QCOMPARE(FFrontEnd->ShownUpdates().size(), 1);

        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                         KeyA.PublicBase64());
        FFrontEnd->Answer({1});  // "Keine neuen Updates gefunden."
        TUpdateRun(updates, check, false).RunUpdateCheck(true);
        QCOMPARE(FFrontEnd->ShownUpdates().size(), 1);
        QCOMPARE(LogBufferForTesting().value_or(QStringList()).filter(QStringLiteral("Signaturprüfung - ")),
                 QStringList(QStringLiteral("Signaturprüfung - update_12_5.xml: Signatur fehlt")));
    }
};

QTEST_GUILESS_MAIN(tst_SignedFiles)
#include "tst_signedFiles.moc"
