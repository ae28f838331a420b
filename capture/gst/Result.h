#pragma once
// What a step of the platform layer gives back: its value, or why it
// failed, in the words the user is shown. The reason goes with the result
// up to the interface the session calls, which turns it into a status.

#include <optional>
#include <string>
#include <utility>

namespace lumora::gst {

// A failure on its way into a Result of any type.
struct Failure {
    std::string reason;
};

inline Failure Fail(std::string reason) { return Failure{std::move(reason)}; }

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : held(std::move(value)) {}
    Result(Failure failure) : reason(std::move(failure.reason)) {}

    bool ok() const { return held.has_value(); }
    T& value() & { return *held; }
    const T& value() const& { return *held; }
    T&& value() && { return std::move(*held); }
    // "" when it succeeded (or the layer cannot tell why it did not).
    const std::string& error() const { return reason; }

private:
    std::optional<T> held;
    std::string reason;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : failed(true), reason(std::move(failure.reason)) {}

    bool ok() const { return !failed; }
    const std::string& error() const { return reason; }

private:
    bool failed = false;
    std::string reason;
};

using Status = Result<void>;

inline Status Ok() { return {}; }

template <class T>
Result<T> Ok(T value) {
    return Result<T>(std::move(value));
}

}  // namespace lumora::gst
