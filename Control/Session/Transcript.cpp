#include "Control/Session/Transcript.h"

#include <QTextCursor>
#include <QTextDocument>

using namespace Qt::StringLiterals;

namespace kv::control {

namespace {

// Writes runs at the end of the document. Normal text carries no colour of
// its own, so the view shows it in its palette's text colour.
class Writer {
public:
    explicit Writer(QTextDocument& document) : m_cursor(&document) { m_cursor.movePosition(QTextCursor::End); }
    void write(const QString& text, bool bold, const QColor& color = QColor())
    {
        QTextCharFormat f;
        f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
        if (color.isValid()) f.setForeground(color);
        QString normal = text;
        normal.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
        m_cursor.insertText(normal, f);
    }

private:
    QTextCursor m_cursor;
};

} // namespace

QColor ColorFromSetting(qint64 value)
{
    const auto v = static_cast<quint32>(value);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

qint64 ColorToSetting(const QColor& c)
{
    return qint64(c.red()) | (qint64(c.green()) << 8) | (qint64(c.blue()) << 16);
}

void AppendChatLine(QTextDocument& transcript, const QString& name, const QColor& color, const QString& text)
{
    Writer w(transcript);
    w.write(name, true, color);
    w.write(u"\t"_s + text + u"\r\n"_s, false);
}

QString StatusNotice(const QString& availability)
{
    return u"has changed status to '"_s + availability + u"'."_s;
}

void AppendNoticeLine(QTextDocument& transcript, const QString& name, const QString& text)
{
    Writer w(transcript);
    w.write(u"["_s + name + u"]"_s, true, QColor::fromRgb(NoticeGrey));
    w.write(u"\t"_s + text + u"\r\n"_s, false);
}

void AppendPlainText(QTextDocument& transcript, const QString& text)
{
    Writer w(transcript);
    w.write(text, false);
}

} // namespace kv::control
