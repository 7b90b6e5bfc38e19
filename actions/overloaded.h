#pragma once

namespace vantrel {

// One visitor for std::visit made of several lambdas, one per alternative.
template<typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template<typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

} // namespace vantrel
