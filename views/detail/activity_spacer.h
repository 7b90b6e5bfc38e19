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
class ActivitySpacer final : public QWidget {
    Q_OBJECT
public:
    enum class Position { top, middle, bottom };

    static constexpr int width = 28;
    static constexpr int minimumLineHeight = 16;

    explicit ActivitySpacer(Position position, QWidget* parent = nullptr);

    Position position() const { return m_position; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Position m_position;
};

} // namespace vantrel
