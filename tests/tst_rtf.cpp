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
    void escaping()
    {
        const std::pair<QString, QByteArray> rows[] = {
            {u"Hello, world"_s, "Hello, world"},
            {u"a\\b{c}d"_s, "a\\\\b\\{c\\}d"},
            {u"caf"_s + QChar(0xE9) + QChar(0xAE), "caf\\'e9\\'ae"}, // Latin-1
            {QString(QChar(0x20AC)), "\\'80"},                       // code page 1252
            {QString(QChar(0x4E2D)), "\\u20013?"},                   // beyond the code page
            {QString(QChar(0xFF21)), "\\u-223?"},                    // a negative number
            {u"a\tb"_s, "a\\tab b"},
            {u"a"_s + QChar(0x01) + u"b"_s, "ab"}, // controls dropped
        };
        for (const auto& [text, rtf] : rows) {
            QCOMPARE(EscapeText(text), rtf);
            QCOMPARE(Read(rtf).text, QString(text).remove(QChar(0x01))); // read back
        }
    }

    void documentsAndFiles()
    {
        Writer w;
        const int tahoma = w.addFont(u"Tahoma"_s);
        const int arial = w.addFont(u"Arial"_s);
        QCOMPARE(w.addFont(u"Tahoma"_s), tahoma);
        const int blue = w.addColour(Qt::blue);
        const int grey = w.addColour(QColor(128, 128, 128));
        QCOMPARE(w.addColour(Qt::blue), blue);
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

        // A text document as the transcript keeps it.
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
        const QByteArray fromDoc = FromDocument(doc);
        QVERIFY(fromDoc.contains("\\tx1250"));
        QVERIFY(fromDoc.contains("\\red255\\green0\\blue0;"));
        QVERIFY(fromDoc.contains("\\b\\cf1 Ann"));
        QVERIFY(fromDoc.contains("\\tab \\{hi\\} \\'e9"));
        QCOMPARE(fromDoc.count("\\par\n"), 2);

        // Writing a file replaces what was there.
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
