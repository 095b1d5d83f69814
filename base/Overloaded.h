// TOverloaded: a visitor made of several lambdas, one per alternative of a std::variant.
#pragma once

namespace quelmark {

template <typename... Handlers> struct TOverloaded : Handlers... {
    using Handlers::operator()...;
};
template <typename... Handlers> TOverloaded(Handlers...) -> TOverloaded<Handlers...>;

} // namespace quelmark
