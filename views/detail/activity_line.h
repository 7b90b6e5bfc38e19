#pragma once

#include "engine/activity.h"
#include "views/detail/activity_symbol.h"

#include <QWidget>

#include <optional>

class QLabel;

namespace vantrel {

// The symbol of an activity's kind; none for a description change, a discard or a delete.
std::optional<ActivityIconType> activityIconType(const ActivityInfo& activity);
// The text after the user's name: fixed for most kinds, the activity's own message for editing
// and lock entries.
QString kindDescription(const ActivityInfo& activity);

// The first line of an activity row, 28 pixels high: the symbol, the user's name (bold,
// selectable), what they did, and at the trailing end the row's buttons, shown only while the
// pointer is over the row. Hidden buttons keep their place, so nothing moves.
//
// In a narrow column what they did wraps onto further lines, between whole words, and the line
// grows to hold them (the timeline runs on past the symbol); a name wider than half the texts'
// room is elided. Nothing is cut.
class ActivityLine final : public QWidget {
    Q_OBJECT
public:
    static constexpr int minimumHeight = 28;

    // Takes `actionButtons` (may be null) as its child.
    ActivityLine(const ActivityInfo& activity, QWidget* actionButtons, QWidget* parent = nullptr);

    // The line's height at `width`, with buttons `buttonsWidth` wide (0 for none), from the
    // widget font `base`; the same as heightForWidth() of such a line.
    static int heightFor(const ActivityInfo& activity, int width, int buttonsWidth, const QFont& base);

    void setHover(bool hover);
    QLabel* userNameLabel() const { return m_userName; }
    QLabel* kindLabel() const { return m_kind; }
    QWidget* actionButtons() const { return m_actionButtons; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int buttonsWidth() const;

    ActivityInfo m_activity;
    ActivitySymbol* m_symbol = nullptr;
    QLabel* m_userName = nullptr;
    QLabel* m_kind = nullptr;
    QWidget* m_actionButtons = nullptr;
};

} // namespace vantrel
