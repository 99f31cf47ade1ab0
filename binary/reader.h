// Little-endian access to the bytes of an input, every read checked against the range it may
// use, in the manner of LLVM's BinaryStreamReader. A Reader views one range and remembers
// where that range lies in the whole input, so that a fault found inside a part (a section,
// an entry) names its offset in the file. It reads at given offsets or, as a cursor, from
// its own position onwards.
#pragma once

#include "binary/error.h"

#include <cstdint>
#include <span>
#include <string>

namespace binary {

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

class Reader {
public:
    Reader() = default;
    // The range [data, data + size), whose first byte lies at `base` in the whole input.
    Reader(const std::uint8_t* data, std::uint64_t size, std::uint64_t base = 0)
        : data_(data), size_(size), base_(base) {}
    Reader(std::span<const std::uint8_t> bytes) : Reader(bytes.data(), bytes.size()) {}

    std::uint64_t Size() const { return size_; }
    const std::uint8_t* Data() const { return data_; }
    std::uint64_t Base() const { return base_; }
    std::span<const std::uint8_t> Bytes() const { return {data_, static_cast<std::size_t>(size_)}; }

    // True when [offset, offset + length) lies inside the range (no overflow possible).
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    // The bytes at offset, or null when they do not all lie inside the range.
    const std::uint8_t* At(std::uint64_t offset, std::uint64_t length) const {
        return Has(offset, length) ? data_ + offset : nullptr;
    }
    bool U8(std::uint64_t offset, std::uint8_t& value) const {
        if (!Has(offset, 1)) {
            return false;
        }
        value = data_[offset];
        return true;
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
    Reader Sub(std::uint64_t offset, std::uint64_t length) const {
        return Has(offset, length) ? Reader(data_ + offset, length, base_ + offset) : Reader();
    }

    // A fault at [offset, offset + length) of this range, placed in the whole input.
    Error Fault(ErrorCode code, std::string message, std::uint64_t offset,
                std::uint64_t length) const {
        return binary::Fault(code, std::move(message), base_ + offset, length);
    }
    // Ok when [offset, offset + length) lies inside the range; otherwise a Truncated fault
    // with the message, placed there.
    Status Require(std::uint64_t offset, std::uint64_t length, std::string message) const {
        if (Has(offset, length)) {
            return Ok();
        }
        return Fault(ErrorCode::Truncated, std::move(message), offset, length);
    }

    // The cursor: reads from Offset() onwards, moving past what they read. A read that does
    // not fit fails and moves nothing.
    std::uint64_t Offset() const { return pos_; }
    void Seek(std::uint64_t offset) { pos_ = offset; }
    std::uint64_t Remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }
    bool Skip(std::uint64_t length) {
        if (!Has(pos_, length)) {
            return false;
        }
        pos_ += length;
        return true;
    }
    bool Read8(std::uint8_t& value) { return U8(pos_, value) && Skip(1); }
    bool Read16(std::uint16_t& value) { return U16(pos_, value) && Skip(2); }
    bool Read32(std::uint32_t& value) { return U32(pos_, value) && Skip(4); }
    bool ReadBytes(std::uint64_t length, std::span<const std::uint8_t>& bytes) {
        if (!Has(pos_, length)) {
            return false;
        }
        bytes = {data_ + pos_, static_cast<std::size_t>(length)};
        pos_ += length;
        return true;
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t base_ = 0;
    std::uint64_t pos_ = 0;
};

} // namespace binary
