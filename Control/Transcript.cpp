#include "Control/Transcript.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

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
        m_timer.setSingleShot(true);
        m_timer.setInterval(RedrawDelayMs);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            m_t->viewport()->setUpdatesEnabled(true);
            m_t->ensureCursorVisible();
        });
    }
    void lineArrived()
    {
        // A caret already at the end moved along with the text; setting it
        // again would lay the view out once per line.
        const QTextCursor caret = m_t->textCursor();
        if (!caret.hasSelection() && !caret.atEnd()) m_t->moveCursor(QTextCursor::End);
        if (m_timer.isActive()) return;
        m_t->viewport()->setUpdatesEnabled(false);
        m_timer.start();
    }

private:
    QTextEdit* m_t;
    QTimer m_timer;
};
} // namespace

int TwipsToPixels(int twips, const QWidget* widget)
{
    const qreal dpi = widget ? widget->logicalDpiX() : 96.0;
    return qRound(twips * dpi / TwipsPerInch);
}

void PrepareTranscript(QTextEdit* transcript, QTextDocument* document)
{
    transcript->setDocument(document);
    transcript->setReadOnly(true);
    transcript->setAcceptRichText(true);
    transcript->setTabStopDistance(TwipsToPixels(TranscriptTabStopTwips, transcript));
    auto* lock = new RedrawLock(transcript);
    QObject::connect(document, &QTextDocument::contentsChanged, lock, &RedrawLock::lineArrived);
}

bool KeyboardContextMenu(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_F10 || key->modifiers() != Qt::ShiftModifier) return false;
    auto* widget = static_cast<QWidget*>(watched);
    // Where the platform puts the menu key's event: the caret, or an item view's current item.
    const QPoint at = widget->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, widget->mapToGlobal(at), key->modifiers());
    QCoreApplication::sendEvent(widget, &menu);
    return true;
}

} // namespace kv::control
