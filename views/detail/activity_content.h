#pragma once

#include "engine/activity.h"

#include <QWidget>

class QLabel;

namespace vantrel {

// The middle line of an activity row, chosen by the activity's kind: a new version's message in
// a bubble; for a revert, the message and date of the version gone back to (nothing when either
// is unknown); for a lock, the force-unlock control the feed hands in; nothing for the others.
// Messages are shown as they are, selectable.
class ActivityContent final : public QWidget {
    Q_OBJECT
public:
    // Takes `forceUnlock` (may be null) as its child for a lock entry; deletes it otherwise.
    ActivityContent(const ActivityInfo& activity, QWidget* forceUnlock, QWidget* parent = nullptr);

    // The height of the line for `activity` at `width`, from the widget font `base`; 0 when it
    // shows nothing. The same as the laid-out line's height.
    static int heightFor(const ActivityInfo& activity, bool forceUnlock, int width, const QFont& base);

    // Whether the line shows anything; the row hides an empty line.
    bool isEmpty() const { return m_isEmpty; }
    // The bubble's message, or null.
    QLabel* messageLabel() const { return m_message; }
    QWidget* forceUnlock() const { return m_forceUnlock; }

private:
    void addBubble(const QString& message, const std::optional<QDateTime>& date);

    bool m_isEmpty = true;
    QLabel* m_message = nullptr;
    QWidget* m_forceUnlock = nullptr;
};

} // namespace vantrel
