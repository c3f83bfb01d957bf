// Which fetched files count as the maker's: signatures against the keys in the machine-wide store,
// for the name the file was asked for and until their expiry, key rotation, damaged signature
// files and key lists, and a per-user value that must change nothing.
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/FileFetch.h"
#include "core/sources/SignatureCheck.h"
#include "support/PrivateStores.h"
#include "support/TestClock.h"
#include "support/TestFiles.h"
#include "support/TestSigningKey.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <memory>
#include <stdexcept>

Q_DECLARE_METATYPE(TSignatureCheck::Result)

namespace {

using Result = TSignatureCheck::Result;

const TTestKey KeyA('a');
const TTestKey KeyB('b');
const TTestKey KeyC('c');

const QByteArray Descriptor =
    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<modul>\r\n  <version nr=\"5\">\r\n"
    "    <update nr=\"2\" filename=\"kasse_5_2.exe\"/>\r\n  </version>\r\n</modul>\r\n";

// The name every row asks for.
const QString Name = QStringLiteral("update_12_5.xml");

// 2027-02-01T00:00:00Z.
const qint64 Expiry = QDateTime(QDate(2027, 2, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();

QDateTime Utc(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

QByteArray SigFile(const TTestKey& key, const QByteArray& content = Descriptor, const QString& name = Name,
                   std::optional<qint64> expires = std::nullopt)
{
    return key.SignatureFile(content, name, expires);
}

// The signature file's fields before its signature, followed by `base64`.
QByteArray WithSignatureText(const QByteArray& base64)
{
    return "vorlandt-signatur 1 - " + base64 + '\n';
}

// The same 64 bytes spelled with the unused low bits of the last base64 digit set: decoders that
// are not strict accept it, and then one signature would have many spellings.
QByteArray NonCanonical(const QByteArray& sigFile)
{
    static const QByteArray Digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QByteArray text = sigFile.trimmed();
    const qsizetype last = text.size() - 3;  // before "=="
    text[last] = Digits.at(Digits.indexOf(text.at(last)) | 1);
    return text + '\n';
}

// A 32-byte key spelled without its padding: the same bytes, but not the one accepted spelling.
QString UnpaddedA()
{
    QString text = KeyA.PublicBase64();
    text.chop(1);
    return text;
}

QString A()
{
    return KeyA.PublicBase64();
}
QString B()
{
    return KeyB.PublicBase64();
}

}  // namespace

class TestSignatureCheck : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TPrivateStores> FStores;

private slots:
    void init()
    {
        FStores = std::make_unique<TPrivateStores>();
        QVERIFY(FStores->IsValid());
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
        WriteLog(TLogAction::StartBuffer, QString());
    }

    void cleanup() { FStores.reset(); }

    void checksFilesAgainstMachineKeys_data()
    {
        // Not set when invalid; a number is a DWORD, bytes replace the whole file.
        QTest::addColumn<QVariant>("machineValue");
        QTest::addColumn<QVariant>("userValue");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QVariant>("signature");  // no signature file when invalid
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<Result>("result");
        QTest::addColumn<QStringList>("badEntries");

        const QVariant none;
        QByteArray changed = Descriptor;
        changed[60] = char(changed[60] ^ 0x01);
        const QByteArray good = SigFile(KeyA);
        const QString a = A();

        QTest::newRow("signed and good")
            << QVariant(a) << none << Descriptor << QVariant(good) << true << Result::Good << QStringList();
        QTest::newRow("one byte of the file changed")
            << QVariant(a) << none << changed << QVariant(good) << true << Result::Invalid << QStringList();
        QTest::newRow("signature of another file")
            << QVariant(a) << none << Descriptor << QVariant(SigFile(KeyA, "<modul/>")) << true
            << Result::Invalid << QStringList();
        QTest::newRow("signature without line end")
            << QVariant(a) << none << Descriptor << QVariant(good.trimmed()) << true << Result::Good
            << QStringList();
        QTest::newRow("signature with CR LF and blanks")
            << QVariant(a) << none << Descriptor << QVariant(good.trimmed() + " \t\r\n\r\n") << true
            << Result::Good << QStringList();
        QTest::newRow("truncated signature") << QVariant(a) << none << Descriptor << QVariant(good.left(80))
                                             << true << Result::Malformed << QStringList();
        QTest::newRow("signature decoding to 63 bytes")
            << QVariant(a) << none << Descriptor
            << QVariant(WithSignatureText(KeyA.Sign(Descriptor).left(63).toBase64())) << true
            << Result::Malformed << QStringList();
        QTest::newRow("non-base64 signature")
            << QVariant(a) << none << Descriptor << QVariant(WithSignatureText(QByteArray(86, '!') + "=="))
            << true << Result::Malformed << QStringList();
        QTest::newRow("unused bits of the last digit set")
            << QVariant(a) << none << Descriptor << QVariant(NonCanonical(good)) << true << Result::Malformed
            << QStringList();
        QTest::newRow("blank before the signature")
            << QVariant(a) << none << Descriptor << QVariant(" " + good) << true << Result::Malformed
            << QStringList();
        QTest::newRow("text after the signature")
            << QVariant(a) << none << Descriptor << QVariant(good + "x\n") << true << Result::Malformed
            << QStringList();
        QTest::newRow("two signatures in one file")
            << QVariant(a) << none << Descriptor << QVariant(good + good) << true << Result::Malformed
            << QStringList();
        QTest::newRow("empty signature file") << QVariant(a) << none << Descriptor << QVariant(QByteArray())
                                              << true << Result::Malformed << QStringList();
        QTest::newRow("missing signature")
            << QVariant(a) << none << Descriptor << none << true << Result::Missing << QStringList();

        const QString both = a + QStringLiteral(" ") + B();
        QTest::newRow("rotation: old key signed") << QVariant(both) << none << Descriptor << QVariant(good)
                                                  << true << Result::Good << QStringList();
        QTest::newRow("rotation: new key signed")
            << QVariant(both) << none << Descriptor << QVariant(SigFile(KeyB)) << true << Result::Good
            << QStringList();
        QTest::newRow("rotation: third key signed")
            << QVariant(both) << none << Descriptor << QVariant(SigFile(KeyC)) << true << Result::Invalid
            << QStringList();
        QTest::newRow("keys separated by tab and line break")
            << QVariant(QStringLiteral("\t%1\r\n%2 ").arg(a, B())) << none << Descriptor
            << QVariant(SigFile(KeyB)) << true << Result::Good << QStringList();

        QTest::newRow("key only in the per-user store is ignored")
            << none << QVariant(a) << Descriptor << none << false << Result::Good << QStringList();
        QTest::newRow("empty per-user value cannot switch the check off")
            << QVariant(a) << QVariant(QString()) << Descriptor << none << true << Result::Missing
            << QStringList();
        QTest::newRow("no value: no check")
            << none << none << changed << none << false << Result::Good << QStringList();
        QTest::newRow("empty value: no check") << QVariant(QStringLiteral(" ")) << none << changed << none
                                               << false << Result::Good << QStringList();

        QTest::newRow("malformed entry beside a good key")
            << QVariant(QStringLiteral("Schluessel ") + a) << none << Descriptor << QVariant(good) << true
            << Result::Good << QStringList{"Schluessel"};
        QTest::newRow("malformed entry: other keys still refused")
            << QVariant(QStringLiteral("Schluessel ") + a) << none << Descriptor << QVariant(SigFile(KeyC))
            << true << Result::Invalid << QStringList{"Schluessel"};
        QTest::newRow("only malformed entries: every file fails")
            << QVariant(UnpaddedA()) << none << Descriptor << QVariant(good) << true << Result::Invalid
            << QStringList{UnpaddedA()};
        QTest::newRow("key of 31 bytes") << QVariant(QString::fromLatin1(QByteArray(31, 'k').toBase64()))
                                         << none << Descriptor << QVariant(good) << true << Result::Invalid
                                         << QStringList{QString::fromLatin1(QByteArray(31, 'k').toBase64())};
        QTest::newRow("key with a non-Latin-1 letter")
            << QVariant(QString(a).replace(0, 1, QStringLiteral("\u20AC"))) << none << Descriptor
            << QVariant(good) << true << Result::Invalid
            << QStringList{QString(a).replace(0, 1, QStringLiteral("\u20AC"))};
        QTest::newRow("number instead of text: every file fails")
            << QVariant(qint32(1)) << none << Descriptor << QVariant(good) << true << Result::Invalid
            << QStringList{"(Zahl statt Text)"};
#ifndef Q_OS_WIN
        // A damaged store file; the registry of Windows has no such state.
        QTest::newRow("unreadable machine store: every file fails")
            << QVariant(QByteArray(8192, 'x')) << none << Descriptor << QVariant(good) << true
            << Result::Invalid << QStringList{"(Einstellungsspeicher nicht lesbar)"};
#endif
    }

    void checksFilesAgainstMachineKeys()
    {
        QFETCH(QVariant, machineValue);
        QFETCH(QVariant, userValue);
        QFETCH(QByteArray, file);
        QFETCH(QVariant, signature);
        QFETCH(bool, enabled);
        QFETCH(Result, result);
        QFETCH(QStringList, badEntries);

        const QString& key = SettingsKeys::OnlineUpdate;
        const QString& name = SettingsKeys::SignatureKeys;
        if (machineValue.typeId() == QMetaType::QByteArray) {
            // Bytes stand for the whole machine-wide file, put there past the store.
            QFile store(FStores->FilePath(QStringLiteral("machine.db")));
            QVERIFY(store.open(QIODevice::WriteOnly));
            store.write(machineValue.toByteArray());
        } else if (machineValue.typeId() == QMetaType::Int)
            WriteIntegerValue(HKEY_LOCAL_MACHINE, key, name, machineValue.toInt());
        else if (machineValue.isValid())
            WriteStringValue(HKEY_LOCAL_MACHINE, key, name, machineValue.toString());
        if (userValue.isValid())
            WriteStringValue(HKEY_CURRENT_USER, key, name, userValue.toString());

        const TSignatureCheck check = TSignatureCheck::FromMachineStore();
        QCOMPARE(check.Enabled(), enabled);
        QCOMPARE(check.BadEntries(), badEntries);
        const std::optional<QByteArray> sigFile =
            signature.isValid() ? std::optional(signature.toByteArray()) : std::nullopt;
        QCOMPARE(check.Check(file, Name, sigFile), result);

        // Bad entries are named once in the diagnostic log; a sound list leaves no line.
        const QStringList log = LogBuffer().value_or(QStringList{"<no buffer>"});
        if (badEntries.isEmpty()) {
            QCOMPARE(log, QStringList());
        } else {
            QCOMPARE(log.size(), 1);
            for (const QString& entry : badEntries)
                QVERIFY2(log.first().contains(u'"' + entry + u'"'), qPrintable(log.first()));
            QCOMPARE(log.first().contains(QStringLiteral("jede Datei wird abgelehnt")),
                     check.KeyCount() == 0);
        }
    }

    // One check object sees files signed with either key in any order, as during a rotation.
    void everyConfiguredKeyStaysValid()
    {
        const TSignatureCheck check = TSignatureCheck::FromKeyText(A() + QStringLiteral(" ") + B());
        for (const TTestKey* key : {&KeyB, &KeyB, &KeyA, &KeyC, &KeyB, &KeyA})
            QCOMPARE(check.Check(Descriptor, Name, SigFile(*key)),
                     key == &KeyC ? Result::Invalid : Result::Good);
    }

    // A signature holds for the bytes, the name they were asked for and its expiry together; the
    // format is exact and carries its version.
    void signatureHoldsForItsNameUntilItsExpiry_data()
    {
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QString>("name");  // the name the file is asked for
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<Result>("result");

        const QDateTime before = Utc(Expiry - 1);
        const QByteArray expiring = SigFile(KeyA, Descriptor, Name, Expiry);
        const QByteArray noExpiry = SigFile(KeyA);
        QByteArray expiryMoved = expiring;
        expiryMoved.replace("2027-02-01", "2027-03-01");
        QByteArray expiryDropped = expiring;
        expiryDropped.replace("2027-02-01T00:00:00Z", "-");
        QByteArray expiryAdded = noExpiry;
        expiryAdded.replace(" - ", " 2027-02-01T00:00:00Z ");
        QByteArray otherVersion = noExpiry;
        otherVersion.replace("vorlandt-signatur 1 ", "vorlandt-signatur 2 ");
        QByteArray offsetSpelling = expiring;
        offsetSpelling.replace("2027-02-01T00:00:00Z", "2027-02-01T00:00:00+00:00");
        QByteArray noSuchDay = expiring;
        noSuchDay.replace("2027-02-01", "2027-02-30");
        QByteArray twoBlanks = noExpiry;
        twoBlanks.replace(" - ", " -  ");

        QTest::newRow("without expiry, years later") << noExpiry << Name << Utc(Expiry * 2) << Result::Good;
        QTest::newRow("a second before the expiry") << expiring << Name << before << Result::Good;
        QTest::newRow("at the expiry") << expiring << Name << Utc(Expiry) << Result::Expired;
        QTest::newRow("a year after the expiry")
            << expiring << Name << Utc(Expiry + 365 * 86400) << Result::Expired;
        QTest::newRow("expired and made with another key")
            << SigFile(KeyC, Descriptor, Name, Expiry) << Name << Utc(Expiry) << Result::Invalid;
        QTest::newRow("expiry moved later") << expiryMoved << Name << before << Result::Invalid;
        QTest::newRow("expiry taken out") << expiryDropped << Name << before << Result::Invalid;
        QTest::newRow("expiry put in") << expiryAdded << Name << before << Result::Invalid;
        QTest::newRow("another module's name")
            << SigFile(KeyA, Descriptor, QStringLiteral("update_42_12.xml")) << Name << before
            << Result::Invalid;
        QTest::newRow("same module, other major version")
            << SigFile(KeyA, Descriptor, QStringLiteral("update_12_4.xml")) << Name << before
            << Result::Invalid;
        QTest::newRow("the news file's name")
            << SigFile(KeyA, Descriptor, QStringLiteral("news.xml")) << Name << before << Result::Invalid;
        QTest::newRow("name differs in case") << SigFile(KeyA, Descriptor, QStringLiteral("Update_12_5.xml"))
                                              << Name << before << Result::Invalid;
        QTest::newRow("name with a folder")
            << SigFile(KeyA, Descriptor, QStringLiteral("Modul_12/update_12_5.xml")) << Name << before
            << Result::Invalid;
        QTest::newRow("asked for with an empty name") << noExpiry << QString() << before << Result::Invalid;
        QTest::newRow("old format: the bare signature") << KeyA.Sign(Descriptor).toBase64() + '\n'
                                                        << Name << before << Result::Malformed;
        QTest::newRow("unknown version") << otherVersion << Name << before << Result::Malformed;
        QTest::newRow("expiry with an offset") << offsetSpelling << Name << before << Result::Malformed;
        QTest::newRow("expiry on no real day") << noSuchDay << Name << before << Result::Malformed;
        QTest::newRow("two blanks between fields") << twoBlanks << Name << before << Result::Malformed;
        QTest::newRow("larger than a signature file can be")
            << noExpiry + QByteArray(TSignatureCheck::MaxSignatureFileSize, ' ') << Name << before
            << Result::Malformed;
    }

    void signatureHoldsForItsNameUntilItsExpiry()
    {
        QFETCH(QByteArray, signature);
        QFETCH(QString, name);
        QFETCH(QDateTime, now);
        QFETCH(Result, result);
        TestClock::set(now);
        const auto realTime = qScopeGuard([] { TestClock::set(QDateTime()); });
        const TSignatureCheck check = TSignatureCheck::FromKeyText(A());
        QCOMPARE(check.Check(Descriptor, name, signature), result);
    }

    // Reading the parsed file may raise (out of memory in a huge descriptor): the error goes on
    // to the caller, and the fetched file stays only when its signature held.
    void aReaderThatRaisesLeavesNoUnverifiedFile_data()
    {
        QTest::addColumn<bool>("goodSignature");
        QTest::newRow("good signature") << true;
        QTest::newRow("bad signature") << false;
    }

    void aReaderThatRaisesLeavesNoUnverifiedFile()
    {
        QFETCH(bool, goodSignature);
        const TSignatureCheck check = TSignatureCheck::FromKeyText(A());
        sources::TSource source;
        source.Procedure = QStringLiteral("DownloadUpdateXML");
        source.LocalSource = FStores->FilePath(QStringLiteral("source"));
        source.LocalFile = source.LocalSource + QStringLiteral("/update_12_5.xml");
        source.Destination = FStores->FilePath(QStringLiteral("update_12_5.xml"));
        QVERIFY(QDir().mkpath(source.LocalSource));
        QVERIFY(WriteFile(source.LocalFile + QStringLiteral(".sig"), SigFile(goodSignature ? KeyA : KeyB)));
        QVERIFY(WriteFile(source.Destination, Descriptor));

        pugi::xml_document document;
        bool raised = false;
        try {
            sources::LoadSignedXml(document, check, source, Name, Descriptor,
                                   [](const pugi::xml_document&) { throw std::bad_alloc(); });
        } catch (const std::bad_alloc&) {
            raised = true;
        }
        QVERIFY(raised);
        QVERIFY(!document.document_element());
        QCOMPARE(QFile::exists(source.Destination), goodSignature);
        QVERIFY(!QFile::exists(source.Destination + QStringLiteral(".sig")));
    }

    void reasonsAndNames()
    {
        QCOMPARE(TSignatureCheck::ReasonText(Result::Missing), QStringLiteral("Signatur fehlt"));
        QCOMPARE(TSignatureCheck::ReasonText(Result::Malformed), QStringLiteral("Signatur ungültig"));
        QCOMPARE(TSignatureCheck::ReasonText(Result::Invalid), QStringLiteral("Signatur ungültig"));
        QCOMPARE(TSignatureCheck::ReasonText(Result::Expired), QStringLiteral("Signatur abgelaufen"));
        QCOMPARE(TSignatureCheck::SignatureFileName(QStringLiteral("update_12_5.xml")),
                 QStringLiteral("update_12_5.xml.sig"));
        QCOMPARE(TSignatureCheck::LogText(QStringLiteral("news.xml"), Result::Missing),
                 QStringLiteral("Signaturprüfung - news.xml: Signatur fehlt"));
    }
};

QTEST_GUILESS_MAIN(TestSignatureCheck)
#include "tst_signatureCheck.moc"
