#pragma once
// The one way an operation that can fail reports it: a value, or the reason it could not be
// had (an std::error_code: the system's errno, or a reason of the program's own category).
// [[nodiscard]]: a caller that means to drop a failure says so with a cast to void.
//
//   Result<std::string> bytes = ReadSomething();
//   if (!bytes)
//       Tell(bytes.error());
//   Use(*bytes);
//
// Result<> (void) carries only the reason; it converts from an error code, and an empty code
// means success.

#include <cerrno>
#include <system_error>
#include <utility>
#include <variant>

template <class T = void>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    // A failure; an empty code would be a success without a value, which cannot be.
    Result(std::error_code error) : m_state(std::in_place_index<1>, error ? error : Unknown()) {}
    template <class Enum, class = std::enable_if_t<std::is_error_code_enum_v<Enum>>>
    Result(Enum error) : Result(std::error_code(error))
    {
    }
    Result(std::errc error) : Result(std::make_error_code(error)) {}

    bool has_value() const { return m_state.index() == 0; }
    explicit operator bool() const { return has_value(); }

    // Only on success.
    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    // The value, or `fallback` on failure.
    T value_or(T fallback) const& { return has_value() ? value() : std::move(fallback); }
    T value_or(T fallback) && { return has_value() ? std::move(value()) : std::move(fallback); }

    // Empty on success.
    std::error_code error() const { return has_value() ? std::error_code() : std::get<1>(m_state); }

private:
    static std::error_code Unknown() { return std::make_error_code(std::errc::io_error); }
    std::variant<T, std::error_code> m_state;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(std::error_code error) : m_error(error) {}
    template <class Enum, class = std::enable_if_t<std::is_error_code_enum_v<Enum>>>
    Result(Enum error) : m_error(error)
    {
    }
    Result(std::errc error) : m_error(std::make_error_code(error)) {}

    bool has_value() const { return !m_error; }
    explicit operator bool() const { return has_value(); }
    std::error_code error() const { return m_error; }

private:
    std::error_code m_error;
};

// The reason of the last failed system call, for `return LastError();`.
inline std::error_code LastError()
{
    return std::error_code(errno, std::generic_category());
}
