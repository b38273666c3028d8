#include "Transcript.h"

#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace kv::control {

namespace {
constexpr int TwipsPerInch = 1440;

// One writer for all appends: the caret ends at the end of the text.
class Writer {
public:
    explicit Writer(QTextEdit* t) : m_t(t), m_cursor(t->document())
    {
        m_t->setUpdatesEnabled(false);
        m_cursor.movePosition(QTextCursor::End);
    }
    ~Writer()
    {
        m_t->setTextCursor(m_cursor);
        m_t->setUpdatesEnabled(true);
        m_t->ensureCursorVisible();
    }
    void write(const QString& text, bool bold, const QColor& color = QColor())
    {
        QTextCharFormat f;
        f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
        if (color.isValid())
            f.setForeground(color);
        else
            f.setForeground(m_t->palette().color(QPalette::Text));
        QString normal = text;
        normal.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
        m_cursor.insertText(normal, f);
    }

private:
    QTextEdit* m_t;
    QTextCursor m_cursor;
};
} // namespace

int TwipsToPixels(int twips, const QWidget* widget)
{
    const qreal dpi = widget ? widget->logicalDpiX() : 96.0;
    return qRound(twips * dpi / TwipsPerInch);
}

QColor ColorFromSetting(qint64 value)
{
    const auto v = static_cast<quint32>(value);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

qint64 ColorToSetting(const QColor& c)
{
    return qint64(c.red()) | (qint64(c.green()) << 8) | (qint64(c.blue()) << 16);
}

void PrepareTranscript(QTextEdit* transcript)
{
    transcript->setReadOnly(true);
    transcript->setAcceptRichText(true);
    transcript->setTabStopDistance(TwipsToPixels(TranscriptTabStopTwips, transcript));
}

void AppendChatLine(QTextEdit* transcript, const QString& name, const QColor& color, const QString& text)
{
    if (!transcript) return;
    Writer w(transcript);
    w.write(name, true, color);
    w.write(u"\t"_s + text + u"\r\n"_s, false);
}

void AppendNoticeLine(QTextEdit* transcript, const QString& name, const QString& text)
{
    if (!transcript) return;
    Writer w(transcript);
    w.write(u"["_s + name + u"]"_s, true, QColor::fromRgb(NoticeGrey));
    w.write(u"\t"_s + text + u"\r\n"_s, false);
}

void AppendPlainText(QTextEdit* transcript, const QString& text)
{
    if (!transcript) return;
    Writer w(transcript);
    w.write(text, false);
}

} // namespace kv::control
