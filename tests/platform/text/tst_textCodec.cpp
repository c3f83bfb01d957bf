// Windows-1252 both ways, byte-order-mark detection of files being read, and line splitting.
#include "core/platform/text/TextCodec.h"

#include <QTest>

using namespace platform;

class TestTextCodec : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyByteSurvivesARoundTrip()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(static_cast<char>(b));
        const QString decoded = DecodeWindows1252(all);
        QCOMPARE(decoded.size(), 256);
        QCOMPARE(EncodeWindows1252(decoded), all);
    }

    void decodesWindowsTable_data()
    {
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("codePoint");
        QTest::newRow("ascii") << 0x41 << 0x41;
        QTest::newRow("euro") << 0x80 << 0x20AC;
        QTest::newRow("low quote") << 0x84 << 0x201E;
        QTest::newRow("S caron") << 0x8A << 0x0160;
        QTest::newRow("right double quote") << 0x94 << 0x201D;
        QTest::newRow("trade mark") << 0x99 << 0x2122;
        QTest::newRow("Y diaeresis") << 0x9F << 0x0178;
        QTest::newRow("undefined 81") << 0x81 << 0x81;
        QTest::newRow("undefined 8D") << 0x8D << 0x8D;
        QTest::newRow("undefined 8F") << 0x8F << 0x8F;
        QTest::newRow("undefined 90") << 0x90 << 0x90;
        QTest::newRow("undefined 9D") << 0x9D << 0x9D;
        QTest::newRow("nbsp") << 0xA0 << 0xA0;
        QTest::newRow("a umlaut") << 0xE4 << 0xE4;
        QTest::newRow("sharp s") << 0xDF << 0xDF;
        QTest::newRow("y diaeresis") << 0xFF << 0xFF;
    }

    void decodesWindowsTable()
    {
        QFETCH(int, byte);
        QFETCH(int, codePoint);
        const QString decoded = DecodeWindows1252(QByteArray(1, static_cast<char>(byte)));
        QCOMPARE(decoded.size(), 1);
        QCOMPARE(int(decoded[0].unicode()), codePoint);
    }

    void encodesWithQuestionMarkForTheRest_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("umlauts and euro") << QStringLiteral(u"Grüße 5 €")
                                          << QByteArray(
                                                 "Gr\xFC\xDF"
                                                 "e 5 \x80");
        QTest::newRow("outside the page") << QStringLiteral(u"łx") << QByteArray("?x");
        QTest::newRow("C1 control without a home") << QStringLiteral(u"\u0080") << QByteArray("?");
        QTest::newRow("surrogate pair is one character")
            << QStringLiteral(u"a\U0001F600b") << QByteArray("a?b");
        QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) + u'b' << QByteArray("?b");
        QTest::newRow("lone low surrogate") << QString(QChar(0xDC00)) << QByteArray("?");
        QTest::newRow("NUL kept") << QString(QChar(0)) + u'a' << QByteArray("\0a", 2);
        QTest::newRow("empty") << QString() << QByteArray();
    }

    void encodesWithQuestionMarkForTheRest()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(EncodeWindows1252(text), bytes);
    }

    void byteOrderMarkSelectsEncoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("no mark: Windows-1252") << QByteArray(
                                                      "Stra\xDF"
                                                      "e \x80")
                                               << QStringLiteral(u"Straße €");
        QTest::newRow("UTF-8 without mark is read as 1252")
            << QByteArray("\xC3\xA4") << QStringLiteral(u"Ã¤");
        QTest::newRow("UTF-8") << QByteArray("\xEF\xBB\xBF\xC3\xA4=\xE2\x82\xAC") << QStringLiteral(u"ä=€");
        QTest::newRow("UTF-8 mark only") << QByteArray("\xEF\xBB\xBF") << QString();
        QTest::newRow("broken UTF-8 gets replacement characters") << QByteArray(
                                                                         "\xEF\xBB\xBF"
                                                                         "a\xC3(\xFF")
                                                                  << QStringLiteral(u"a\uFFFD(\uFFFD");
        QTest::newRow("UTF-16 LE") << QByteArray("\xFF\xFE\xE4\x00=\x00\xAC\x20", 8)
                                   << QStringLiteral(u"ä=€");
        QTest::newRow("UTF-16 BE") << QByteArray("\xFE\xFF\x00\xE4\x00=\x20\xAC", 8)
                                   << QStringLiteral(u"ä=€");
        QTest::newRow("UTF-16 LE odd byte dropped") << QByteArray(
                                                           "\xFF\xFE"
                                                           "a\x00"
                                                           "b",
                                                           5)
                                                    << QStringLiteral("a");
        QTest::newRow("UTF-16 LE pair kept")
            << QByteArray("\xFF\xFE\x3D\xD8\x00\xDE", 6) << QStringLiteral(u"\U0001F600");
        QTest::newRow("UTF-16 LE unpaired surrogate") << QByteArray(
                                                             "\xFF\xFE\x3D\xD8"
                                                             "a\x00",
                                                             6)
                                                      << QStringLiteral(u"\uFFFDa");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("lone FF") << QByteArray("\xFF") << QStringLiteral(u"ÿ");
    }

    void byteOrderMarkSelectsEncoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(DecodeText(bytes), text);
    }

    void splitsLinesLikeATextFileReader_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("one line without break") << QStringLiteral("a") << QStringList{"a"};
        QTest::newRow("final break adds no line") << QStringLiteral("a\r\n") << QStringList{"a"};
        QTest::newRow("only a break") << QStringLiteral("\r\n") << QStringList{""};
        QTest::newRow("mixed breaks") << QStringLiteral("a\nb\rc\r\nd") << QStringList{"a", "b", "c", "d"};
        QTest::newRow("empty lines kept")
            << QStringLiteral("a\r\n\r\nb\n\n") << QStringList{"a", "", "b", ""};
        QTest::newRow("CR CR LF is two breaks") << QStringLiteral("a\r\r\nb") << QStringList{"a", "", "b"};
        QTest::newRow("LF CR is two breaks") << QStringLiteral("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("blanks kept") << QStringLiteral(" a = b \n") << QStringList{" a = b "};
    }

    void splitsLinesLikeATextFileReader()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QCOMPARE(SplitLines(text), lines);
    }
};

QTEST_GUILESS_MAIN(TestTextCodec)
#include "tst_textCodec.moc"
