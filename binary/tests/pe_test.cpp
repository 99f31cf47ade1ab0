// The PE layout on small hand-made headers: where the fields are for PE32 and PE32+, each
// malformed header refused with its reason and place, sections, data directories, addresses
// translated to file offsets, and a loaded image's extent and resource directory stamp.
#include "binary/pe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace binary::pe {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kPe = 0x80;

struct SectionSpec {
    std::uint32_t va, vsize, raw, rawSize;
};

// Headers of a file with the given sections (not the sections' bytes), padded to `size`.
Bytes Headers(bool plus, const std::vector<SectionSpec>& sections, std::uint32_t size = 0x400) {
    Bytes b(size, 0);
    Store16(&b[0], kDosMagic);
    Store32(&b[kDosPeOffset], kPe);
    Store32(&b[kPe], kPeSignature);
    Store16(&b[kPe + kNumberOfSections], static_cast<std::uint16_t>(sections.size()));
    const std::uint32_t directories = plus ? kDataDirectoriesPe32Plus : kDataDirectoriesPe32;
    const std::uint16_t sizeOfOptional =
        static_cast<std::uint16_t>(directories + kMaxDataDirectories * kDataDirectorySize);
    Store16(&b[kPe + kSizeOfOptionalHeader], sizeOfOptional);
    const std::uint32_t opt = kPe + kOptionalHeader;
    Store16(&b[opt + kMagic], plus ? kMagicPe32Plus : kMagicPe32);
    Store32(&b[opt + (plus ? kNumberOfRvaAndSizesPe32Plus : kNumberOfRvaAndSizesPe32)],
            kMaxDataDirectories);
    Store32(&b[opt + kSizeOfImage], 0x5000);
    // The resource directory at the second section's address.
    if (sections.size() > 1) {
        Store32(&b[opt + directories + kDirResource * kDataDirectorySize], sections[1].va);
        Store32(&b[opt + directories + kDirResource * kDataDirectorySize + 4], 0x100);
    }
    std::uint32_t at = opt + sizeOfOptional;
    for (const SectionSpec& s : sections) {
        Store32(&b[at + kSecVirtualSize], s.vsize);
        Store32(&b[at + kSecVirtualAddress], s.va);
        Store32(&b[at + kSecSizeOfRawData], s.rawSize);
        Store32(&b[at + kSecPointerToRawData], s.raw);
        at += kSectionHeaderSize;
    }
    return b;
}

const std::vector<SectionSpec> kSections = {
    {0x1000, 0x800, 0x400, 0x800}, {0x2000, 0x200, 0xC00, 0x200}, {0x4000, 0x100, 0xE00, 0x200}};

TEST(PeLayout, FindsTheFieldsOfPe32AndPe32Plus) {
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const Bytes b = Headers(plus, kSections);
        const Reader file(b);
        const Expected<Layout> layout = ParseLayout(file);
        ASSERT_TRUE(layout) << layout.error().Text();
        EXPECT_EQ(layout->pe, kPe);
        EXPECT_EQ(layout->pe32Plus, plus);
        EXPECT_EQ(layout->optionalHeader, kPe + kOptionalHeader);
        EXPECT_EQ(layout->numberOfSections, 3);
        EXPECT_EQ(layout->dataDirectoryCount, kMaxDataDirectories);
        EXPECT_EQ(layout->sectionTable, layout->optionalHeader + layout->sizeOfOptionalHeader);
        EXPECT_EQ(layout->SectionTableEnd(), layout->sectionTable + 3 * kSectionHeaderSize);
        const DataDirectory resources = Directory(file, *layout, kDirResource);
        EXPECT_EQ(resources.address, 0x2000u);
        EXPECT_EQ(resources.size, 0x100u);
        const Section s = ReadSection(file, *layout, 2);
        EXPECT_EQ(s.virtualAddress, 0x4000u);
        EXPECT_EQ(s.pointerToRawData, 0xE00u);
        EXPECT_EQ(SectionAt(file, *layout, 0x2000), 1u);
        EXPECT_FALSE(SectionAt(file, *layout, 0x2010));
    }
}

TEST(PeLayout, CountsOnlyTheDataDirectoriesThatArePresent) {
    Bytes b = Headers(false, kSections);
    const std::uint32_t count = kPe + kOptionalHeader + kNumberOfRvaAndSizesPe32;
    Store32(&b[count], 2);
    Expected<Layout> layout = ParseLayout(Reader(b));
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->dataDirectoryCount, 2u);
    EXPECT_EQ(Directory(Reader(b), *layout, kDirResource).address, 0u) << "entry 2 is absent";
    Store32(&b[count], 0x7FFFFFFF);
    layout = ParseLayout(Reader(b));
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->dataDirectoryCount, kMaxDataDirectories);
}

struct Refusal {
    const char* label;
    std::function<void(Bytes&)> bend;
    ErrorCode code;
    const char* text; // with its place
};

TEST(PeLayout, RefusesMalformedHeadersNamingWhere) {
    const std::uint32_t opt = kPe + kOptionalHeader;
    const Refusal cases[] = {
        {"no MZ", [](Bytes& b) { b[1] = 'X'; }, ErrorCode::BadSignature,
         "no MZ signature (offset 0x0, 2 bytes)"},
        {"empty file", [](Bytes& b) { b.clear(); }, ErrorCode::BadSignature,
         "no MZ signature (offset 0x0, 2 bytes)"},
        {"PE offset past the end", [](Bytes& b) { Store32(&b[kDosPeOffset], 0xFFFFFFF0); },
         ErrorCode::BadSignature, "no PE signature (offset 0xfffffff0, 4 bytes)"},
        {"no PE signature", [](Bytes& b) { b[kPe + 1] = 'X'; }, ErrorCode::BadSignature,
         "no PE signature (offset 0x80, 4 bytes)"},
        {"cut inside the file header", [](Bytes& b) { b.resize(kPe + 10); }, ErrorCode::Truncated,
         "the file header is truncated (offset 0x80, 26 bytes)"},
        {"unknown magic", [&](Bytes& b) { Store16(&b[opt], 0x107); }, ErrorCode::Unsupported,
         "unknown optional header magic (offset 0x98, 2 bytes)"},
        {"optional header too small for its directories",
         [](Bytes& b) { Store16(&b[kPe + kSizeOfOptionalHeader], kDataDirectoriesPe32 - 1); },
         ErrorCode::Truncated, "the optional header is truncated (offset 0x98, 95 bytes)"},
        {"optional header past the end",
         [](Bytes& b) {
             Store16(&b[kPe + kSizeOfOptionalHeader], 0xFFFF);
             b.resize(0x200);
         },
         ErrorCode::Truncated, "the optional header is truncated (offset 0x98, 65535 bytes)"},
        {"section table past the end",
         [](Bytes& b) { Store16(&b[kPe + kNumberOfSections], 0xFFFF); }, ErrorCode::Truncated,
         "the section table lies outside the file (offset 0x178, 2621400 bytes)"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.label);
        Bytes b = Headers(false, kSections);
        c.bend(b);
        const Expected<Layout> layout = ParseLayout(Reader(b));
        ASSERT_FALSE(layout);
        EXPECT_EQ(layout.error().code, c.code);
        EXPECT_EQ(layout.error().Text(), c.text);
    }
}

TEST(PeLayout, LocatingTheHeadersChecksOnlyTheSignaturesAndTheMagic) {
    Bytes b = Headers(true, kSections);
    Store16(&b[kPe + kSizeOfOptionalHeader], 0);
    Store16(&b[kPe + kNumberOfSections], 0xFFFF);
    EXPECT_FALSE(ParseLayout(Reader(b)));
    const Expected<Layout> located = LocateHeaders(Reader(b));
    ASSERT_TRUE(located);
    EXPECT_TRUE(located->pe32Plus);
    EXPECT_EQ(located->DirAddress(kDirResource),
              kPe + kOptionalHeader + kDataDirectoriesPe32Plus + 2 * kDataDirectorySize);
    EXPECT_FALSE(located->HasDir(kDirResource)) << "not counted without ParseLayout";
}

TEST(PeLayout, TranslatesAddressesThroughTheSectionThatHoldsThem) {
    const Bytes b = Headers(false, kSections);
    const Reader file(b);
    const Expected<Layout> layout = ParseLayout(file);
    ASSERT_TRUE(layout);
    struct Case {
        std::uint32_t rva;
        std::optional<std::uint32_t> section;
        std::optional<std::uint64_t> offset;
    } cases[] = {
        {0x0FFF, std::nullopt, std::nullopt}, // in the headers, before every section
        {0x1000, 0, 0x400},
        {0x17FF, 0, 0xBFF},
        {0x2000, 1, 0xC00},
        {0x3FFF, 1, 0x2BFF}, // a gap counts to the lower section
        {0x4010, 2, 0xE10},
        {0xFFFFFFFF, 2, 0xE00 + 0xFFFFBFFFull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rva);
        EXPECT_EQ(SectionHolding(file, *layout, c.rva), c.section);
        EXPECT_EQ(RvaToOffset(file, *layout, c.rva), c.offset);
    }
}

TEST(PeLayout, ALoadedImageReachesToItsSizeOfImage) {
    Bytes image = Headers(false, kSections, 0x5000);
    const Expected<Reader> loaded = LoadedImage(image.data());
    ASSERT_TRUE(loaded) << loaded.error().Text();
    EXPECT_EQ(loaded->Data(), image.data());
    EXPECT_EQ(loaded->Size(), 0x5000u);
    image[0] = 0;
    EXPECT_FALSE(LoadedImage(image.data()));
}

// A loaded image of 0x2000 bytes whose data directories name a resource directory at
// resourceRva (0: none), which holds the stamp when it lies inside.
Bytes StampedImage(bool plus, std::uint32_t resourceRva, std::uint32_t stamp) {
    Bytes img(0x2000, 0);
    Store16(&img[0], kDosMagic);
    Store32(&img[kDosPeOffset], kPe);
    Store32(&img[kPe], kPeSignature);
    const std::uint32_t opt = kPe + kOptionalHeader;
    Store16(&img[opt + kMagic], plus ? kMagicPe32Plus : kMagicPe32);
    const std::uint32_t directories = plus ? kDataDirectoriesPe32Plus : kDataDirectoriesPe32;
    Store32(&img[opt + directories + kDirResource * kDataDirectorySize], resourceRva);
    if (std::uint64_t{resourceRva} + kDirTimeDateStamp + 4 <= img.size()) {
        Store32(&img[resourceRva + kDirTimeDateStamp], stamp);
    }
    return img;
}

Expected<std::uint32_t> Stamp(const Bytes& image) {
    return ResourceDirectoryStamp(Reader(image.data(), image.size()));
}

TEST(PeLayout, TheResourceStampIsFoundThroughTheOptionalHeadersMagic) {
    EXPECT_EQ(Stamp(StampedImage(false, 0x1000, 0x3C6F4BCA)), 0x3C6F4BCAu);
    EXPECT_EQ(Stamp(StampedImage(true, 0x1800, 0x12345678)), 0x12345678u);
    EXPECT_FALSE(Stamp(StampedImage(true, 0, 1))) << "no resource directory";
    EXPECT_FALSE(Stamp(StampedImage(false, 0x7FFFFFF0, 1))) << "outside the image";
    Bytes img = StampedImage(false, 0x1000, 1);
    img.resize(0x90);
    EXPECT_FALSE(Stamp(img));
}

} // namespace
} // namespace binary::pe
