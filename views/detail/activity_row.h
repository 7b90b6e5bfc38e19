#pragma once

#include "engine/activity.h"

#include <QWidget>

#include <optional>

namespace vantrel {

class ActivityContent;
class ActivityDateLine;
class ActivityLine;
class ActivitySpacer;

// One row of an item's activity timeline: a segment of the timeline, who did what, the
// activity's content, its date and host, and a closing segment. The first row of the feed caps
// the timeline at its top and the last row at its bottom; the feed tells the row which it is.
// The row's buttons (handed in by the feed) show while the pointer is over the row.
class ActivityRow final : public QWidget {
    Q_OBJECT
public:
    // Takes `actionButtons` and `forceUnlock` (either may be null) as its children.
    ActivityRow(ActivityInfo activity, QWidget* actionButtons, QWidget* forceUnlock, bool isFirst, bool isLast,
                QWidget* parent = nullptr);

    const ActivityInfo& activity() const { return m_activity; }
    bool isFirst() const { return m_isFirst; }
    bool isLast() const { return m_isLast; }
    bool isHovered() const { return m_hover; }

    // The version of the application that wrote this version, when it differs from the one
    // installed here; shown as a tag on the date line.
    void setIncompatibleAppVersion(const std::optional<QString>& version);
    // Shows or hides the buttons, as the pointer entering or leaving the row does.
    void setHover(bool hover);

    ActivitySpacer* topSegment() const { return m_top; }
    ActivitySpacer* bottomSegment() const { return m_bottom; }
    ActivityLine* line() const { return m_line; }
    ActivityContent* content() const { return m_content; }
    ActivityDateLine* dateLine() const { return m_date; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    ActivityInfo m_activity;
    bool m_isFirst;
    bool m_isLast;
    bool m_hover = false;
    ActivitySpacer* m_top = nullptr;
    ActivityLine* m_line = nullptr;
    ActivityContent* m_content = nullptr;
    ActivityDateLine* m_date = nullptr;
    ActivitySpacer* m_bottom = nullptr;
};

} // namespace vantrel
