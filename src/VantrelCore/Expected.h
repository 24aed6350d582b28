// A value or the error that kept it from being produced.
#pragma once

#include <utility>
#include <variant>

namespace vantrel {

/// Wraps an error so that Expected can tell it from a value of the same type.
template <class E>
struct Unexpected {
    E error;
};

/// Holds either a T or an E; failures as values, without exceptions.
template <class T, class E>
class Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Expected(Unexpected<E> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

    /// True when a value is held.
    bool hasValue() const { return state_.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    /// The value; only when hasValue().
    const T& value() const& { return std::get<0>(state_); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const T& operator*() const& { return value(); }
    const T* operator->() const { return &value(); }

    /// The error; only when !hasValue().
    const E& error() const { return std::get<1>(state_); }

    /// The value, or `fallback` when there is none.
    T valueOr(T fallback) const& { return hasValue() ? value() : std::move(fallback); }

private:
    std::variant<T, E> state_;
};

} // namespace vantrel
