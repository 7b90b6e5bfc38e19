#pragma once

#include <QWidget>

namespace vantrel {

// The button row under a selected event's title. An event has no actions of its own there, so
// the row is empty; it keeps the height of the other rows so that the header does not jump when
// the selection moves between levels.
class EventButtons final : public QWidget {
    Q_OBJECT
public:
    static constexpr int rowHeight = 32;

    explicit EventButtons(QWidget* parent = nullptr);
};

} // namespace vantrel
