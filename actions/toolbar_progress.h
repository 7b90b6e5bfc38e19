#pragma once

#include "foundation/observable_object.h"

#include <QPoint>
#include <QString>

#include <optional>

namespace vantrel {

// The offset by which some views move their content up to sit level with the toolbar.
QPoint toolbarContentOffset();

// What the toolbar says about work in progress.
class ToolbarProgressIndicator : public ObservableObject {
    Q_OBJECT
public:
    class State {
    public:
        // Work is going on; `text` says which.
        static State busy(QString text) { return State(std::move(text)); }
        static State idle() { return State(std::nullopt); }

        bool isBusy() const { return m_text.has_value(); }
        // The text of a busy state; empty when idle.
        QString text() const { return m_text.value_or(QString()); }

    private:
        explicit State(std::optional<QString> text) : m_text(std::move(text)) {}
        std::optional<QString> m_text;
    };

    explicit ToolbarProgressIndicator(QObject* parent = nullptr);

    State state() const { return m_state(); }
    void setState(State state);

Q_SIGNALS:
    void stateChanged();

private:
    Published<State> m_state{this, &ToolbarProgressIndicator::stateChanged, State::idle()};
};

} // namespace vantrel
