// libcurl loaded by name at the first transfer: the complete table from Debian's library, and a
// German error naming the file and the reason for a library that is missing or no libcurl.
#include "core/platform/VorlandtError.h"
#include "core/platform/net/CurlLibrary.h"

#include <QRegularExpression>
#include <QTest>

class TCurlLibraryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refusedLibrary_data()
    {
        QTest::addColumn<QByteArray>("fileName");
        QTest::addColumn<QString>("message");  // a pattern of the whole message
        // The loader's reason follows the name.
        QTest::newRow("missing") << QByteArrayLiteral("libvorlandt-gibt-es-nicht.so.4")
                                 << QStringLiteral(
                                        "Die Bibliothek libvorlandt-gibt-es-nicht\\.so\\.4 für die "
                                        "Übertragungen lässt sich nicht laden: .+");
        // A library that loads but is no libcurl: it cannot tell its version.
        QTest::newRow("no libcurl") << QByteArrayLiteral("libsqlite3.so.0")
                                    << QStringLiteral(
                                           "Die Bibliothek libsqlite3\\.so\\.0 für die Übertragungen ist "
                                           "zu alt \\(Version unbekannt\\), gebraucht wird mindestens "
                                           "7\\.85\\.0");
    }
    void refusedLibrary()
    {
        QFETCH(QByteArray, fileName);
        QFETCH(QString, message);
        try {
            platform::LoadCurlLibrary(fileName.constData());
            QFAIL("loaded");
        } catch (const EVorlandtError& error) {
            const QRegularExpression pattern(QRegularExpression::anchoredPattern(message));
            QVERIFY2(pattern.match(error.message()).hasMatch(), qPrintable(error.message()));
        }
    }

    // Every function the transfers call is there, the ALPN question included, and works.
    void debiansLibraryIsComplete()
    {
        const platform::TCurlLibrary& curl = platform::Curl();
        const auto* begin = reinterpret_cast<void* const*>(&curl);
        const auto* end = reinterpret_cast<void* const*>(&curl + 1);
        for (const auto* function = begin; function != end; ++function)
            QVERIFY2(*function != nullptr, qPrintable(QString::number(function - begin)));
        QCOMPARE(curl.global_init(CURL_GLOBAL_DEFAULT), CURLE_OK);
        CURL* handle = curl.easy_init();
        QVERIFY(handle != nullptr);
        QCOMPARE(curl.easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https,http"), CURLE_OK);
        long status = -1;
        QCOMPARE(curl.easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status), CURLE_OK);
        QCOMPARE(status, 0L);
        curl.easy_cleanup(handle);
        QCOMPARE(QString::fromUtf8(curl.easy_strerror(CURLE_OK)), QStringLiteral("No error"));
    }
};

QTEST_GUILESS_MAIN(TCurlLibraryTest)
#include "tst_curlLibrary.moc"
