#pragma once

#include "foundation/cancellable.h"
#include "foundation/observable_object.h"
#include "foundation/publisher.h"

#include <QList>
#include <QString>

#include <concepts>
#include <functional>
#include <optional>
#include <utility>

namespace vantrel::design {

// A value a Prioritizer can rank: `rank` is its urgency class (1 is the most urgent) and
// `weight` orders values of the same rank (the larger wins).
template<typename T>
concept Prioritizable = std::copyable<T> && requires(const T& value)
{
    {
        value.rank
        } -> std::convertible_to<int>;
    {
        value.weight
        } -> std::convertible_to<float>;
};

// One message of the ribbon in the team toolbar. Clicking the ribbon runs `action`.
struct Ribbon {
    QString text;
    int rank = 1;
    float weight = 1.0f;
    std::function<void()> action;
};

static_assert(Prioritizable<Ribbon>);

// The index of the value to show among `values`, or nothing for an empty list. The lowest
// rank wins; within a rank the largest weight wins; a remaining tie goes to the value that
// comes first in the list. So the update message (rank 1, weight 1.0) always wins over the
// beta-feedback message (rank 2, weight 0.5), whatever order the feed lists them in.
template<Prioritizable T>
std::optional<qsizetype> mostImportantIndex(const QList<T>& values)
{
    std::optional<qsizetype> best;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (!best) {
            best = i;
            continue;
        }
        const T& candidate = values[i];
        const T& current = values[*best];
        if (int(candidate.rank) < int(current.rank)
            || (int(candidate.rank) == int(current.rank) && float(candidate.weight) > float(current.weight)))
            best = i;
    }
    return best;
}

// The signals of every Prioritizer (a class template cannot declare its own).
class PrioritizerBase : public ObservableObject {
    Q_OBJECT
public:
    using ObservableObject::ObservableObject;

Q_SIGNALS:
    // The selected value was replaced (also by an equal one, or by nothing).
    void selectedChanged();
};

// Keeps the latest list a feed publishes and selects the value to show from it by
// mostImportantIndex(). The feed has to deliver on the prioritizer's thread (move it there
// with receiveOn() when it does not). Until the feed's first list nothing is selected; when
// the feed finishes, the last selection stays.
template<Prioritizable T>
class Prioritizer : public PrioritizerBase {
public:
    explicit Prioritizer(const AnyPublisher<QList<T>>& publisher, QObject* parent = nullptr) : PrioritizerBase(parent)
    {
        m_subscription = publisher.sink([this](const QList<T>& values) { receive(values); });
    }

    const std::optional<T>& selected() const { return m_selected.get(); }
    const QList<T>& values() const { return m_values; }

private:
    void receive(const QList<T>& values)
    {
        m_values = values;
        const auto index = mostImportantIndex(values);
        m_selected.set(index ? std::optional<T>(values[*index]) : std::nullopt);
    }

    QList<T> m_values;
    Published<std::optional<T>> m_selected{static_cast<PrioritizerBase*>(this), &PrioritizerBase::selectedChanged};
    Cancellable m_subscription;
};

} // namespace vantrel::design
