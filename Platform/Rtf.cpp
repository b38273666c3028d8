#include "Platform/Rtf.h"

#include "Platform/Ansi.h"

#include <QSaveFile>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

using namespace Qt::StringLiterals;

namespace kv::platform::rtf {

namespace {

QByteArray num(int n)
{
    return QByteArray::number(n);
}

// Windows-1252 bytes 0x80..0x9F and the Unicode characters they stand for.
constexpr char16_t Cp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                     0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The ANSI byte for a character, or -1 when the code page lacks it.
int ansiByte(char16_t c)
{
    if (c >= 0xA0 && c <= 0xFF) return c;
    for (int i = 0; i < 32; ++i)
        if (Cp1252High[i] != 0 && Cp1252High[i] == c) return 0x80 + i;
    return -1;
}

QByteArray hexByte(int b)
{
    static const char digits[] = "0123456789abcdef";
    QByteArray out("\\'");
    out.append(digits[(b >> 4) & 0xF]);
    out.append(digits[b & 0xF]);
    return out;
}

} // namespace

QByteArray EscapeText(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() + 16);
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c == u'\\' || c == u'{' || c == u'}') {
            out.append('\\');
            out.append(static_cast<char>(c));
        } else if (c == u'\t') {
            out.append("\\tab ");
        } else if (c >= 0x20 && c < 0x7F) {
            out.append(static_cast<char>(c));
        } else if (const int b = ansiByte(c); b >= 0) {
            out.append(hexByte(b));
        } else if (c < 0x20 || c == 0x7F) {
            // Other control characters carry nothing a reader could show.
            continue;
        } else {
            // \uN takes a signed 16-bit value; "?" is what readers without Unicode show.
            out.append("\\u" + num(static_cast<qint16>(c)) + "?");
        }
    }
    return out;
}

Writer::Writer()
{
    m_colours.append(QColor()); // index 0: automatic
}

int Writer::addFont(const QString& name, const QByteArray& family)
{
    const int existing = m_fonts.indexOf(name);
    if (existing >= 0) return existing;
    m_fonts.append(name);
    m_families.append(family);
    return static_cast<int>(m_fonts.size() - 1);
}

int Writer::addColour(const QColor& colour)
{
    if (!colour.isValid()) return 0;
    for (qsizetype i = 1; i < m_colours.size(); ++i)
        if (m_colours[i].rgb() == colour.rgb()) return static_cast<int>(i);
    m_colours.append(colour);
    return static_cast<int>(m_colours.size() - 1);
}

void Writer::beginParagraph(const ParagraphFormat& format)
{
    if (m_inParagraph) endParagraph();
    m_paragraph = format;
    m_body.append("\\pard");
    for (int tab : format.tabStopsTwips)
        m_body.append("\\tx" + num(tab));
    m_body.append(' ');
    m_inParagraph = true;
}

void Writer::applyFormat(const CharFormat& f)
{
    QByteArray codes;
    if (f.font != m_current.font) codes.append("\\f" + num(f.font));
    if (f.bold != m_current.bold) codes.append(f.bold ? "\\b" : "\\b0");
    if (f.italic != m_current.italic) codes.append(f.italic ? "\\i" : "\\i0");
    if (f.underline != m_current.underline) codes.append(f.underline ? "\\ul" : "\\ulnone");
    if (f.colour != m_current.colour) codes.append("\\cf" + num(f.colour));
    const int size = f.halfPoints > 0 ? f.halfPoints : m_defaultHalfPoints;
    const int currentSize = m_current.halfPoints > 0 ? m_current.halfPoints : m_defaultHalfPoints;
    if (size != currentSize) codes.append("\\fs" + num(size));
    if (!codes.isEmpty()) {
        m_body.append(codes);
        m_body.append(' ');
    }
    m_current = f;
}

void Writer::text(const QString& text, const CharFormat& format)
{
    if (!m_inParagraph) beginParagraph(m_paragraph);
    applyFormat(format);
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool atEnd = i == text.size();
        const QChar c = atEnd ? QChar() : text.at(i);
        if (!atEnd && c != u'\r' && c != u'\n') continue;
        m_body.append(EscapeText(text.mid(start, i - start)));
        if (atEnd) break;
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') ++i;
        m_body.append("\\par\n");
        start = i + 1;
    }
}

void Writer::endParagraph()
{
    if (!m_inParagraph) return;
    m_body.append("\\par\n");
    m_inParagraph = false;
}

void Writer::ignorableGroup(const QByteArray& keyword, const QByteArray& payload)
{
    m_body.append("{\\*\\" + keyword + ' ' + payload + "}");
}

QByteArray Writer::toRtf() const
{
    QByteArray out("{\\rtf1\\ansi\\ansicpg1252\\deff0");
    out.append("{\\fonttbl");
    const QList<QString> fonts = m_fonts.isEmpty() ? QList<QString>{u"Tahoma"_s} : m_fonts;
    for (qsizetype i = 0; i < fonts.size(); ++i) {
        const QByteArray family = i < m_families.size() ? m_families[i] : QByteArrayLiteral("swiss");
        out.append("{\\f" + num(static_cast<int>(i)) + "\\f" + family + "\\fcharset0 " +
                   EscapeText(fonts[i]) + ";}");
    }
    out.append("}\n");
    if (m_colours.size() > 1) {
        out.append("{\\colortbl ;");
        for (qsizetype i = 1; i < m_colours.size(); ++i) {
            const QColor& c = m_colours[i];
            out.append("\\red" + num(c.red()) + "\\green" + num(c.green()) + "\\blue" + num(c.blue()) + ";");
        }
        out.append("}\n");
    }
    out.append("\\viewkind4\\uc1\\f0\\fs" + num(m_defaultHalfPoints) + ' ');
    out.append(m_body);
    out.append("}\n");
    return out;
}

void WriteFragments(Writer& w, const QTextBlock& block)
{
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment frag = it.fragment();
        if (!frag.isValid()) continue;
        const QTextCharFormat cf = frag.charFormat();
        CharFormat f;
        const QStringList families = cf.fontFamilies().toStringList();
        if (!families.isEmpty()) f.font = w.addFont(families.first());
        f.bold = cf.fontWeight() >= QFont::Bold;
        f.italic = cf.fontItalic();
        f.underline = cf.fontUnderline();
        if (cf.hasProperty(QTextFormat::ForegroundBrush)) f.colour = w.addColour(cf.foreground().color());
        if (cf.fontPointSize() > 0) f.halfPoints = qRound(cf.fontPointSize() * 2);
        QString t = frag.text();
        t.replace(QChar::LineSeparator, u'\n');
        w.text(t, f);
    }
}

QByteArray FromDocument(const QTextDocument& document)
{
    Writer w;
    w.addFont(document.defaultFont().family());
    if (document.defaultFont().pointSizeF() > 0)
        w.setDefaultSize(qRound(document.defaultFont().pointSizeF() * 2));
    // Qt keeps tab positions in device pixels of the document's layout: 96 per inch.
    constexpr double TwipsPerPixel = 1440.0 / 96.0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        ParagraphFormat pf;
        const QList<QTextOption::Tab> tabs = block.blockFormat().tabPositions();
        for (const QTextOption::Tab& tab : tabs)
            pf.tabStopsTwips.append(qRound(tab.position * TwipsPerPixel));
        w.beginParagraph(pf);
        WriteFragments(w, block);
        w.endParagraph();
    }
    return w.toRtf();
}

bool WriteFile(const QString& path, const QByteArray& rtf)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    if (f.write(rtf) != rtf.size()) return false;
    return f.commit();
}

namespace {

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The index after the group that opens at start, or the end of the bytes.
qsizetype GroupEnd(QByteArrayView rtf, qsizetype start)
{
    int depth = 0;
    for (qsizetype i = start; i < rtf.size(); ++i) {
        if (rtf[i] == '\\') {
            ++i;
        } else if (rtf[i] == '{') {
            ++depth;
        } else if (rtf[i] == '}' && --depth == 0) {
            return i + 1;
        }
    }
    return rtf.size();
}

bool SkippedDestination(QByteArrayView word)
{
    return word == "fonttbl" || word == "colortbl" || word == "stylesheet" || word == "info" || word == "pict";
}

struct ControlWord {
    QByteArrayView word;
    bool hasParameter = false;
    int parameter = 0;
};

// The control word at i ("\\word", an optional signed parameter of up to 7
// digits and the space that ends it); i ends after it.
ControlWord ReadControlWord(QByteArrayView rtf, qsizetype& i)
{
    const qsizetype n = rtf.size();
    qsizetype j = i + 1;
    while (j < n && IsLetter(rtf[j]))
        ++j;
    ControlWord out;
    out.word = rtf.sliced(i + 1, j - i - 1);
    const qsizetype digits = j;
    if (j < n && rtf[j] == '-') ++j;
    while (j < n && j - digits < 7 && rtf[j] >= '0' && rtf[j] <= '9')
        ++j;
    out.parameter = rtf.sliced(digits, j - digits).toByteArray().toInt(&out.hasParameter);
    if (j < n && rtf[j] == ' ') ++j;
    i = j;
    return out;
}

// The destination group "{\*\keyword payload}" from i to its end, met at the text's position at.
Destination DestinationAt(QByteArrayView rtf, qsizetype i, qsizetype end, qsizetype at)
{
    qsizetype k = i + 4;
    while (k < end && IsLetter(rtf[k]))
        ++k;
    const qsizetype payloadStart = k < end && rtf[k] == ' ' ? k + 1 : k;
    return {rtf.sliced(i + 4, k - i - 4).toByteArray(),
            rtf.sliced(payloadStart, qMax<qsizetype>(0, end - 1 - payloadStart)).toByteArray(), at};
}

} // namespace

ReadResult Read(QByteArrayView rtf)
{
    ReadResult out;
    QByteArray ansi; // bytes of the current run, decoded together
    const auto flush = [&] {
        out.text += FromAnsi(ansi);
        ansi.clear();
    };
    QList<bool> skipping{false}; // one entry per open group
    const qsizetype n = rtf.size();
    qsizetype i = 0;
    while (i < n) {
        const char c = rtf[i];
        if (c == '{') {
            if (rtf.sliced(i).startsWith("{\\*\\")) {
                const qsizetype end = GroupEnd(rtf, i);
                if (!skipping.last()) {
                    flush();
                    out.destinations.append(DestinationAt(rtf, i, end, out.text.size()));
                }
                i = end;
                continue;
            }
            skipping.append(skipping.last());
            ++i;
            continue;
        }
        if (c == '}') {
            if (skipping.size() > 1) skipping.removeLast();
            ++i;
            continue;
        }
        if (c != '\\') {
            if (c != '\r' && c != '\n' && !skipping.last()) ansi.append(c);
            ++i;
            continue;
        }
        if (i + 1 >= n) break;
        const char d = rtf[i + 1];
        if (d == '\\' || d == '{' || d == '}') {
            if (!skipping.last()) ansi.append(d);
            i += 2;
            continue;
        }
        if (d == '\'') {
            const int high = i + 2 < n ? HexValue(rtf[i + 2]) : -1;
            const int low = i + 3 < n ? HexValue(rtf[i + 3]) : -1;
            if (high >= 0 && low >= 0 && !skipping.last()) ansi.append(static_cast<char>(high * 16 + low));
            i = qMin(n, i + 4);
            continue;
        }
        if (!IsLetter(d)) {
            i += 2; // other control symbols carry nothing of the text
            continue;
        }
        const auto [word, hasParameter, parameter] = ReadControlWord(rtf, i);
        if (SkippedDestination(word)) {
            skipping.last() = true;
        } else if (skipping.last()) {
            continue;
        } else if (word == "par" || word == "line") {
            flush();
            out.text += u"\r\n"_s;
        } else if (word == "tab") {
            ansi.append('\t');
        } else if (word == "u" && hasParameter) {
            flush();
            out.text += QChar(static_cast<char16_t>(static_cast<qint16>(parameter)));
            // The character shown by readers without Unicode follows.
            if (i < n && rtf[i] != '\\' && rtf[i] != '{' && rtf[i] != '}') ++i;
        }
    }
    flush();
    return out;
}

} // namespace kv::platform::rtf
