// A whole update run with signature keys configured, from a local source folder and from the
// loopback HTTPS server: which descriptors and news pass, what is logged for the ones that fail,
// that nothing of them stays in the temporary folder, that a damaged file says so only when its
// signature held, that a genuine file served under another name or past its signature's expiry
// is refused, and that without keys no signature is ever asked for.
#include "core/catalog/Updates.h"
#include "core/run/UpdateRun.h"
#include "core/sources/SignatureCheck.h"
#include "core/sources/UpdateCheck.h"
#include "support/FrontEndFixture.h"
#include "support/ScriptedFrontEnd.h"
#include "support/TestClock.h"
#include "support/TestSigningKey.h"

#include "support/RunWorld.h"
#include "support/net/TestHttpsServer.h"
#include "support/net/TestPki.h"

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
    TooLarge,      // a signature followed by a megabyte of further signatures
    Missing,       // no signature file (404 from the server)
    NotAvailable,  // the server's page for a file it does not have
};

// What is wrong with the content of module 12's descriptor and of the news file before they are
// signed. The file is parsed while its signature is checked: only a file whose signature held
// may say that it is damaged.
enum class TContent {
    Fine,
    BadEncoding,  // a byte that is no UTF-8 in a file that declares UTF-8
    NoXml,        // cut off in the middle
    BadUpdate,    // the descriptor offers a further update whose "nr" is no number; the news stay fine
};

QByteArray Damaged(QByteArray content, TContent damage, bool descriptor)
{
    switch (damage) {
        case TContent::Fine:
            break;
        case TContent::BadEncoding:
            content.insert(content.indexOf("Neu") + 3, '\xFF');
            break;
        case TContent::NoXml:
            content.truncate(content.indexOf("</"));
            break;
        case TContent::BadUpdate:
            if (descriptor)
                content.replace("</modul>",
                                "  <version nr=\"1\">\n    <update nr=\"x\" filename=\"m12_1_x.exe\">"
                                "<beschreibung/></update>\n  </version>\n</modul>");
            break;
    }
    return content;
}

const QString Module12 = QStringLiteral("Modul_12/update_12_5.xml");
const QString Module7 = QStringLiteral("Modul_7/update_7_3.xml");
const QString NotAvailablePage =
    QStringLiteral("<html><body><p>Datei steht nicht zur Verf&uuml;gung.</p></body></html>");

QString FileName(const QString& path)
{
    return path.section(u'/', -1);
}

// The expiry the maker gives in the rows that have one.
QDateTime Expiry()
{
    return QDateTime(QDate(2027, 2, 1), QTime(0, 0), Qt::UTC);
}

}  // namespace

Q_DECLARE_METATYPE(TDamage)
Q_DECLARE_METATYPE(TContent)

class tst_SignedFiles : public QObject {
    Q_OBJECT

    std::unique_ptr<TRunWorld> FWorld;
    std::unique_ptr<TFrontEndFixture> FFrontEnd;
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

    // The server's copy of the news stands beside the module folders, not in "news/".
    bool MoveNewsToServerPlace() const
    {
        const QByteArray news = ReadFile(Published(QStringLiteral("news.xml"), false));
        return QFile::remove(Published(QStringLiteral("news.xml"), false)) &&
               WriteFile(Published(QStringLiteral("news.xml"), true), news);
    }

    // Serves the source folder over loopback HTTPS and points the user's settings at it; the
    // reason to skip the row when no server can be started.
    QString ServeSourceOverHttps(TTestHttpsServer& httpsServer) const
    {
        if (!FPkiError.isEmpty())
            return FPkiError;
        const QString error = httpsServer.Start(FPki.ServerCert, FPki.ServerKey, FWorld->SourceDir());
        if (!error.isEmpty())
            return error;
        DeleteValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource);
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         httpsServer.Url(QStringLiteral("/")));
        return QString();
    }

private Q_SLOTS:
    void initTestCase() { FPkiError = TrustedLoopbackPki(FPki, FCertDir); }

    void init()
    {
        FWorld = std::make_unique<TRunWorld>();
        QVERIFY(FWorld->IsValid());
        FFrontEnd = std::make_unique<TFrontEndFixture>(TScriptCheck::Unanswered);
        WriteLog(TLogAction::StartBuffer, QString());
    }

    void cleanup()
    {
        FFrontEnd.reset();
        FWorld.reset();
    }

    void onlySignedFilesAreRead_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<QString>("machineKeys");
        QTest::addColumn<QString>("userKeys");
        QTest::addColumn<char>("signer");  // the key the files are signed with; 0: no signature files
        QTest::addColumn<TDamage>("damage");
        QTest::addColumn<TContent>("content");
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
            *row("signed and good") << server << a << QString() << 'a' << TDamage::None << TContent::Fine
                                    << none << QString();
            *row("one byte changed") << server << a << QString() << 'a' << TDamage::FileChanged
                                     << TContent::Fine << damaged << invalid;
            *row("signature file too large") << server << a << QString() << 'a' << TDamage::TooLarge
                                             << TContent::Fine << damaged << invalid;
            *row("signature missing") << server << a << QString() << 'a' << TDamage::Missing << TContent::Fine
                                      << damaged << missing;
            *row("not-available page as signature")
                << server << a << QString() << 'a' << TDamage::NotAvailable << TContent::Fine << damaged
                << missing;
            *row("key only in the per-user store")
                << server << QString() << a << '\0' << TDamage::None << TContent::Fine << none << QString();
            *row("no keys, damaged signatures beside the files")
                << server << QString() << QString() << 'a' << TDamage::Truncated << TContent::Fine << none
                << QString();
            if (server)
                continue;
            *row("signature of another file") << server << a << QString() << 'a' << TDamage::OtherFile
                                              << TContent::Fine << damaged << invalid;
            *row("truncated signature") << server << a << QString() << 'a' << TDamage::Truncated
                                        << TContent::Fine << damaged << invalid;
            *row("signature not base64") << server << a << QString() << 'a' << TDamage::NotBase64
                                         << TContent::Fine << damaged << invalid;
            *row("rotation, signed with the old key")
                << server << both << QString() << 'a' << TDamage::None << TContent::Fine << none << QString();
            *row("rotation, signed with the new key")
                << server << both << QString() << 'b' << TDamage::None << TContent::Fine << none << QString();
            *row("old key removed") << server << b << QString() << 'a' << TDamage::None << TContent::Fine
                                    << all << invalid;
            *row("no usable key: every file fails")
                << server << QStringLiteral("Schluessel") << QString() << 'a' << TDamage::None
                << TContent::Fine << all << invalid;
            *row("no keys, unsigned files") << server << QString() << QString() << '\0' << TDamage::None
                                            << TContent::Fine << none << QString();
            // Damaged files: the damage shows only where the signature held.
            *row("signed, broken encoding") << server << a << QString() << 'a' << TDamage::None
                                            << TContent::BadEncoding << none << QString();
            *row("signed, no XML") << server << a << QString() << 'a' << TDamage::None << TContent::NoXml
                                   << none << QString();
            *row("signed, malformed update") << server << a << QString() << 'a' << TDamage::None
                                             << TContent::BadUpdate << none << QString();
            *row("bad signature, broken encoding") << server << a << QString() << 'a' << TDamage::FileChanged
                                                   << TContent::BadEncoding << damaged << invalid;
            *row("bad signature, no XML") << server << a << QString() << 'a' << TDamage::OtherFile
                                          << TContent::NoXml << damaged << invalid;
            *row("missing signature, malformed update") << server << a << QString() << 'a' << TDamage::Missing
                                                        << TContent::BadUpdate << damaged << missing;
        }
    }

    void onlySignedFilesAreRead()
    {
        QFETCH(bool, server);
        QFETCH(QString, machineKeys);
        QFETCH(QString, userKeys);
        QFETCH(char, signer);
        QFETCH(TDamage, damage);
        QFETCH(TContent, content);
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
        if (server)
            QVERIFY(MoveNewsToServerPlace());

        for (const QString& path : {Module12, QStringLiteral("news.xml")}) {
            const QString file = Published(path, server);
            QVERIFY(WriteFile(file, Damaged(ReadFile(file), content, path == Module12)));
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
            QByteArray signature = key.SignatureFile(content, FileName(path));
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
                        signature = key.SignatureFile(module7, FileName(Module7));
                        break;
                    case TDamage::Truncated:
                        signature.truncate(40);
                        break;
                    case TDamage::NotBase64:
                        signature = QByteArray(86, '!') + "==\n";
                        break;
                    case TDamage::TooLarge:
                        signature = signature.repeated(8000);
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
            const QString skip = ServeSourceOverHttps(httpsServer);
            if (!skip.isEmpty())
                QSKIP(qPrintable(skip));
        }

        // A damaged file whose signature held is reported as always: a descriptor with a
        // malformed update with a warning, a news file that does not load with an error; a
        // descriptor that is no well-formed XML (its bytes no text in its declared encoding
        // among it) skips its module without a word.
        const bool module12Read = !rejected.contains(QStringLiteral("update_12_5.xml"));
        const bool newsRead = !rejected.contains(QStringLiteral("news.xml"));
        QStringList expectedBoxes;
        if (module12Read && content == TContent::BadUpdate)
            expectedBoxes.append(
                QStringLiteral("warning: Datei \"%1update_12_5.xml\" hat nicht das richtige Format")
                    .arg(FWorld->TempDir()));
        if (newsRead && (content == TContent::BadEncoding || content == TContent::NoXml))
            expectedBoxes.append(QStringLiteral("error: Exception beim Laden aus dem Tempverzeichnis"));
        for (qsizetype i = 0; i < expectedBoxes.size(); ++i)
            FFrontEnd->Answer({mrOk});

        TUpdates updates;
        TUpdateCheck check(&updates);
        TUpdateRun(updates, check, true).RunUpdateCheck(false);

        // A rejected descriptor is a module without updates; the others go on. The updates
        // before a malformed one are offered, as without signatures.
        QStringList offered;
        for (const QList<TUpdateIdentifier>& shown : FFrontEnd->ShownUpdates())
            for (const TUpdateIdentifier& id : shown)
                offered.append(
                    QStringLiteral("%1.%2.%3").arg(id.ModulNr).arg(id.Nebenversion).arg(id.Unterversion));
        QStringList expectedOffered;
        if (!rejected.contains(QStringLiteral("update_7_3.xml")))
            expectedOffered.append(QStringLiteral("7.0.1"));
        if (module12Read && (content == TContent::Fine || content == TContent::BadUpdate))
            expectedOffered.append(QStringLiteral("12.0.1"));
        QCOMPARE(offered, expectedOffered);
        QCOMPARE(FFrontEnd->ShownNews().size(),
                 newsRead && (content == TContent::Fine || content == TContent::BadUpdate) ? 1 : 0);
        // A failed signature never ends in a box, whatever the file holds.
        QStringList boxes;
        for (const TShownMessage& box : FFrontEnd->Messages())
            boxes.append(
                (box.type == TMsgDlgType::mtError ? QStringLiteral("error: ") : QStringLiteral("warning: ")) +
                box.text.section(u':', 0, 0));
        boxes.sort();
        expectedBoxes.sort();
        QCOMPARE(boxes, expectedBoxes);

        // One line per rejected file, naming it and the reason; a bad key entry once per run.
        const QStringList log = LogBuffer().value_or(QStringList());
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
        // An oversized signature file is refused by its download's own bound, not read whole.
        if (server && damage == TDamage::TooLarge)
            QCOMPARE(log.filter(QStringLiteral(".sig\": Die Datei ist größer als %1 Bytes")
                                    .arg(TSignatureCheck::MaxSignatureFileSize))
                         .size(),
                     machineKeys.isEmpty() ? 0 : 2);

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
                    // Once, also when it was fetched ahead and was not there.
                    if (signatureServed.contains(path))
                        expectedRequests.append(QStringLiteral("GET /") + path + QStringLiteral(".sig"));
                }
            }
            signatureRequests.sort();
            expectedRequests.sort();
            QCOMPARE(signatureRequests, expectedRequests);
        }
    }

    // Genuine files and genuine signatures, served where they do not belong or past the expiry
    // their maker gave them: the run refuses them as if they were not there, raises no box and
    // offers nothing of them.
    void genuineFilesOutOfPlaceOrTimeAreRefused_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<QString>("attack");
        QTest::addColumn<QDateTime>("now");  // the clock during the run
        QTest::addColumn<QStringList>("offered");
        QTest::addColumn<bool>("newsShown");
        QTest::addColumn<QStringList>("logLines");

        const QDateTime before = Expiry().addSecs(-60);
        const QStringList module42{QStringLiteral("42.3.2"), QStringLiteral("42.4.0")};
        const QStringList both = module42 + QStringList{QStringLiteral("7.0.1")};  // sorted
        const QString invalid = QStringLiteral("Signaturprüfung - %1: Signatur ungültig");
        const QString expired = QStringLiteral("Signaturprüfung - %1: Signatur abgelaufen");
        const QString seven = QStringLiteral("update_7_5.xml");
        const QString news = QStringLiteral("news.xml");

        for (const bool server : {false, true}) {
            const char* where = server ? "https" : "local";
            auto row = [&](const char* name) {
                return &QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(where, name)));
            };
            *row("every file in its place") << server << QString() << before << both << true << QStringList();
            *row("module 42's descriptor and signature as module 7's")
                << server << QStringLiteral("42 as 7") << before << module42 << true
                << QStringList{invalid.arg(seven)};
        }
        auto row = [&](const char* name) { return &QTest::newRow(name); };
        *row("news and its signature as module 7's descriptor")
            << false << QStringLiteral("news as 7") << before << module42 << true
            << QStringList{invalid.arg(seven)};
        *row("module 7's descriptor and signature as the news")
            << false << QStringLiteral("7 as news") << before << both << false
            << QStringList{invalid.arg(news)};
        *row("signatures a minute before their expiry")
            << false << QStringLiteral("expiring") << before << both << true << QStringList();
        *row("signatures past their expiry")
            << false << QStringLiteral("expiring") << Expiry() << QStringList() << false
            << QStringList{expired.arg(QStringLiteral("update_42_12.xml")), expired.arg(seven),
                           expired.arg(news)};
        *row("https: signatures past their expiry")
            << true << QStringLiteral("expiring") << Expiry().addDays(400) << QStringList() << false
            << QStringList{expired.arg(QStringLiteral("update_42_12.xml")), expired.arg(seven),
                           expired.arg(news)};
    }

    void genuineFilesOutOfPlaceOrTimeAreRefused()
    {
        QFETCH(bool, server);
        QFETCH(QString, attack);
        QFETCH(QDateTime, now);
        QFETCH(QStringList, offered);
        QFETCH(bool, newsShown);
        QFETCH(QStringList, logLines);

        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys,
                         KeyA.PublicBase64());
        QVERIFY(FWorld->AddModule(QStringLiteral("Buchhaltung"), 42, 12, QStringLiteral("Buchhaltung"),
                                  {{3, 2}, {4, 0}}));
        QVERIFY(FWorld->AddModule(QStringLiteral("Kasse"), 7, 5, QStringLiteral("Kasse"), {{0, 1}}));
        QVERIFY(FWorld->AddNews());
        const QString module42 = QStringLiteral("Modul_42/update_42_12.xml");
        const QString module7 = QStringLiteral("Modul_7/update_7_5.xml");
        const QString newsPath = QStringLiteral("news.xml");
        if (server)
            QVERIFY(MoveNewsToServerPlace());

        // The maker signs each file under its own name.
        const std::optional<qint64> expires =
            attack == u"expiring" ? std::optional(Expiry().toSecsSinceEpoch()) : std::nullopt;
        for (const QString& path : {module42, module7, newsPath}) {
            const QString file = Published(path, server);
            QVERIFY(WriteFile(TSignatureCheck::SignatureFileName(file),
                              KeyA.SignatureFile(ReadFile(file), FileName(path), expires)));
        }
        // Someone with write access to the server or the source moves genuine pairs around.
        const auto serveAs = [&](const QString& from, const QString& to) {
            const QString source = Published(from, server);
            const QString target = Published(to, server);
            return WriteFile(target, ReadFile(source)) &&
                   WriteFile(TSignatureCheck::SignatureFileName(target),
                             ReadFile(TSignatureCheck::SignatureFileName(source)));
        };
        if (attack == u"42 as 7")
            QVERIFY(serveAs(module42, module7));
        else if (attack == u"news as 7")
            QVERIFY(serveAs(newsPath, module7));
        else if (attack == u"7 as news")
            QVERIFY(serveAs(module7, newsPath));

        TTestHttpsServer httpsServer;
        if (server) {
            const QString skip = ServeSourceOverHttps(httpsServer);
            if (!skip.isEmpty())
                QSKIP(qPrintable(skip));
        }

        TestClock::set(now);
        const auto realTime = qScopeGuard([] { TestClock::set(QDateTime()); });
        TUpdates updates;
        TUpdateCheck check(&updates);
        TUpdateRun(updates, check, true).RunUpdateCheck(false);

        QStringList shown;
        for (const QList<TUpdateIdentifier>& list : FFrontEnd->ShownUpdates())
            for (const TUpdateIdentifier& id : list)
                shown.append(
                    QStringLiteral("%1.%2.%3").arg(id.ModulNr).arg(id.Nebenversion).arg(id.Unterversion));
        shown.sort();
        QCOMPARE(shown, offered);
        QCOMPARE(FFrontEnd->ShownNews().size(), newsShown ? 1 : 0);
        QCOMPARE(FFrontEnd->Messages().size(), 0);
        QStringList lines = LogBuffer().value_or(QStringList()).filter(QStringLiteral("Signaturprüfung - "));
        lines.sort();
        logLines.sort();
        QCOMPARE(lines, logLines);
        // What was refused is gone from the temporary folder; module 7's installed version stays.
        QCOMPARE(QFileInfo::exists(FWorld->TempDir() + QStringLiteral("update_7_5.xml")),
                 !lines.join(u' ').contains(QStringLiteral("update_7_5.xml")));
        QCOMPARE(ReadFile(FWorld->ModuleDir(7) + QStringLiteral("siteinfo_7.ini")),
                 QByteArray("hauptversion=5\r\nnebenversion=0\r\nunterversion=0\r\n"));
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
        QCOMPARE(LogBuffer().value_or(QStringList()).filter(QStringLiteral("Signaturprüfung - ")),
                 QStringList(QStringLiteral("Signaturprüfung - update_12_5.xml: Signatur fehlt")));
    }
};

QTEST_GUILESS_MAIN(tst_SignedFiles)
#include "tst_signedFiles.moc"
