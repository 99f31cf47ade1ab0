// The error value's text.
#include "binary/error.h"

#include <cstdio>

namespace binary {

std::string Error::Text() const {
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

Error Fault(ErrorCode code, std::string message) {
    return Error{code, std::move(message), Error::kNowhere, 0};
}

Error Fault(ErrorCode code, std::string message, std::uint64_t offset, std::uint64_t size) {
    return Error{code, std::move(message), offset, size};
}

Error OutOfMemory(std::string what) {
    return Fault(ErrorCode::OutOfMemory, std::move(what));
}

} // namespace binary
