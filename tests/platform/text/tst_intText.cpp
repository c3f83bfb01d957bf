// Integer texts as stored settings, descriptors and ini files write them.
#include "core/platform/text/IntText.h"

#include <QTest>

#include <optional>

Q_DECLARE_METATYPE(std::optional<qint32>)

class TestIntText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsIntegerTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<qint32>>("value");
        const std::optional<qint32> none;
        QTest::newRow("decimal") << QStringLiteral("42") << std::optional<qint32>(42);
        QTest::newRow("leading zeros") << QStringLiteral("007") << std::optional<qint32>(7);
        QTest::newRow("negative") << QStringLiteral("-13") << std::optional<qint32>(-13);
        QTest::newRow("plus sign") << QStringLiteral("+13") << std::optional<qint32>(13);
        QTest::newRow("leading blanks") << QStringLiteral("  7") << std::optional<qint32>(7);
        QTest::newRow("trailing blank") << QStringLiteral("7 ") << none;
        QTest::newRow("blank after sign") << QStringLiteral("- 7") << none;
        QTest::newRow("tab is not a blank") << QStringLiteral("\t7") << none;
        QTest::newRow("empty") << QString() << none;
        QTest::newRow("only blanks") << QStringLiteral("   ") << none;
        QTest::newRow("only sign") << QStringLiteral("-") << none;
        QTest::newRow("letters") << QStringLiteral("abc") << none;
        QTest::newRow("digits then letters") << QStringLiteral("12a") << none;
        QTest::newRow("decimal point") << QStringLiteral("1.5") << none;
        QTest::newRow("dollar hex") << QStringLiteral("$1F") << std::optional<qint32>(31);
        QTest::newRow("x hex") << QStringLiteral("x1f") << std::optional<qint32>(31);
        QTest::newRow("0x hex") << QStringLiteral("0x1F") << std::optional<qint32>(31);
        QTest::newRow("0X hex") << QStringLiteral("0X10") << std::optional<qint32>(16);
        QTest::newRow("negative hex") << QStringLiteral("-$10") << std::optional<qint32>(-16);
        QTest::newRow("hex prefix alone") << QStringLiteral("$") << none;
        QTest::newRow("0x alone") << QStringLiteral("0x") << none;
        QTest::newRow("hex digit in decimal") << QStringLiteral("1F") << none;
        QTest::newRow("zero") << QStringLiteral("0") << std::optional<qint32>(0);
        QTest::newRow("max") << QStringLiteral("2147483647") << std::optional<qint32>(2147483647);
        QTest::newRow("max + 1") << QStringLiteral("2147483648") << none;
        QTest::newRow("min") << QStringLiteral("-2147483648") << std::optional<qint32>(-2147483647 - 1);
        QTest::newRow("min - 1") << QStringLiteral("-2147483649") << none;
        QTest::newRow("huge") << QStringLiteral("99999999999999999999999999") << none;
        QTest::newRow("hex wraps") << QStringLiteral("$FFFFFFFF") << std::optional<qint32>(-1);
        QTest::newRow("hex too wide") << QStringLiteral("$100000000") << none;
        QTest::newRow("full-width digit") << QStringLiteral(u"\uFF17") << none;
    }

    void readsIntegerTexts()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<qint32>, value);
        QCOMPARE(TryStrToInt(text), value);
        QCOMPARE(StrToIntDef(text, -99), value.value_or(-99));
    }
};

QTEST_GUILESS_MAIN(TestIntText)
#include "tst_intText.moc"
