// Little-endian access to bytes of a file, every read checked against the range it may use.
#pragma once

#include <cstdint>
#include <cstring>

namespace resedit {

inline std::uint16_t Load16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Load32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void Store16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Store32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// A range of bytes; reads outside it fail instead of touching memory beyond it.
class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const std::uint8_t* data, std::uint64_t size) : data_(data), size_(size) {}

    std::uint64_t Size() const { return size_; }
    const std::uint8_t* Data() const { return data_; }

    // True when [offset, offset + length) lies inside the range (no overflow possible).
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    // The bytes at offset, or null when they do not all lie inside the range.
    const std::uint8_t* At(std::uint64_t offset, std::uint64_t length) const {
        return Has(offset, length) ? data_ + offset : nullptr;
    }
    bool U16(std::uint64_t offset, std::uint16_t& value) const {
        if (!Has(offset, 2)) {
            return false;
        }
        value = Load16(data_ + offset);
        return true;
    }
    bool U32(std::uint64_t offset, std::uint32_t& value) const {
        if (!Has(offset, 4)) {
            return false;
        }
        value = Load32(data_ + offset);
        return true;
    }
    // The part [offset, offset + length) as a range of its own; empty when outside.
    ByteReader Sub(std::uint64_t offset, std::uint64_t length) const {
        return Has(offset, length) ? ByteReader(data_ + offset, length) : ByteReader();
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::uint64_t size_ = 0;
};

} // namespace resedit
