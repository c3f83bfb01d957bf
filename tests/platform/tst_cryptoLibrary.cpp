// libcrypto loaded by name at the first signature check: the complete table from Debian's
// library, and a German error naming the file and the reason for one that is missing or is no
// libcrypto.
#include "core/platform/VorlandtError.h"
#include "core/platform/crypto/CryptoLibrary.h"

#include <QRegularExpression>
#include <QTest>

class TCryptoLibraryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refusedLibrary_data()
    {
        QTest::addColumn<QByteArray>("fileName");
        QTest::addColumn<QString>("message");  // a pattern of the whole message
        QTest::newRow("missing") << QByteArrayLiteral("libvorlandt-gibt-es-nicht.so.3")
                                 << QStringLiteral(
                                        "Die Bibliothek libvorlandt-gibt-es-nicht\\.so\\.3 für die "
                                        "Signaturen lässt sich nicht laden: .+");
        QTest::newRow("no libcrypto") << QByteArrayLiteral("libsqlite3.so.0")
                                      << QStringLiteral(
                                             "Die Bibliothek libsqlite3\\.so\\.0 für die Signaturen ist "
                                             "zu alt: ihr fehlt die Funktion EVP_Digest");
    }
    void refusedLibrary()
    {
        QFETCH(QByteArray, fileName);
        QFETCH(QString, message);
        try {
            platform::LoadCryptoLibrary(fileName.constData());
            QFAIL("loaded");
        } catch (const EVorlandtError& error) {
            const QRegularExpression pattern(QRegularExpression::anchoredPattern(message));
            QVERIFY2(pattern.match(error.message()).hasMatch(), qPrintable(error.message()));
        }
    }

    // Every function the checks call is there and works: SHA-512 of "abc" (FIPS 180-2).
    void debiansLibraryIsComplete()
    {
        const platform::TCryptoLibrary& crypto = platform::Crypto();
        const auto* begin = reinterpret_cast<void* const*>(&crypto);
        const auto* end = reinterpret_cast<void* const*>(&crypto + 1);
        for (const auto* function = begin; function != end; ++function)
            QVERIFY2(*function != nullptr, qPrintable(QString::number(function - begin)));
        unsigned char digest[64] = {};
        unsigned int length = 0;
        QCOMPARE(crypto.EVP_Digest("abc", 3, digest, &length, crypto.EVP_sha512(), nullptr), 1);
        QCOMPARE(length, 64u);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(digest), 8).toHex(),
                 QByteArray("ddaf35a193617aba"));
    }
};

QTEST_GUILESS_MAIN(TCryptoLibraryTest)
#include "tst_cryptoLibrary.moc"
