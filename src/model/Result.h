#pragma once

#include <utility>
#include <variant>

namespace quaystone {

// A value or a small error enumeration. Coroutines return failures this way rather than
// throwing, so that nothing escapes a task that nobody awaits.
template <typename T, typename E>
class Result {
public:
    Result(T value)
        : m_value(std::in_place_index<0>, std::move(value)) {}
    Result(E error)
        : m_value(std::in_place_index<1>, error) {}

    bool hasValue() const { return m_value.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    const T &value() const & { return std::get<0>(m_value); }
    T &&value() && { return std::get<0>(std::move(m_value)); }
    E error() const { return std::get<1>(m_value); }

    friend bool operator==(const Result &, const Result &) = default;

private:
    std::variant<T, E> m_value;
};

} // namespace quaystone
