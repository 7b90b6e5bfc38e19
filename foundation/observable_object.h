#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <utility>

namespace vantrel {

// The base of every model the interface observes. Before any published field is written,
// objectWillChange() is emitted (also when the new value equals the old one); after the
// write, the field's own change signal is emitted so that a view can connect to one field
// and read its current value.
class ObservableObject : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void objectWillChange();
};

// One published field of an ObservableObject:
//
//     class Collection : public ObservableObject {
//         Q_OBJECT
//     public:
//         Published<QString> name{this, &Collection::nameChanged};
//     Q_SIGNALS:
//         void nameChanged();
//     };
//
// Read with name() or name.get(); write with name.set(value) or name = value. Writes belong
// to the owner's thread (the interface thread for models).
template<typename T>
class Published {
public:
    template<typename Owner>
    Published(Owner* owner, void (Owner::*changed)(), T initial = T())
        : m_owner(owner),
          m_changed([owner, changed] { Q_EMIT(owner->*changed)
                                       (); }),
          m_value(std::move(initial))
    {
        static_assert(std::is_base_of_v<ObservableObject, Owner>, "Published fields belong to an ObservableObject");
    }

    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return m_value; }
    const T& operator()() const { return m_value; }
    const T* operator->() const { return &m_value; }

    void set(T value)
    {
        Q_ASSERT_X(QThread::currentThread() == m_owner->thread(), "Published::set",
                   "published fields are written on their owner's thread");
        Q_EMIT m_owner->objectWillChange();
        m_value = std::move(value);
        m_changed();
    }

    Published& operator=(T value)
    {
        set(std::move(value));
        return *this;
    }

private:
    ObservableObject* m_owner;
    std::function<void()> m_changed;
    T m_value;
};

} // namespace vantrel
