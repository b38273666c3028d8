#include "Control/Layout.h"

#include "Control/Transcript.h"

#include <QEvent>
#include <QSplitter>
#include <QWidget>

namespace kv::control {

SplitterRange SplitterLimits(int innerWidth, int marginPixels)
{
    SplitterRange r;
    r.minLeft = marginPixels;
    r.maxLeft = qMax(r.minLeft, innerWidth - marginPixels);
    return r;
}

LayoutKeeper::LayoutKeeper(QWidget* control, QSplitter* splitter)
    : QObject(control), m_control(control), m_splitter(splitter)
{
    m_control->setMinimumSize(TwipsToPixels(MinimumWidthTwips, control),
                              TwipsToPixels(MinimumHeightTwips, control));
    // The panes are laid out again when the splitter is released, not while it moves.
    m_splitter->setOpaqueResize(false);
    m_control->installEventFilter(this);
    m_splitter->installEventFilter(this);
    connect(m_splitter, &QSplitter::splitterMoved, this, &LayoutKeeper::relayout);
}

SplitterRange LayoutKeeper::range() const
{
    return SplitterLimits(m_control->width(), TwipsToPixels(SplitterMarginTwips, m_control));
}

int LayoutKeeper::splitterLeft() const
{
    if (m_splitter->count() < 2) return 0;
    const QWidget* handle = m_splitter->handle(1);
    return handle->mapTo(m_control, QPoint(0, 0)).x();
}

void LayoutKeeper::relayout()
{
    if (m_splitter->count() < 2) return;
    const SplitterRange r = range();
    const int splitLeft = m_splitter->mapTo(m_control, QPoint(0, 0)).x();
    const int splitRight = splitLeft + m_splitter->width();
    // The left pane reaches from the splitter's own left edge to the handle;
    // the right pane and the handle from the handle to the splitter's right edge.
    m_splitter->widget(0)->setMinimumWidth(qMax(0, r.minLeft - splitLeft));
    m_splitter->widget(1)->setMinimumWidth(qMax(0, splitRight - r.maxLeft - m_splitter->handleWidth()));
}

bool LayoutKeeper::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && (watched == m_control || watched == m_splitter)) relayout();
    return QObject::eventFilter(watched, event);
}

} // namespace kv::control
