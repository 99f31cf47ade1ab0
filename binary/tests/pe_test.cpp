// The PE layout on small hand-made headers: where the fields are for PE32 and PE32+, each
// malformed header refused with its reason and place, sections, data directories, addresses
// translated to file offsets, the ranges of an import directory, the checksum, and a loaded
// image's extent and resource directory stamp.
#include "binary/pe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <tuple>
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

// An import directory at 0x1000 in a section whose bytes in the file end at 0x1400 (in memory
// it reaches 0x2000): three libraries, one with its name in the next section, one with only an
// address table, one whose tables lie beyond the section's bytes in the file (zero there, so
// each ends at its first entry).
TEST(PeImports, RangesAreTheDescriptorsAndWhatTheyName) {
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const std::vector<SectionSpec> sections = {{0x1000, 0x1000, 0x400, 0x400},
                                                   {0x2000, 0x200, 0x800, 0x200}};
        Bytes b = Headers(plus, sections, 0xA00);
        const std::uint32_t opt = kPe + kOptionalHeader;
        const std::uint32_t directories = plus ? kDataDirectoriesPe32Plus : kDataDirectoriesPe32;
        Store32(&b[opt + directories + kDirImport * kDataDirectorySize], 0x1000);
        Store32(&b[opt + directories + kDirImport * kDataDirectorySize + 4], 20);
        auto at = [](std::uint32_t rva) {
            return rva < 0x2000 ? rva - 0x1000 + 0x400 : rva - 0x2000 + 0x800;
        };
        auto text = [&](std::uint32_t rva, const char* s) {
            std::copy(s, s + std::char_traits<char>::length(s) + 1, b.begin() + at(rva));
        };
        const std::uint32_t thunk = plus ? 8 : 4;
        auto thunks = [&](std::uint32_t rva, std::vector<std::uint64_t> values) {
            for (std::size_t k = 0; k < values.size(); ++k) {
                Store32(&b[at(rva) + k * thunk], static_cast<std::uint32_t>(values[k]));
                if (plus) {
                    Store32(&b[at(rva) + k * thunk + 4],
                            static_cast<std::uint32_t>(values[k] >> 32));
                }
            }
        };
        auto descriptor = [&](int d, std::uint32_t lookup, std::uint32_t name, std::uint32_t iat) {
            const std::uint32_t e = at(0x1000) + kImportDescriptorSize * d;
            Store32(&b[e + kImportLookupTable], lookup);
            Store32(&b[e + kImportName], name);
            Store32(&b[e + kImportAddressTable], iat);
        };
        const std::uint64_t ordinal = plus ? 0x8000000000000005ull : 0x80000005ull;
        descriptor(0, 0x1100, 0x1200, 0x1180);
        descriptor(1, 0, 0x2000, 0x1300);
        descriptor(2, 0x1500, 0x1210, 0x1600);
        thunks(0x1100, {0x1220, ordinal, 0x1240, 0});
        thunks(0x1180, {0x1220, ordinal, 0x1240, 0});
        thunks(0x1300, {0x1250, 0});
        text(0x1200, "a.dll");
        text(0x1210, "c.dll");
        text(0x1222, "Fn");
        text(0x1242, "Longer");
        text(0x1252, "X");
        text(0x2000, "b.dll");
        const Reader file(b);
        const Expected<Layout> layout = ParseLayout(file);
        ASSERT_TRUE(layout) << layout.error().Text();
        std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
        const Expected<std::vector<AddressRange>> ranges = ImportRanges(file, *layout);
        ASSERT_TRUE(ranges) << ranges.error().Text();
        for (const AddressRange& r : *ranges) {
            got.emplace_back(r.address, r.size);
        }
        std::vector<std::pair<std::uint32_t, std::uint32_t>> want = {
            {0x1000, 4 * kImportDescriptorSize},
            {0x1200, 6},
            {0x1100, 4 * thunk},
            {0x1220, 5},
            {0x1240, 9},
            {0x1180, 4 * thunk},
            {0x2000, 6},
            {0x1300, 2 * thunk},
            {0x1250, 4},
            {0x1210, 6},
            {0x1500, thunk},
            {0x1600, thunk}};
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want);

        // Descriptors that run out of every section end the walk with what was found.
        Store32(&b[opt + directories + kDirImport * kDataDirectorySize], 0x21F0);
        EXPECT_TRUE(ImportRanges(Reader(b), *layout)->empty());
        Store32(&b[opt + directories + kDirImport * kDataDirectorySize], 0);
        EXPECT_TRUE(ImportRanges(Reader(b), *layout)->empty()) << "no import directory";
    }
}

// Descriptors that each name the same long tables: a walk that would take more reads than any
// real program's is refused rather than followed.
TEST(PeImports, ADirectoryBeyondAnyProgramsIsRefused) {
    const std::vector<SectionSpec> sections = {{0x1000, 0x40000, 0x400, 0x40000},
                                               {0x41000, 0x200, 0x40400, 0x200}};
    Bytes b = Headers(false, sections, 0x40600);
    const std::uint32_t opt = kPe + kOptionalHeader;
    Store32(&b[opt + kDataDirectoriesPe32 + kDirImport * kDataDirectorySize], 0x1000);
    Store32(&b[opt + kDataDirectoriesPe32 + kDirImport * kDataDirectorySize + 4], 20);
    for (std::uint32_t d = 0; d < 100; ++d) {
        const std::uint32_t e = 0x400 + kImportDescriptorSize * d;
        Store32(&b[e + kImportLookupTable], 0x2000);
        Store32(&b[e + kImportAddressTable], 0x2000);
    }
    // By ordinal up to the end of the section.
    for (std::uint32_t at = 0x1400; at < 0x40400; at += 4) {
        Store32(&b[at], 0x80000001);
    }
    const Reader file(b);
    const Expected<Layout> layout = ParseLayout(file);
    ASSERT_TRUE(layout);
    const Expected<std::vector<AddressRange>> ranges = ImportRanges(file, *layout);
    ASSERT_FALSE(ranges);
    EXPECT_EQ(ranges.error().code, ErrorCode::Unsupported);
}

// The checksum as the system computes it: 16-bit words added with end-around carry, one at a
// time, the field's two words left out, then the length.
std::uint32_t ReferenceCheckSum(const Bytes& b, std::size_t field) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < b.size(); i += 2) {
        if (i >= field && i < field + 4) {
            continue;
        }
        sum += b[i] | (i + 1 < b.size() ? b[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<std::uint32_t>(b.size());
}

TEST(PeCheckSum, AgreesWithWordByWordSummingAndAddsUpFromParts) {
    std::mt19937 random(19);
    for (std::size_t size : {0x400u, 0x401u, 0x1000u, 0x1235u, 0x20000u, 0x48003u}) {
        SCOPED_TRACE(size);
        Bytes b = Headers(size % 2 != 0, kSections, static_cast<std::uint32_t>(size));
        for (std::size_t i = 0x200; i < size; ++i) {
            b[i] = static_cast<std::uint8_t>(random());
        }
        const std::uint32_t field = kPe + kOptionalHeader + kCheckSum;
        Store32(&b[field], 0xDEADBEEF);
        const Reader file(b);
        const Expected<Layout> layout = ParseLayout(file);
        ASSERT_TRUE(layout);
        EXPECT_EQ(ComputeCheckSum(file, *layout), ReferenceCheckSum(b, field));
        // Parts cut at odd and even places, summed in any order.
        WordSum whole, parts;
        whole.Add(0, b.data(), b.size());
        std::vector<std::size_t> cuts = {0, 1, 2, 7, size / 2 + 1, size - 3, size};
        std::shuffle(cuts.begin() + 1, cuts.end() - 1, random);
        std::sort(cuts.begin(), cuts.end());
        for (std::size_t k = cuts.size() - 1; k > 0; --k) {
            parts.Add(cuts[k - 1], b.data() + cuts[k - 1], cuts[k] - cuts[k - 1]);
        }
        EXPECT_EQ(parts.value, whole.value);
    }
    // Words that are all zero sum to zero; a sum that is a multiple of 0xFFFF folds to 0xFFFF.
    EXPECT_EQ(CheckSum(0, 0x400), 0x400u);
    EXPECT_EQ(CheckSum(0xFFFF, 0x400), 0xFFFFu + 0x400);
    EXPECT_EQ(CheckSum(0x1FFFE, 0), 0xFFFFu);
    EXPECT_EQ(CheckSum(0x10000, 0), 1u);
    // More than 4 GB of words: the sum is plain 64-bit.
    EXPECT_EQ(CheckSum(0x1'0000'0000ull * 3, 0), CheckSum(3, 0));
}

} // namespace
} // namespace binary::pe
