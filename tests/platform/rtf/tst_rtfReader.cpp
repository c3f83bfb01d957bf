// The RTF reader: what WordPad, RichEdit and Word files read as (plain text and HTML), code
// pages and Unicode escapes, links and their safety, plain-text input, and hostile input that
// must end in a bounded result.
#include "core/platform/rtf/RtfField.h"
#include "core/platform/rtf/RtfReader.h"

#include <QFile>
#include <QTest>

#ifdef VORLANDT_TEST_WITH_GUI
#include <QTextDocument>
#endif

using namespace platform;
using namespace Qt::StringLiterals;

namespace {

QByteArray Fixture(const QString& name)
{
    QFile file(QFINDTESTDATA(QStringLiteral("rtf/data/") + name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("fixture %s missing", qPrintable(name));
    return file.readAll();
}

QString Text(const QByteArray& rtf)
{
    return RtfToPlainText(rtf);
}

}  // namespace

class TestRtfReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void corpusReadsAsPlainText_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("text");
        QTest::newRow("WordPad: bullets, symbol font, \\line, \\tab, escapes")
            << "wordpad.rtf"
            << QStringLiteral(
                   u"Version 5.4.2\r\nNeu in dieser Version:\r\nExport nach PDF für alle Berichte\r\n"
                   u"Schnellere Suche (bis zu 3× schneller)\r\nAlte Importfunktion entfällt.\r\n"
                   u"Preis: 49 €\tinkl. MwSt.\r\nStand: März 2024");
        QTest::newRow("Word: style sheet, info, header, fields, \\listtext, theme data")
            << "word.rtf"
            << QStringLiteral(
                   u"Vorlandt Kasse 7.1\r\nDiese Version bringt folgende Änderungen:\r\n"
                   u"Kassenbons mit QR-Code\r\nNeue Währung: € und ₽\r\nMehr unter Versionshinweise.");
        QTest::newRow("code page of each font: 1252, 1250, 1251, \\cpg 1253")
            << "codepages.rtf"
            << QStringLiteral(u"Westlich: äöüß € æ\r\nPolnisch: Zażółć gęślą jaźń € ć\r\nПривет und αβγ");
        QTest::newRow("\\u with \\uc1, \\uc0, \\uc2, surrogate pair, negative value")
            << "unicode.rtf"
            << QStringLiteral(
                   u"Euro € und Haken ✓\r\nohne Ersatz: €≥.\r\nnach der Gruppe wieder eins: €\r\n"
                   u"zwei Ersatzzeichen: € Ende\r\nSmiley: 😀\r\nLigatur: ﬁ");
        QTest::newRow("hyperlink fields show their result text")
            << "hyperlink.rtf"
            << QStringLiteral(
                   u"Download: https://download.vorlandt.example/kasse\r\nLizenz: AGB\r\n"
                   u"Skript: nicht klicken\r\nAnker: Kapitel 2\r\nMail: support@vorlandt.example");
        QTest::newRow("\\pict in hex and \\bin, \\object: no text of theirs")
            << "picture.rtf" << QStringLiteral(u"Vor dem Bild\r\n\r\nNach dem Bild");
    }

    void corpusReadsAsPlainText()
    {
        QFETCH(QString, file);
        QFETCH(QString, text);
        QCOMPARE(Text(Fixture(file)), text);
    }

    void corpusHtmlKeepsFormatsAndLeavesOutTheRest_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("WordPad") << "wordpad.rtf"
                                 << QStringList{
                                        u"<p align=\"center\""_s,
                                        u"<span style=\"font-size:14pt;\"><b>Version 5.4.2</b></span>"_s,
                                        u"<ul "_s,
                                        u"Export nach PDF für alle Berichte</span></li>"_s,
                                        u"<i>bis zu 3× schneller</i>"_s,
                                        u"<span style=\"font-size:11pt;color:#c00000;\"><s>Alte Importfunktion</s>"_s,
                                        u"Preis: 49 €&#9;inkl. MwSt.<br />Stand: März 2024"_s,
                                    }
                                 << QStringList{u"Calibri"_s, u"Riched20"_s, u"\u00B7"_s, u"\u2022"_s};
        QTest::newRow("Word") << "word.rtf"
                              << QStringList{
                                     u"<b>Vorlandt Kasse 7.1</b>"_s,
                                     u"Kassenbons mit QR-Code</span></li><li "_s,
                                     u"<a href=\"https://www.vorlandt.example/kasse/neu?v=7.1&amp;lang=de\">"_s,
                                     u"<u>Versionshinweise</u></span></a>"_s,
                                 }
                              << QStringList{u"Kopfzeile"_s,    u"Seite"_s,  u"Times New Roman"_s,
                                             u"Hinweise"_s,     u"Normal"_s, u"504b03"_s,
                                             u"_Toc1"_s,        u"00d0c9"_s, u"schemas.microsoft"_s,
                                             u"Kassenversion"_s};
        QTest::newRow("hyperlinks") << "hyperlink.rtf"
                                    << QStringList{
                                           u"<a href=\"https://download.vorlandt.example/kasse?x=1&amp;y=&quot;2&quot;\">"_s,
                                           u"<a href=\"https://lizenz.vorlandt.example/agb.html\">"_s,
                                           u"<a href=\"mailto:support@vorlandt.example\">"_s,
                                           u"<u>nicht klicken</u>"_s,
                                           u"Anker: Kapitel 2"_s,
                                       }
                                    << QStringList{u"javascript"_s, u"kapitel2"_s, u"y=\"2"_s};
        QTest::newRow("pictures") << "picture.rtf"
                                  << QStringList{u"Vor dem Bild</p><p "_s, u"-qt-paragraph-type:empty"_s}
                                  << QStringList{u"89504e"_s, u"Paint"_s, u"0105"_s, u"par x"_s};
    }

    void corpusHtmlKeepsFormatsAndLeavesOutTheRest()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const QString html = RtfToHtml(Fixture(file));
        for (const QString& part : present)
            QVERIFY2(html.contains(part), qPrintable(part + u"\nnot in\n"_s + html));
        for (const QString& part : absent)
            QVERIFY2(!html.contains(part), qPrintable(part + u"\nin\n"_s + html));
    }

#ifdef VORLANDT_TEST_WITH_GUI
    // The HTML is only right if a text browser shows exactly the paragraphs, blanks, tabs and
    // empty lines of the plain text.
    void textBrowserShowsThePlainText_data()
    {
        QTest::addColumn<QString>("file");
        for (const char* file :
             {"wordpad.rtf", "word.rtf", "codepages.rtf", "unicode.rtf", "hyperlink.rtf", "picture.rtf"})
            QTest::newRow(file) << QString::fromLatin1(file);
    }

    void textBrowserShowsThePlainText()
    {
        QFETCH(QString, file);
        const QByteArray rtf = Fixture(file);
        QTextDocument document;
        document.setHtml(RtfToHtml(rtf));
        QString expected = Text(rtf);
        expected.replace(u"\r\n"_s, u"\n"_s);
        QCOMPARE(document.toPlainText().replace(QChar::LineSeparator, u'\n'), expected);
    }
#endif

    void finalParagraphMarkAddsNoLine_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("text");
        QTest::newRow("final \\par is the control's own mark")
            << QByteArray("{\\rtf1 a\\par b\\par}") << u"a\r\nb"_s;
        QTest::newRow("no final \\par") << QByteArray("{\\rtf1 a\\par b}") << u"a\r\nb"_s;
        QTest::newRow("ends with an empty paragraph") << QByteArray("{\\rtf1 a\\par\\par}") << u"a\r\n"_s;
        QTest::newRow("only a \\par") << QByteArray("{\\rtf1 \\par}") << QString();
        QTest::newRow("empty document") << QByteArray("{\\rtf1 }") << QString();
        QTest::newRow("\\line is CR LF too") << QByteArray("{\\rtf1 a\\line b\\line}") << u"a\r\nb\r\n"_s;
        QTest::newRow("backslash before a line end is \\par") << QByteArray("{\\rtf1 a\\\nb}") << u"a\r\nb"_s;
        QTest::newRow("raw line ends are no text") << QByteArray("{\\rtf1 a\r\nb\nc}") << u"abc"_s;
        QTest::newRow("table row: cells by tab, row by line")
            << QByteArray("{\\rtf1 \\trowd\\cellx1000\\cellx2000 \\pard\\intbl a\\cell b\\cell\\row c}")
            << u"a\tb\r\nc"_s;
    }

    void finalParagraphMarkAddsNoLine()
    {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, text);
        QCOMPARE(Text(rtf), text);
    }

    void controlWordsAndSymbols_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("text");
        QTest::newRow("escaped braces and backslash") << QByteArray("{\\rtf1 \\{a\\}\\\\b}") << u"{a}\\b"_s;
        QTest::newRow("no-break space, optional and non-breaking hyphen")
            << QByteArray("{\\rtf1 a\\~b Sil\\-ben x\\_y}") << u"a\u00A0b Silben x\u2011y"_s;
        QTest::newRow("dashes, bullet, quotes")
            << QByteArray("{\\rtf1 \\emdash\\endash\\bullet\\lquote x\\rquote\\ldblquote y\\rdblquote}")
            << u"\u2014\u2013\u2022\u2018x\u2019\u201Cy\u201D"_s;
        QTest::newRow("the blank after a word is its delimiter")
            << QByteArray("{\\rtf1 \\b fett\\b0  normal\\tab x}") << u"fett normal\tx"_s;
        QTest::newRow("unknown words are ignored, their groups read")
            << QByteArray("{\\rtf1 a\\foo42 b{\\bar c}d}") << u"abcd"_s;
        QTest::newRow("unknown \\* destination is skipped")
            << QByteArray("{\\rtf1 a{\\*\\foo b{c}}d}") << u"ad"_s;
        QTest::newRow("hidden text") << QByteArray("{\\rtf1 a{\\v versteckt}b\\v c\\v0 d}") << u"abd"_s;
        QTest::newRow("\\upr: the Unicode part \\ud")
            << QByteArray("{\\rtf1 {\\upr{ANSI}{\\*\\ud{Unic\\u246?de}}}}") << u"Unicöde"_s;
        QTest::newRow("field result without link")
            << QByteArray("{\\rtf1 Seite {\\field{\\*\\fldinst PAGE}{\\fldrslt 3}} von 5}")
            << u"Seite 3 von 5"_s;
        QTest::newRow("field without result")
            << QByteArray("{\\rtf1 a{\\field{\\*\\fldinst HYPERLINK \"http://x.example\"}}b}") << u"ab"_s;
        QTest::newRow("\\pntext and \\listtext are no text")
            << QByteArray("{\\rtf1 {\\pntext 1.\\tab}eins\\par{\\listtext\\pard\\plain \\'b7\\tab}zwei}")
            << u"eins\r\nzwei"_s;
        QTest::newRow("broken hex escape: what follows reads as text")
            << QByteArray("{\\rtf1 a\\'zzb\\'4}") << u"azzb4"_s;
    }

    void controlWordsAndSymbols()
    {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, text);
        QCOMPARE(Text(rtf), text);
    }

    void unicodeEscapes_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("text");
        QTest::newRow("default \\uc1 skips one fallback") << QByteArray("{\\rtf1 \\u8364?x}") << u"€x"_s;
        QTest::newRow("\\'hh counts as one fallback") << QByteArray("{\\rtf1 \\u8364\\'80x}") << u"€x"_s;
        QTest::newRow("\\uc is scoped to its group")
            << QByteArray("{\\rtf1 {\\uc0 \\u8364}\\u8364?{\\uc3 \\u8364abcd}}") << u"€€€d"_s;
        QTest::newRow("a group end stops the skipping")
            << QByteArray("{\\rtf1 {\\uc5 \\u8364a}b}") << u"€b"_s;
        QTest::newRow("line ends do not count as fallback")
            << QByteArray("{\\rtf1 \\u8364\r\n?x}") << u"€x"_s;
        QTest::newRow("value above 32767 written positive") << QByteArray("{\\rtf1 \\u64257?}") << u"ﬁ"_s;
        QTest::newRow("-32768") << QByteArray("{\\rtf1 \\u-32768?}") << QString(QChar(0x8000));
        QTest::newRow("lone high surrogate") << QByteArray("{\\rtf1 \\u-10179?x}") << u"\uFFFDx"_s;
        QTest::newRow("lone low surrogate") << QByteArray("{\\rtf1 \\u-8704?x}") << u"\uFFFDx"_s;
        QTest::newRow("surrogates swapped")
            << QByteArray("{\\rtf1 \\u-8704?\\u-10179?}") << u"\uFFFD\uFFFD"_s;
        QTest::newRow("out of range") << QByteArray("{\\rtf1 \\u99999999?\\u-99999?}") << u"\uFFFD\uFFFD"_s;
        QTest::newRow("NUL as \\u0 is no text") << QByteArray("{\\rtf1 a\\u0?b}") << u"ab"_s;
    }

    void unicodeEscapes()
    {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, text);
        QCOMPARE(Text(rtf), text);
    }

    void codePages_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("text");
        QTest::newRow("1252 without \\ansicpg") << QByteArray("{\\rtf1 \\'80\\'e4\\'9c}") << u"€äœ"_s;
        QTest::newRow("\\ansicpg1250")
            << QByteArray("{\\rtf1\\ansi\\ansicpg1250 \\'b3\\'f3d\\'9f}") << u"łódź"_s;
        QTest::newRow("\\ansicpg1251")
            << QByteArray("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}") << u"При"_s;
        QTest::newRow("raw 8-bit byte in the document's page") << QByteArray(
                                                                      "{\\rtf1\\ansi\\ansicpg1250 \xb3\xf3"
                                                                      "d\x9f}")
                                                               << u"łódź"_s;
        QTest::newRow("charset 0 takes \\ansicpg")
            << QByteArray("{\\rtf1\\ansi\\ansicpg1250{\\fonttbl{\\f0\\fcharset0 Arial;}}\\f0 \\'b3}")
            << u"ł"_s;
        QTest::newRow("\\fcharset161 Greek")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset161 Arial;}}\\f0 \\'e1}") << u"α"_s;
        QTest::newRow("\\fcharset162 Turkish")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset162 Arial;}}\\f0 \\'fe}") << u"ş"_s;
        QTest::newRow("\\fcharset177 Hebrew")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset177 Arial;}}\\f0 \\'e0}") << u"א"_s;
        QTest::newRow("\\fcharset178 Arabic")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset178 Arial;}}\\f0 \\'c7}") << u"ا"_s;
        QTest::newRow("\\fcharset186 Baltic")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset186 Arial;}}\\f0 \\'e0}") << u"ą"_s;
        QTest::newRow("\\fcharset163 Vietnamese")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset163 Arial;}}\\f0 \\'f0}") << u"đ"_s;
        QTest::newRow("\\fcharset222 Thai")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset222 Tahoma;}}\\f0 \\'a1}") << u"ก"_s;
        QTest::newRow("symbol font bullet")
            << QByteArray("{\\rtf1{\\fonttbl{\\f1\\fcharset2 Symbol;}}\\f1\\'b7}") << u"•"_s;
        QTest::newRow("932: two escapes, escape and raw trail byte, escaped backslash trail")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset128 MS Mincho;}}\\f0 \\'82\\'a0\\'81@\\'95\\\\}")
            << u"あ\u3000表"_s;
        QTest::newRow("936") << QByteArray(
                                    "{\\rtf1{\\fonttbl{\\f0\\fcharset134 SimSun;}}\\f0 \\'c4\\'e3\\'ba\\'c3}")
                             << u"你好"_s;
        QTest::newRow("949") << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset129 Gulim;}}\\f0 \\'c7\\'d1}")
                             << u"한"_s;
        QTest::newRow("950") << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset136 MingLiU;}}\\f0 \\'a4\\'a4}")
                             << u"中"_s;
        QTest::newRow("\\mac") << QByteArray("{\\rtf1\\mac \\'8a}") << u"ä"_s;
        QTest::newRow("\\pc") << QByteArray("{\\rtf1\\pc \\'84}") << u"ä"_s;
        QTest::newRow("unknown code page reads as 1252")
            << QByteArray("{\\rtf1\\ansi\\ansicpg99999 \\'e4}") << u"ä"_s;
        QTest::newRow("font switch between bytes")
            << QByteArray(
                   "{\\rtf1{\\fonttbl{\\f0\\fcharset0 A;}{\\f1\\fcharset238 B;}}\\f0\\'e6\\f1\\'e6\\f0\\'e6}")
            << u"æćæ"_s;
    }

    void codePages()
    {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, text);
        QCOMPARE(Text(rtf), text);
    }

    void hyperlinkTargets_data()
    {
        QTest::addColumn<QString>("instruction");
        QTest::addColumn<QString>("target");
        QTest::newRow("quoted") << u"HYPERLINK \"https://a.example/x\""_s << u"https://a.example/x"_s;
        QTest::newRow("blanks around, lower case")
            << u"  hyperlink   \"https://a.example/x\"  "_s << u"https://a.example/x"_s;
        QTest::newRow("unquoted") << u"HYPERLINK https://a.example/x"_s << u"https://a.example/x"_s;
        QTest::newRow("no blank before the quote")
            << u"HYPERLINK\"https://a.example/x\""_s << u"https://a.example/x"_s;
        QTest::newRow("typographic quotes")
            << u"HYPERLINK \u201Chttps://a.example/x\u201D"_s << u"https://a.example/x"_s;
        QTest::newRow("escaped quote and backslash")
            << u"HYPERLINK \"file:///C:\\\\Doku\\\\a\\\"b.pdf\""_s << u"file:///C:\\Doku\\a\"b.pdf"_s;
        QTest::newRow("missing closing quote")
            << u"HYPERLINK \"https://a.example/x"_s << u"https://a.example/x"_s;
        QTest::newRow("anchor becomes the fragment")
            << u"HYPERLINK \"https://a.example/\" \\l \"teil2\""_s << u"https://a.example/#teil2"_s;
        QTest::newRow("only an anchor: nothing to open") << u"HYPERLINK \\l \"teil2\""_s << QString();
        QTest::newRow("tooltip and frame are no address")
            << u"HYPERLINK \\o \"Tipp\" \\t \"_blank\" \"https://a.example/\""_s << u"https://a.example/"_s;
        QTest::newRow("other field") << u"PAGE \\* MERGEFORMAT"_s << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("keyword alone") << u"HYPERLINK"_s << QString();
    }

    void hyperlinkTargets()
    {
        QFETCH(QString, instruction);
        QFETCH(QString, target);
        QCOMPARE(HyperlinkTarget(instruction), target);
    }

    void linksReachHtmlOnlyWhenSafe_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QString>("href");  // empty: no link at all
        QTest::newRow("http") << QByteArray("http://a.example/") << u"http://a.example/"_s;
        QTest::newRow("upper-case scheme") << QByteArray("HTTPS://A.example/") << u"HTTPS://A.example/"_s;
        QTest::newRow("ftp") << QByteArray("ftp://a.example/f.zip") << u"ftp://a.example/f.zip"_s;
        QTest::newRow("file") << QByteArray("file:///tmp/a.pdf") << u"file:///tmp/a.pdf"_s;
        QTest::newRow("www without scheme") << QByteArray("www.a.example") << u"http://www.a.example"_s;
        QTest::newRow("quote cannot leave the attribute")
            << QByteArray("http://a.example/\\\\\" onclick=\\\\\"alert(1)")
            << u"http://a.example/&quot; onclick=&quot;alert(1)"_s;
        QTest::newRow("angle brackets")
            << QByteArray("http://a.example/<b>") << u"http://a.example/&lt;b&gt;"_s;
        QTest::newRow("javascript") << QByteArray("javascript:alert(1)") << QString();
        QTest::newRow("javascript with blanks") << QByteArray(" JavaScript:alert(1)") << QString();
        QTest::newRow("data") << QByteArray("data:text/html,<script>") << QString();
        QTest::newRow("relative") << QByteArray("neu.html") << QString();
    }

    void linksReachHtmlOnlyWhenSafe()
    {
        QFETCH(QByteArray, target);
        QFETCH(QString, href);
        const QByteArray rtf =
            "{\\rtf1 {\\field{\\*\\fldinst HYPERLINK \"" + target + "\"}{\\fldrslt Ziel}}}";
        const QString html = RtfToHtml(rtf);
        if (href.isEmpty()) {
            QVERIFY2(!html.contains(u"<a"_s), qPrintable(html));
            QVERIFY(html.contains(u">Ziel</p>"_s));
        } else {
            QVERIFY2(html.contains(u"<a href=\""_s + href + u"\">Ziel</a>"_s), qPrintable(html));
        }
        QVERIFY(!html.contains(u"<script"_s));
    }

    void textIsEscapedInHtml()
    {
        const QString html =
            RtfToHtml(QByteArray("{\\rtf1 <script>alert('x')</script> & \"q\" \\'3c/p\\'3e}"));
        QCOMPARE(html,
                 u"<p style=\"margin-top:0px; margin-bottom:0px; white-space:pre-wrap;\">&lt;script&gt;"
                 u"alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;q&quot; &lt;/p&gt;</p>"_s);
    }

    void formattedRunsInHtml()
    {
        const QByteArray rtf =
            "{\\rtf1{\\colortbl;\\red255\\green0\\blue0;\\red255\\green255\\blue0;}\\b fett\\b0  "
            "{\\cf1\\fs21\\strike rot} {\\highlight2 gelb} H\\sub 2\\nosupersub O m\\super 2\\nosupersub  "
            "\\i\\ul k\\ulnone\\i0\\par}";
        QCOMPARE(RtfToHtml(rtf),
                 u"<p style=\"margin-top:0px; margin-bottom:0px; white-space:pre-wrap;\"><b>fett</b> "
                 u"<span style=\"font-size:10.5pt;color:#ff0000;\"><s>rot</s></span> "
                 u"<span style=\"background-color:#ffff00;\">gelb</span> H<sub>2</sub>O m<sup>2</sup> "
                 u"<i><u>k</u></i></p>"_s);
    }

    void listsInHtml()
    {
        const QByteArray rtf =
            "{\\rtf1\\pard{\\pntext\\'b7\\tab}{\\*\\pn\\pnlvlblt{\\pntxtb\\'b7}}a\\par{\\pntext\\'b7\\tab}"
            "b\\par"
            "\\pard zwischen\\par"
            "\\pard{\\pntext 1.\\tab}{\\*\\pn\\pnlvlbody\\pndec{\\pntxta .}}eins\\par{\\pntext "
            "2.\\tab}zwei\\par"
            "\\pard\\ls1\\ilvl1{\\listtext o\\tab}tief\\par}";
        const QString html = RtfToHtml(rtf);
        QVERIFY2(html.contains(u"<ul style=\"margin-top:0px; margin-bottom:0px; -qt-list-indent:1;\"><li "_s),
                 qPrintable(html));
        QVERIFY2(html.contains(u">a</li><li "_s) && html.contains(u">b</li></ul><p "_s), qPrintable(html));
        QVERIFY2(html.contains(u">1. eins</p>"_s) && html.contains(u">2. zwei</p>"_s), qPrintable(html));
        QVERIFY2(html.contains(u"-qt-list-indent:2;\"><li "_s) && html.contains(u">tief</li></ul>"_s),
                 qPrintable(html));
        QCOMPARE(html.count(u"<ul"_s), 2);

        QCOMPARE(RtfToPlainText(rtf), u"a\r\nb\r\nzwischen\r\neins\r\nzwei\r\ntief"_s);
        TRtfTextOptions withMarkers;
        withMarkers.listMarkers = true;
        QCOMPARE(RtfToPlainText(rtf, withMarkers),
                 u"• a\r\n• b\r\nzwischen\r\n1. eins\r\n2. zwei\r\n• tief"_s);
    }

    void detectedLinks_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("html");
        QTest::newRow("address with trailing full stop")
            << QByteArray("{\\rtf1 Siehe https://a.example/x?a=1&b=2.}")
            << u"Siehe <a href=\"https://a.example/x?a=1&amp;b=2\">https://a.example/x?a=1&amp;b=2</a>."_s;
        QTest::newRow("www in brackets") << QByteArray("{\\rtf1 (www.a.example)}")
                                         << u"(<a href=\"http://www.a.example\">www.a.example</a>)"_s;
        QTest::newRow("mailto") << QByteArray("{\\rtf1 mailto:x@a.example}")
                                << u"<a href=\"mailto:x@a.example\">mailto:x@a.example</a>"_s;
        QTest::newRow("inside a word: no link")
            << QByteArray("{\\rtf1 xhttp://a.example}") << u"xhttp://a.example"_s;
        QTest::newRow("scheme alone: no link") << QByteArray("{\\rtf1 http:// dort}") << u"http:// dort"_s;
        QTest::newRow("field link not linked twice")
            << QByteArray(
                   "{\\rtf1 {\\field{\\*\\fldinst HYPERLINK \"http://b.example\"}{\\fldrslt "
                   "http://a.example}}}")
            << u"<a href=\"http://b.example\">http://a.example</a>"_s;
    }

    void detectedLinks()
    {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, html);
        TRtfHtmlOptions options;
        options.detectLinks = true;
        const QString result = RtfToHtml(rtf, options);
        const QString prefix = u"<p style=\"margin-top:0px; margin-bottom:0px; white-space:pre-wrap;\">"_s;
        QCOMPARE(result, prefix + html + u"</p>"_s);
        QVERIFY(!RtfToHtml(QByteArray("{\\rtf1 https://a.example}")).contains(u"<a"_s));
    }

    void plainTextInput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("paragraphs");
        QTest::newRow("LF lines") << QByteArray("Zeile 1\nZeile 2") << u"Zeile 1\r\nZeile 2"_s << 2;
        QTest::newRow("mixed line ends kept, made CR LF")
            << QByteArray("a\r\nb\rc\n") << u"a\r\nb\r\nc\r\n"_s << 3;
        QTest::newRow("Windows-1252 without mark") << QByteArray("Gr\xFC\xDF\x80") << u"Grüß€"_s << 1;
        QTest::newRow("UTF-8 with mark") << QByteArray(
                                                "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F"
                                                "e")
                                         << u"Grüße"_s << 1;
        QTest::newRow("empty") << QByteArray() << QString() << 0;
        QTest::newRow("markup is text") << QByteArray("<b>a</b> & {\\b x}") << u"<b>a</b> & {\\b x}"_s << 1;
        QTest::newRow("RTF after blanks") << QByteArray(" \r\n\t{\\rtf1 a}") << u"a"_s << 1;
        QTest::newRow("RTF after UTF-8 mark") << QByteArray("\xEF\xBB\xBF{\\rtf1 a}") << u"a"_s << 1;
        QTest::newRow("RTF in UTF-16 with mark")
            << QByteArray("\xFF\xFE{\0\\\0r\0t\0f\0001\0 \0\xE4\0}\0", 20) << u"ä"_s << 1;
    }

    void plainTextInput()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(int, paragraphs);
        QCOMPARE(RtfToPlainText(bytes), text);
        QCOMPARE(ReadRichText(bytes).paragraphs.size(), paragraphs);
    }

    void plainTextInputIsEscapedInHtml()
    {
        QCOMPARE(RtfToHtml(QByteArray("<b>&\n\tx")),
                 u"<p style=\"margin-top:0px; margin-bottom:0px; white-space:pre-wrap;\">&lt;b&gt;&amp;</p>"
                 u"<p style=\"margin-top:0px; margin-bottom:0px; white-space:pre-wrap;\">&#9;x</p>"_s);
    }

    // The description reaches the hand-off as the descriptor's text, not as bytes.
    void descriptorText_data()
    {
        QTest::addColumn<QString>("rtf");
        QTest::addColumn<QString>("text");
        QTest::newRow("escapes") << u"{\\rtf1 Gr\\'fc\\'dfe\\par}"_s << u"Grüße"_s;
        QTest::newRow("raw Windows-1252 characters") << u"{\\rtf1 Grüße €}"_s << u"Grüße €"_s;
        QTest::newRow("characters outside Windows-1252 are kept, not '?'")
            << u"{\\rtf1 Łódź {\\b 😀} Ω\\u8364?}"_s << u"Łódź 😀 Ω€"_s;
        QTest::newRow("kept characters leave \\uc alone") << u"{\\rtf1\\uc2 Ł\\u8364??x}"_s << u"Ł€x"_s;
        QTest::newRow("raw character in the font's code page")
            << u"{\\rtf1{\\fonttbl{\\f0\\fcharset238 A;}}\\f0 ³}"_s << u"ł"_s;
        QTest::newRow("empty description") << QString() << QString();
        QTest::newRow("plain description") << u"Nur Text\nZweite Zeile"_s << u"Nur Text\r\nZweite Zeile"_s;
    }

    void descriptorText()
    {
        QFETCH(QString, rtf);
        QFETCH(QString, text);
        QCOMPARE(ConvertRTFToText(rtf), text);
    }

    // Whatever the bytes, the reader ends with a result no larger than the input allows.
    // A quadratic or unbounded reader shows here as a test that runs into its time limit.
    void hostileInputEndsBounded_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("text");  // null: any text will do
        const int deep = 100000;
        QTest::newRow("missing closing braces") << QByteArray("{\\rtf1 a{\\b b{\\i c") << u"abc"_s;
        QTest::newRow("extra closing braces end the document") << QByteArray("{\\rtf1 a}}}b}") << u"a"_s;
        QTest::newRow("closing brace first") << QByteArray("}}{\\rtf1 a}") << QString();
        QTest::newRow("nesting 100000 deep, closed")
            << "{\\rtf1 a" + QByteArray(deep, '{') + "b" + QByteArray(deep, '}') + "c}" << u"ac"_s;
        QTest::newRow("nesting 100000 deep, never closed")
            << "{\\rtf1 a" + QByteArray(deep, '{') + "b" << u"a"_s;
        QTest::newRow("nesting 200 deep is read")
            << "{\\rtf1 " + QByteArray(200, '{') + "b" + QByteArray(200, '}') + "}" << u"b"_s;
        QTest::newRow("\\* at every level")
            << "{\\rtf1 a" + QByteArray("{\\*").repeated(deep) + "b" << u"a"_s;
        QTest::newRow("\\bin longer than the file") << QByteArray("{\\rtf1 a\\bin999999 xyz") << u"a"_s;
        QTest::newRow("\\bin beyond 32 bits")
            << QByteArray("{\\rtf1 a\\bin99999999999999999999 xyz}") << u"a"_s;
        QTest::newRow("\\bin negative") << QByteArray("{\\rtf1 a\\bin-5 b}") << u"ab"_s;
        QTest::newRow("\\bin at the end") << QByteArray("{\\rtf1 a\\bin") << u"a"_s;
        QTest::newRow("huge parameters")
            << QByteArray(
                   "{\\rtf1 \\fs99999999999999999999\\cf-99999999999999999\\ansicpg-5\\uc-3\\f99999999999 a"
                   "\\sb99999999999\\ls-1\\ilvl999999999\\par}")
            << u"a"_s;
        QTest::newRow("\\uc beyond 32 bits")
            << QByteArray("{\\rtf1 {\\uc99999999999\\u8364 abc}def}") << u"€def"_s;
        QTest::newRow("word of 100000 letters") << "{\\rtf1 a\\" + QByteArray(deep, 'x') + " b}" << u"ab"_s;
        QTest::newRow("parameter of 100000 digits")
            << "{\\rtf1 a\\fs" + QByteArray(deep, '9') + " b}" << u"ab"_s;
        QTest::newRow("NUL bytes") << QByteArray("{\\rtf1 a\0b\\'00c\0}", 17) << u"abc"_s;
        QTest::newRow("backslash at the end") << QByteArray("{\\rtf1 a\\") << u"a"_s;
        QTest::newRow("many \\field in one group")
            << "{\\rtf1 " + QByteArray("\\field ").repeated(deep) + "x}" << u"x"_s;
        QTest::newRow("fields nested deep")
            << "{\\rtf1 " +
                   QByteArray("{\\field{\\*\\fldinst HYPERLINK \"http://a\"}{\\fldrslt ").repeated(100) + "x"
            << u"x"_s;
        QTest::newRow("many links")
            << "{\\rtf1 " +
                   QByteArray("{\\field{\\*\\fldinst HYPERLINK \"http://a\"}{\\fldrslt y}}").repeated(20000) +
                   "}"
            << QString(20000, u'y');
        QTest::newRow("double-byte lead cut off by a group")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset128 M;}}\\f0 \\'82{\\b\\'a0}x}") << QString();
        QTest::newRow("lead byte at the very end")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset134 M;}}\\f0 \\'c4") << QString();
        QTest::newRow("colour table out of range")
            << QByteArray("{\\rtf1{\\colortbl;\\red999\\green-4\\blue3}\\cf1 a\\cf7 b\\highlight99 c}")
            << u"abc"_s;
        QTest::newRow("many paragraphs")
            << "{\\rtf1 " + QByteArray("\\par").repeated(deep) + "}" << QString(u"\r\n"_s).repeated(deep - 1);
        QTest::newRow("many fallback skips")
            << "{\\rtf1\\uc1 " + QByteArray("\\u8364?").repeated(deep) + "}" << QString(deep, QChar(0x20AC));
        QTest::newRow("font table of many fonts")
            << "{\\rtf1{\\fonttbl" + QByteArray("{\\f7\\fcharset238 A;}").repeated(deep) + "}\\f7 \\'b3}"
            << u"ł"_s;
    }

    void hostileInputEndsBounded()
    {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, text);
        const QString plain = RtfToPlainText(rtf);
        if (!text.isNull())
            QCOMPARE(plain, text);
        QVERIFY(plain.size() <= rtf.size());
        const QString html = RtfToHtml(rtf);
        QVERIFY(html.size() <= 100 * rtf.size() + 1000);
        QVERIFY(!html.contains(u"<script"_s));
    }
};

QTEST_MAIN(TestRtfReader)
#include "tst_rtfReader.moc"
