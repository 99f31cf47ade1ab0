// The reader: reads inside its range succeed, reads that reach past it fail without touching
// memory beyond it, parts remember where they lie in the whole input, and faults name it.
#include "binary/reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace binary {
namespace {

const std::vector<std::uint8_t> kBytes = {0x4D, 0x5A, 0x01, 0x02, 0x03, 0x04, 0xFF, 0x80};

TEST(Reader, ReadsLittleEndianInsideItsRangeOnly) {
    const Reader r(kBytes);
    std::uint8_t b = 0;
    std::uint16_t h = 0;
    std::uint32_t w = 0;
    EXPECT_TRUE(r.U16(0, h));
    EXPECT_EQ(h, 0x5A4D);
    EXPECT_TRUE(r.U32(2, w));
    EXPECT_EQ(w, 0x04030201u);
    EXPECT_TRUE(r.U32(4, w));
    EXPECT_EQ(w, 0x80FF0403u);
    EXPECT_TRUE(r.U8(7, b));
    EXPECT_EQ(b, 0x80);
    // The last bytes and one past them; offsets near 2^64 do not wrap into the range.
    w = 7;
    EXPECT_FALSE(r.U32(5, w));
    EXPECT_FALSE(r.U16(7, h));
    EXPECT_FALSE(r.U8(8, b));
    EXPECT_FALSE(r.U32(UINT64_MAX - 1, w));
    EXPECT_EQ(w, 7u) << "a failed read leaves its destination";
    EXPECT_TRUE(r.Has(8, 0));
    EXPECT_FALSE(r.Has(9, 0));
    EXPECT_FALSE(r.Has(4, UINT64_MAX));
    EXPECT_EQ(r.At(6, 2), kBytes.data() + 6);
    EXPECT_EQ(r.At(6, 3), nullptr);
}

TEST(Reader, PartsKnowWhereTheyLieInTheWholeInput) {
    const Reader file(kBytes);
    const Reader part = file.Sub(2, 4);
    EXPECT_EQ(part.Size(), 4u);
    EXPECT_EQ(part.Base(), 2u);
    std::uint32_t w = 0;
    EXPECT_TRUE(part.U32(0, w));
    EXPECT_EQ(w, 0x04030201u);
    std::uint16_t h = 0;
    EXPECT_FALSE(part.U16(3, h)) << "the part ends at 6";
    const Reader inner = part.Sub(1, 2);
    EXPECT_EQ(inner.Base(), 3u);
    // A part outside is empty, and so are its parts.
    EXPECT_EQ(file.Sub(6, 3).Size(), 0u);
    EXPECT_EQ(file.Sub(6, 3).Data(), nullptr);

    const Error e = inner.Fault(ErrorCode::Truncated, "an entry lies outside its table", 1, 16);
    EXPECT_EQ(e.code, ErrorCode::Truncated);
    EXPECT_EQ(e.offset, 4u);
    EXPECT_EQ(e.size, 16u);
    EXPECT_EQ(e.Text(), "an entry lies outside its table (offset 0x4, 16 bytes)");
    EXPECT_TRUE(inner.Require(0, 2, "x"));
    const Status missing = inner.Require(1, 2, "the name runs past the section");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().Text(), "the name runs past the section (offset 0x4, 2 bytes)");
}

TEST(Reader, TheCursorMovesOnlyPastWhatItRead) {
    Reader r(kBytes);
    std::uint16_t h = 0;
    std::uint32_t w = 0;
    std::uint8_t b = 0;
    EXPECT_TRUE(r.Read16(h));
    EXPECT_EQ(h, 0x5A4D);
    EXPECT_TRUE(r.Read32(w));
    EXPECT_EQ(w, 0x04030201u);
    EXPECT_EQ(r.Offset(), 6u);
    EXPECT_EQ(r.Remaining(), 2u);
    EXPECT_FALSE(r.Read32(w));
    EXPECT_EQ(r.Offset(), 6u);
    std::span<const std::uint8_t> bytes;
    EXPECT_FALSE(r.ReadBytes(3, bytes));
    EXPECT_TRUE(r.ReadBytes(2, bytes));
    EXPECT_EQ(bytes.data(), kBytes.data() + 6);
    EXPECT_EQ(r.Remaining(), 0u);
    EXPECT_FALSE(r.Read8(b));
    EXPECT_FALSE(r.Skip(1));
    r.Seek(100);
    EXPECT_EQ(r.Remaining(), 0u);
    EXPECT_FALSE(r.Read8(b));
    r.Seek(7);
    EXPECT_TRUE(r.Read8(b));
    EXPECT_EQ(b, 0x80);
}

TEST(Reader, StoresAreTheInverseOfLoads) {
    std::uint8_t out[4] = {};
    Store32(out, 0xA1B2C3D4u);
    EXPECT_EQ(out[0], 0xD4);
    EXPECT_EQ(out[3], 0xA1);
    EXPECT_EQ(Load32(out), 0xA1B2C3D4u);
    Store16(out, 0xBEEF);
    EXPECT_EQ(Load16(out), 0xBEEF);
}

Expected<int> Half(int n) {
    if (n % 2 != 0) {
        return Fault(ErrorCode::InvalidArgument, "odd");
    }
    return n / 2;
}

TEST(ErrorValue, CarriesAValueOrAnErrorWithItsPlace) {
    Expected<int> good = Half(8);
    ASSERT_TRUE(good);
    EXPECT_EQ(*good, 4);
    EXPECT_TRUE(good == 4);
    Expected<int> bad = Half(3);
    ASSERT_FALSE(bad);
    EXPECT_FALSE(bad == 0) << "an error equals no value";
    EXPECT_EQ(bad.error().code, ErrorCode::InvalidArgument);
    EXPECT_FALSE(bad.error().HasPlace());
    EXPECT_EQ(bad.error().Text(), "odd");
    EXPECT_TRUE(Ok());
    EXPECT_EQ(Fault(ErrorCode::Malformed, "here", 0x3C, 0).Text(), "here (offset 0x3c)");
    EXPECT_EQ(OutOfMemory("out of memory").code, ErrorCode::OutOfMemory);
}

} // namespace
} // namespace binary
