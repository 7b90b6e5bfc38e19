#pragma once

#include "engine/activity.h"

#include <QWidget>

#include <optional>

namespace vantrel {

class ActivityActionButtons;
class ActivityContent;
class ActivityDateLine;
class ActivityLine;
class ActivitySpacer;

// One row of an item's activity timeline: a segment of the timeline, who did what, the
// activity's content, its date and host, and a closing segment. The first row of the feed caps
// the timeline at its top and the last row at its bottom; the feed tells the row which it is.
// The first and last segments reach 4 pixels past the row's edges, into the rows above and
// below, so neighbouring rows overlap there and the timeline reads as one line. The row's
// buttons (handed in by the feed) show while the pointer is over the row.
class ActivityItem final : public QWidget {
    Q_OBJECT
public:
    // What decides a row's height, besides its width and font.
    struct Shape {
        const ActivityInfo& activity;
        int buttonsWidth = 0; // 0 without buttons
        bool forceUnlock = false;
        bool isFirst = false;
        bool isLast = false;
        bool withTag = false;
    };

    // Takes `actionButtons` and `forceUnlock` (either may be null) as its children.
    ActivityItem(ActivityInfo activity, ActivityActionButtons* actionButtons, QWidget* forceUnlock, bool isFirst,
                 bool isLast, QWidget* parent = nullptr);

    // The height of a row of `shape` at `width`, from the widget font `base`: what the row's own
    // layout gives it, worked out without building one.
    static int heightFor(const Shape& shape, int width, const QFont& base);

    const ActivityInfo& activity() const { return m_activity; }
    bool isFirst() const { return m_isFirst; }
    bool isLast() const { return m_isLast; }
    bool isHovered() const { return m_hover; }
    bool hasForceUnlock() const { return m_hasForceUnlock; }

    // The row's place in the feed: its caps follow it.
    void setPlace(bool isFirst, bool isLast);
    // The version of the application that wrote this version, when it differs from the one
    // installed here; shown as a tag on the date line.
    void setIncompatibleAppVersion(const std::optional<QString>& version);
    void setRevertEnabled(bool enabled);
    // Shows or hides the buttons, as the pointer entering or leaving the row does.
    void setHover(bool hover);

    ActivitySpacer* topSegment() const { return m_top; }
    ActivitySpacer* bottomSegment() const { return m_bottom; }
    ActivityLine* line() const { return m_line; }
    ActivityContent* content() const { return m_content; }
    ActivityDateLine* dateLine() const { return m_date; }
    ActivityActionButtons* actionButtons() const { return m_buttons; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    ActivityInfo m_activity;
    bool m_isFirst;
    bool m_isLast;
    bool m_hover = false;
    bool m_hasForceUnlock = false;
    ActivityActionButtons* m_buttons = nullptr;
    ActivitySpacer* m_top = nullptr;
    ActivityLine* m_line = nullptr;
    ActivityContent* m_content = nullptr;
    ActivityDateLine* m_date = nullptr;
    ActivitySpacer* m_bottom = nullptr;
};

} // namespace vantrel
