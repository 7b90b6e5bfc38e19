#pragma once

#include <QPointer>

#include <functional>
#include <utility>

namespace vantrel {

// Whether a model's dialog, sheet or panel is showing, as the window reads and writes it. The flag
// holds the model weakly: once the model is gone it reads false and writing it does nothing.
// Writing false dismisses what the model presents; writing true does nothing, since only the model
// starts a presentation.
template<typename Model>
class PresentedFlag {
public:
    PresentedFlag(Model* model, std::function<bool(const Model&)> isPresented, std::function<void(Model&)> dismiss)
        : m_model(model),
          m_isPresented(std::move(isPresented)),
          m_dismiss(std::move(dismiss))
    {
    }

    bool get() const { return m_model && m_isPresented(*m_model); }

    void set(bool presented) const
    {
        if (!presented && m_model)
            m_dismiss(*m_model);
    }

private:
    QPointer<Model> m_model;
    std::function<bool(const Model&)> m_isPresented;
    std::function<void(Model&)> m_dismiss;
};

} // namespace vantrel
