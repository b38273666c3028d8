#pragma once
// The control's layout around the splitter between the transcripts and the
// participant lists: the splitter's left edge stays 300 twips from either
// side of the control, and below a minimum size the layout stops shrinking.
#include <QObject>

class QSplitter;
class QWidget;

namespace kv::control {

inline constexpr int SplitterMarginTwips = 300;
inline constexpr int MinimumWidthTwips = 3000;
inline constexpr int MinimumHeightTwips = 2250;

// Where the splitter's left edge may go, in the control's pixels.
struct SplitterRange {
    int minLeft = 0;
    int maxLeft = 0;
};
SplitterRange SplitterLimits(int innerWidth, int marginPixels);

// Keeps the layout: recomputes the splitter's limits on every resize of the
// control, after the settings are applied and when the splitter is released.
class LayoutKeeper : public QObject {
    Q_OBJECT
public:
    LayoutKeeper(QWidget* control, QSplitter* splitter);
    // Recomputes the limits for the control's current size.
    void relayout();
    SplitterRange range() const;
    // The splitter's left edge in the control's coordinates.
    int splitterLeft() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_control;
    QSplitter* m_splitter;
};

} // namespace kv::control
