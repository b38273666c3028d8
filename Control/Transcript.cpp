#include "Control/Transcript.h"

#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace kv::control {

namespace {
constexpr int TwipsPerInch = 1440;

// How long the view's painting is held off after a line arrives: a burst of
// lines is drawn once, not once per line.
constexpr int RedrawDelayMs = 40;

// Holds the view's painting while lines arrive and draws once when they stop.
class RedrawLock : public QObject {
public:
    explicit RedrawLock(QTextEdit* t) : QObject(t), m_t(t)
    {
        setObjectName(QStringLiteral("transcriptRedraw"));
        m_timer.setSingleShot(true);
        m_timer.setInterval(RedrawDelayMs);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            m_t->viewport()->setUpdatesEnabled(true);
            m_t->ensureCursorVisible();
        });
    }
    void hold()
    {
        if (m_timer.isActive()) return;
        m_t->viewport()->setUpdatesEnabled(false);
        m_timer.start();
    }

private:
    QTextEdit* m_t;
    QTimer m_timer;
};

// One writer for all appends: the caret ends at the end of the text.
class Writer {
public:
    explicit Writer(QTextEdit* t) : m_t(t), m_cursor(t->document())
    {
        // RedrawLock has no meta-object of its own: found by name, checked by type.
        auto* lock = dynamic_cast<RedrawLock*>(
            t->findChild<QObject*>(QStringLiteral("transcriptRedraw"), Qt::FindDirectChildrenOnly));
        if (!lock) lock = new RedrawLock(t);
        lock->hold();
        m_cursor.movePosition(QTextCursor::End);
    }
    ~Writer()
    {
        // A caret already at the end moved along with the text; setting it
        // again would lay the view out once per line.
        const QTextCursor caret = m_t->textCursor();
        if (caret.hasSelection() || caret.position() != m_cursor.position()) m_t->setTextCursor(m_cursor);
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
    // Lines are only ever appended: nothing to undo, and no history growing with the text.
    transcript->document()->setUndoRedoEnabled(false);
}

void AppendChatLine(QTextEdit* transcript, const QString& name, const QColor& color, const QString& text)
{
    if (!transcript) return;
    Writer w(transcript);
    w.write(name, true, color);
    w.write(u"\t"_s + text + u"\r\n"_s, false);
}

QString StatusNotice(const QString& availability)
{
    return u"has changed status to '"_s + availability + u"'."_s;
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
