// The rich-text writer (and its reader): what transcripts, mail bodies and the signature need
// (fonts, bold, colour table, tab stops, paragraphs) and correct escaping.
#include "Platform/Rtf.h"
#include "testing/SimComputer.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

using namespace Qt::StringLiterals;
using namespace kv::platform::rtf;

class TestRtf : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void escaping_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("rtf");
        QTest::newRow("plain") << u"Hello, world"_s << QByteArray("Hello, world");
        QTest::newRow("specials") << u"a\\b{c}d"_s << QByteArray("a\\\\b\\{c\\}d");
        QTest::newRow("latin-1") << (u"caf"_s + QChar(0xE9) + QChar(0xAE)) << QByteArray("caf\\'e9\\'ae");
        QTest::newRow("code page 1252") << QString(QChar(0x20AC)) << QByteArray("\\'80");
        QTest::newRow("beyond the code page") << QString(QChar(0x4E2D)) << QByteArray("\\u20013?");
        QTest::newRow("negative unicode") << QString(QChar(0xFF21)) << QByteArray("\\u-223?");
        QTest::newRow("tab") << u"a\tb"_s << QByteArray("a\\tab b");
        QTest::newRow("controls dropped") << (u"a"_s + QChar(0x01) + u"b"_s) << QByteArray("ab");
    }
    void escaping()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, rtf);
        QCOMPARE(EscapeText(text), rtf);
        QCOMPARE(Read(rtf).text, QString(text).remove(QChar(0x01))); // read back
    }

    void document_fontsColoursTabsParagraphs()
    {
        Writer w;
        const int tahoma = w.addFont(u"Tahoma"_s);
        const int arial = w.addFont(u"Arial"_s);
        QCOMPARE(w.addFont(u"Tahoma"_s), tahoma);
        const int blue = w.addColour(Qt::blue);
        const int grey = w.addColour(QColor(128, 128, 128));
        QCOMPARE(w.addColour(Qt::blue), blue);
        QCOMPARE(blue, 1);
        w.beginParagraph({{1250}});
        w.text(u"Ann"_s, {tahoma, true, false, false, blue, 0});
        w.text(u"\tHello\r\nsecond line"_s, {arial, false, false, false, 0, 24});
        w.endParagraph();
        w.beginParagraph({{1250}});
        w.text(u"[Bob]"_s, {tahoma, true, false, false, grey, 0});
        w.endParagraph();
        const QByteArray rtf = w.toRtf();
        QVERIFY(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Tahoma;}"
                               "{\\f1\\fswiss\\fcharset0 Arial;}}"));
        QVERIFY(rtf.contains("{\\colortbl ;\\red0\\green0\\blue255;\\red128\\green128\\blue128;}"));
        QVERIFY(rtf.contains(
            "\\pard\\tx1250 \\b\\cf1 Ann\\f1\\b0\\cf0\\fs24 \\tab Hello\\par\nsecond line\\par\n"));
        QVERIFY(rtf.contains("\\f0\\b\\cf2\\fs20 [Bob]\\par\n"));
        QCOMPARE(rtf.count('{'), rtf.count('}'));
        QVERIFY(rtf.endsWith("}\n"));

        // Read back: the text without tables and formatting; any cut-off document is read safely.
        const QString text = u"Ann\tHello\r\nsecond line\r\n[Bob]\r\n"_s;
        QCOMPARE(Read(rtf).text, text);
        // (a "\pard" cut to "\par" is a paragraph break, so breaks are not compared)
        for (qsizetype cut = 0; cut < rtf.size(); ++cut)
            QVERIFY(QString(text).remove(u"\r\n"_s).startsWith(Read(rtf.left(cut)).text.remove(u"\r\n"_s)));
    }

    void fromTextDocument()
    {
        QTextDocument doc;
        QTextCursor c(&doc);
        QTextBlockFormat bf;
        bf.setTabPositions({QTextOption::Tab(1250.0 * 96 / 1440, QTextOption::LeftTab)});
        c.setBlockFormat(bf);
        QTextCharFormat name;
        name.setFontWeight(QFont::Bold);
        name.setForeground(QColor(Qt::red));
        c.insertText(u"Ann"_s, name);
        c.insertText(u"\t{hi} "_s + QChar(0xE9), QTextCharFormat());
        c.insertBlock(bf);
        c.insertText(u"line two"_s);
        const QByteArray rtf = FromDocument(doc);
        QVERIFY(rtf.contains("\\tx1250"));
        QVERIFY(rtf.contains("\\red255\\green0\\blue0;"));
        QVERIFY(rtf.contains("\\b\\cf1 Ann"));
        QVERIFY(rtf.contains("\\tab \\{hi\\} \\'e9"));
        QCOMPARE(rtf.count("\\par\n"), 2);
    }

    void writeFileReplaces()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"t.rtf"_s);
        QVERIFY(WriteFile(path, "{\\rtf1 one}"));
        QVERIFY(WriteFile(path, "{\\rtf1 two}"));
        QCOMPARE(kv::test::FileBytes(path), QByteArray("{\\rtf1 two}"));
        QVERIFY(!WriteFile(dir.filePath(u"missing/t.rtf"_s), "x"));
    }
};

KV_TEST_MAIN(TestRtf)
#include "tst_rtf.moc"
