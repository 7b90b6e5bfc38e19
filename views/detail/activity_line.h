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
class ActivityLine final : public QWidget {
    Q_OBJECT
public:
    // Takes `actionButtons` (may be null) as its child.
    ActivityLine(const ActivityInfo& activity, QWidget* actionButtons, QWidget* parent = nullptr);

    void setHover(bool hover);
    QLabel* userNameLabel() const { return m_userName; }
    QLabel* kindLabel() const { return m_kind; }
    QWidget* actionButtons() const { return m_actionButtons; }

private:
    QLabel* m_userName = nullptr;
    QLabel* m_kind = nullptr;
    QWidget* m_actionButtons = nullptr;
};

} // namespace vantrel
