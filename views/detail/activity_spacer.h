#pragma once

#include <QColor>
#include <QWidget>

namespace vantrel {

// The colour of the activity timeline: neutral 0 at a tenth of its strength.
QColor activityTimelineColor();

// One segment of the activity timeline: a vertical line, 2 pixels wide, centred in a column 28
// pixels wide (the width of an activity symbol), as tall as its line of the row. The top
// segment of a timeline caps the line with a short dash 4 pixels below its top edge; the bottom
// segment ends the line with a dash followed by 20 pixels of space.
//
// A row's first and last segments reach past the row's edges into its neighbours, so that the
// timeline reads as one line: the part lying outside is the overlap, cut from the widget's own
// height and drawn as if it were there.
class ActivitySpacer final : public QWidget {
    Q_OBJECT
public:
    enum class Position { top, middle, bottom };

    static constexpr int width = 28;
    static constexpr int minimumLineHeight = 16;
    // How far a row's first segment reaches above it and its last one below it.
    static constexpr int rowOverlap = 4;

    explicit ActivitySpacer(Position position, QWidget* parent = nullptr);

    Position position() const { return m_position; }
    void setPosition(Position position);
    // Pixels of the segment that lie above and below the widget.
    void setOverlap(int above, int below);
    int overlapAbove() const { return m_above; }
    int overlapBelow() const { return m_below; }
    // The height of a segment at `position` with the given overlap.
    static int heightFor(Position position, int above = 0, int below = 0);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Position m_position;
    int m_above = 0;
    int m_below = 0;
};

} // namespace vantrel
