// The program's one error value: what kind of fault (a code), what it is in words, and where in
// the input it lies (an offset and a size). Internal functions return it through Expected<T>
// or Status; the edges turn it into what their callers are promised (a last-error code and a
// message, a null handle, a message box).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace binary {

enum class ErrorCode : std::uint8_t {
    Truncated,       // a part lies outside the input or runs past its end
    BadSignature,    // the input is not of the format at all
    Malformed,       // the format's rules are broken
    NotFound,        // a part the input must have is missing
    Unsupported,     // well-formed, but beyond what is handled (a variant, a limit)
    InvalidArgument, // the caller asked for what cannot be done
    OutOfMemory,
    Io, // the system refused a file operation; its last-error code says why
};

struct Error {
    // Offset of a fault that has no place in the input.
    static constexpr std::uint64_t kNowhere = UINT64_MAX;

    ErrorCode code = ErrorCode::Malformed;
    std::string message;
    std::uint64_t offset = kNowhere; // where the faulty part starts in the whole input
    std::uint64_t size = 0;          // its size in bytes (0: a position only)

    bool HasPlace() const { return offset != kNowhere; }
    // The message and its place: "the section table lies outside the file (offset 0x178,
    // 400 bytes)".
    std::string Text() const {
        if (!HasPlace()) {
            return message;
        }
        char place[64];
        if (size == 0) {
            std::snprintf(place, sizeof place, " (offset 0x%llx)",
                          static_cast<unsigned long long>(offset));
        } else {
            std::snprintf(place, sizeof place, " (offset 0x%llx, %llu bytes)",
                          static_cast<unsigned long long>(offset),
                          static_cast<unsigned long long>(size));
        }
        return message + place;
    }
};

// A fault without a place in the input.
inline Error Fault(ErrorCode code, std::string message) {
    return Error{code, std::move(message), Error::kNowhere, 0};
}
// A fault at [offset, offset + size) of the input.
inline Error Fault(ErrorCode code, std::string message, std::uint64_t offset, std::uint64_t size) {
    return Error{code, std::move(message), offset, size};
}
inline Error OutOfMemory(std::string what) {
    return Fault(ErrorCode::OutOfMemory, std::move(what));
}

// A value or the error that kept it from being made.
template <typename T> class [[nodiscard]] Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Expected(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    explicit operator bool() const { return state_.index() == 0; }
    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const T* operator->() const { return &std::get<0>(state_); }
    const Error& error() const { return std::get<1>(state_); }
    Error TakeError() { return std::move(std::get<1>(state_)); }

    // Holds a value equal to v.
    friend bool operator==(const Expected& e, const T& v) { return e && *e == v; }

private:
    std::variant<T, Error> state_;
};

// Done, or the error that stopped it.
template <> class [[nodiscard]] Expected<void> {
public:
    Expected() = default;
    Expected(Error error) : error_(std::move(error)) {}

    explicit operator bool() const { return !error_; }
    const Error& error() const { return *error_; }
    Error TakeError() { return std::move(*error_); }

private:
    std::optional<Error> error_;
};

using Status = Expected<void>;

inline Status Ok() {
    return {};
}

} // namespace binary
