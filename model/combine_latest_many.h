#pragma once

#include "foundation/publisher.h"

#include <vector>

namespace vantrel {

// Combines publishers of one type into a publisher of lists: whenever any of them publishes
// (once each has published at least once), it publishes the latest value of every one, in
// the order of `publishers`. It finishes when all of them have finished; with no publishers
// it publishes one empty list and finishes.
template<typename T>
class CombineLatestMany {
public:
    explicit CombineLatestMany(std::vector<AnyPublisher<T>> publishers) : publishers(std::move(publishers)) {}

    std::vector<AnyPublisher<T>> publishers;

    // Builds the combined chain anew for each subscriber.
    [[nodiscard]] Cancellable subscribe(Subscriber<std::vector<T>> subscriber) const
    {
        AnyPublisher<std::vector<T>> combined = just(std::vector<T>{});
        for (const auto& publisher : publishers) {
            combined = combined.combineLatest(publisher).map([](const std::pair<std::vector<T>, T>& latest) {
                auto values = latest.first;
                values.push_back(latest.second);
                return values;
            });
        }
        return combined.subscribe(std::move(subscriber));
    }

    AnyPublisher<std::vector<T>> eraseToAnyPublisher() const
    {
        auto self = *this;
        return AnyPublisher<std::vector<T>>(
            [self](Subscriber<std::vector<T>> subscriber) { return self.subscribe(std::move(subscriber)); });
    }
};

} // namespace vantrel
