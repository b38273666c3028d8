#pragma once
// A small rich-text (RTF 1.x) writer for what the product saves as rich text:
// mail bodies, chat transcripts and the e-mail signature. Fonts, bold,
// colours, font size, tab stops and paragraphs; text is written in the ANSI
// code page with every other character as a Unicode escape.
#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>

class QTextBlock;
class QTextDocument;

namespace kv::platform::rtf {

struct CharFormat {
    int font = 0; // index returned by addFont (0: the first font)
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int colour = 0;     // index returned by addColour; 0 is the reader's automatic colour
    int halfPoints = 0; // font size in half points; 0 keeps the document's size
};

struct ParagraphFormat {
    QList<int> tabStopsTwips; // left-aligned tab stops, in twips from the left margin
};

class Writer {
public:
    Writer();

    // Fonts and colours are numbered in the order they are added.
    int addFont(const QString& name, const QByteArray& family = QByteArrayLiteral("swiss"));
    int addColour(const QColor& colour); // returns the existing index when the colour is known
    void setDefaultSize(int halfPoints) { m_defaultHalfPoints = halfPoints; }

    // Starts a paragraph; text() then appends runs to it until endParagraph().
    void beginParagraph(const ParagraphFormat& format = {});
    // Appends a run. TAB becomes a tab; CR, LF and CR LF end the paragraph
    // and continue in a new one with the same paragraph format.
    void text(const QString& text, const CharFormat& format = {});
    void endParagraph();

    // An ignorable destination ("{\*\keyword ...}") that other readers skip;
    // payload is written as it is (already escaped by the caller).
    void ignorableGroup(const QByteArray& keyword, const QByteArray& payload);

    QByteArray toRtf() const;

private:
    void applyFormat(const CharFormat& format);

    QList<QString> m_fonts;
    QList<QByteArray> m_families;
    QList<QColor> m_colours;
    int m_defaultHalfPoints = 20;
    QByteArray m_body;
    ParagraphFormat m_paragraph;
    bool m_inParagraph = false;
    CharFormat m_current;
};

// Text escaped for an RTF body: "\", "{" and "}" escaped, characters of the
// ANSI code page above 127 as \'hh, everything else as \uN? (N signed 16-bit).
// Line breaks are not touched: the writer turns them into paragraphs.
QByteArray EscapeText(const QString& text);

// Converts a text document (a rich-text box's contents) paragraph by paragraph:
// font family, bold, italic, underline, colour, size and the tab stops.
QByteArray FromDocument(const QTextDocument& document);
// Writes the text of one paragraph with its character formats (font, bold,
// italic, underline, colour, size), between beginParagraph and endParagraph.
void WriteFragments(Writer& w, const QTextBlock& block);

// Writes the bytes to the path, replacing the file as a whole. False on failure.
bool WriteFile(const QString& path, const QByteArray& rtf);

// ---- Reading back what the writer wrote ----

// An ignorable destination ("{\*\keyword payload}") met in the body: its
// payload as written, and the position in the text where it stood.
struct Destination {
    QByteArray keyword;
    QByteArray payload;
    qsizetype position = 0;
};

struct ReadResult {
    QString text; // paragraphs and line breaks as CR LF, tabs as TAB
    QList<Destination> destinations;
};

// The plain text of a rich-text document; formatting, the font and colour
// tables and other known destinations are skipped. Any input is safe: an
// unbalanced or truncated document ends where the bytes end.
ReadResult Read(QByteArrayView rtf);

} // namespace kv::platform::rtf
