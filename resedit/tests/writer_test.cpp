// The section writer: the new section byte for byte, the file's tail moved, the headers
// updated, and layouts it cannot move refused with the file untouched.
#include "resedit/tests/support.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>

namespace resedit::testing {
namespace {

// The header fields the writer changes, read straight from the bytes.
struct Fields {
    std::uint32_t initData = 0, sizeOfImage = 0, checkSum = 0, symbols = 0;
    std::uint32_t dirVa[16] = {}, dirSize[16] = {};
    struct Sec {
        std::uint32_t vsize, va, rawSize, raw;
    };
    std::vector<Sec> sections;
};

Fields ReadFields(const Bytes& b) {
    Fields f;
    const std::uint32_t p = Get32(b, 0x3C);
    const std::uint32_t o = p + 24;
    const bool plus = Get16(b, o) == 0x20B;
    f.initData = Get32(b, o + 8);
    f.sizeOfImage = Get32(b, o + 56);
    f.checkSum = Get32(b, o + 64);
    f.symbols = Get32(b, p + 12);
    const std::uint32_t dirs = o + (plus ? 112 : 96);
    for (int k = 0; k < 16; ++k) {
        f.dirVa[k] = Get32(b, dirs + 8 * k);
        f.dirSize[k] = Get32(b, dirs + 8 * k + 4);
    }
    const std::uint32_t table = o + Get16(b, p + 20);
    for (std::uint32_t i = 0; i < Get16(b, p + 6); ++i) {
        const std::uint32_t h = table + 40 * i;
        f.sections.push_back(
            {Get32(b, h + 8), Get32(b, h + 12), Get32(b, h + 16), Get32(b, h + 20)});
    }
    return f;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
}

class WriterTest : public ScratchTest {
protected:
    // Opens name, lets change edit the tree, closes keeping the changes.
    template <typename F> bool Edit(const std::string& name, bool dropExisting, F change) {
        TResEditHandle* h = ResEditOpen(U16(name), dropExisting);
        EXPECT_NE(h, nullptr) << ResEditLastMessage();
        if (!h) {
            return false;
        }
        change(h);
        const bool ok = ResEditClose(h, false);
        EXPECT_TRUE(LeftoverTempFiles().empty());
        return ok;
    }
    static void Put(TResEditHandle* h, std::uint16_t type, std::uint16_t name, std::uint16_t lang,
                    const Bytes& b) {
        ASSERT_TRUE(ResEditUpdate(h, ResKey::FromId(type), ResKey::FromId(name), lang, b.data(),
                                  static_cast<std::uint32_t>(b.size())));
    }
};

// One icon image of 10 bytes gives the 100-byte section of the format's example.
TEST_F(WriterTest, OneImageTreeGivesTheExampleSection) {
    const PeFile pe = BuildPe(
        TypicalRecipe(false, {{ResKey::FromId(16), ResKey::FromId(1), 1033, Pattern(700, 1)}}));
    Write("a.exe", pe.bytes);
    const Bytes image = Pattern(10, 9);
    ASSERT_TRUE(Edit("a.exe", true, [&](TResEditHandle* h) { Put(h, 3, 1, 2052, image); }));

    const Bytes out = Read("a.exe");
    const std::uint32_t va = pe.resourceVa;
    Bytes want(100, 0);
    Put16(want, 14, 1);
    Put32(want, 16, 3);
    Put32(want, 20, 0x80000000 + 24);
    Put16(want, 24 + 14, 1);
    Put32(want, 24 + 16, 1);
    Put32(want, 24 + 20, 0x80000000 + 48);
    Put16(want, 48 + 14, 1);
    Put32(want, 48 + 16, 2052);
    Put32(want, 48 + 20, 72);
    Put32(want, 72, va + 88);
    Put32(want, 76, 10);
    std::copy(image.begin(), image.end(), want.begin() + 88);
    EXPECT_EQ(Slice(out, pe.resourceRaw, pe.resourceRaw + 100), want);
    // Padded with zeros to the file alignment.
    EXPECT_EQ(Slice(out, pe.resourceRaw + 100, pe.resourceRaw + 0x200), Bytes(0x200 - 100, 0));
    const Fields f = ReadFields(out);
    EXPECT_EQ(f.sections[pe.resourceSection].vsize, 100u);
    EXPECT_EQ(f.sections[pe.resourceSection].rawSize, 0x200u);
    EXPECT_EQ(f.dirSize[2], 100u);
    EXPECT_EQ(f.dirVa[2], va);
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe"),
                              Listing({{ResKey::FromId(3), ResKey::FromId(1), 2052, image}})));
}

// The tail moves by the raw delta, later sections keep their bytes, and every header the
// writer owns changes as it should: for growing, shrinking and equal raw sizes, with and
// without a change of the virtual size, in PE32 and PE32+.
struct DeltaCase {
    const char* label;
    std::uint32_t oldBytes;   // resource bytes in the original file
    std::uint32_t rawPadding; // extra raw bytes of the original resource section
    std::uint32_t newBytes;   // bytes of the single resource written
    std::int32_t rawDelta;
    std::int32_t virtualDelta;
};

void PrintTo(const DeltaCase& c, std::ostream* os) {
    *os << c.label;
}

class DeltaTest : public WriterTest,
                  public ::testing::WithParamInterface<std::tuple<DeltaCase, bool>> {};

TEST_P(DeltaTest, MovesTailAndUpdatesHeaders) {
    const auto& [c, plus] = GetParam();
    PeRecipe recipe = TypicalRecipe(
        plus, {{ResKey::FromId(10), ResKey::FromId(1), 1033, Pattern(c.oldBytes, 3)}});
    recipe.sections[2].rawPadding = c.rawPadding;
    recipe.sections.push_back({".debug_line", SectionKind::Debug, Pattern(0x345, 4), 0});
    recipe.appended = Pattern(0x777, 5);
    recipe.symbolTable = true;
    recipe.certificate = true;
    const PeFile pe = BuildPe(recipe);
    Write("a.exe", pe.bytes);
    const Fields before = ReadFields(pe.bytes);
    const std::uint32_t r = pe.resourceSection;
    const std::uint32_t tailStart = before.sections[r].raw + before.sections[r].rawSize;

    const Bytes data = Pattern(c.newBytes, 6);
    ASSERT_TRUE(Edit("a.exe", true, [&](TResEditHandle* h) { Put(h, 10, 1, 1033, data); }));
    const Bytes out = Read("a.exe");
    const Fields after = ReadFields(out);
    const std::uint32_t newSize = 88 + (c.newBytes + 3) / 4 * 4;

    ASSERT_EQ(static_cast<std::int64_t>(out.size()),
              static_cast<std::int64_t>(pe.bytes.size()) + c.rawDelta);
    EXPECT_EQ(after.sections[r].rawSize, before.sections[r].rawSize + c.rawDelta);
    EXPECT_EQ(after.sections[r].vsize, newSize);
    EXPECT_EQ(after.dirSize[2], newSize);
    EXPECT_EQ(after.initData, before.initData + c.rawDelta);
    EXPECT_EQ(after.sizeOfImage, before.sizeOfImage + c.virtualDelta);
    EXPECT_EQ(after.checkSum, before.checkSum);
    for (std::uint32_t i = 0; i < before.sections.size(); ++i) {
        const bool behind = i > r;
        EXPECT_EQ(after.sections[i].va, before.sections[i].va + (behind ? c.virtualDelta : 0)) << i;
        EXPECT_EQ(after.sections[i].raw, before.sections[i].raw + (behind ? c.rawDelta : 0)) << i;
        EXPECT_EQ(after.sections[i].rawSize,
                  i == r ? after.sections[r].rawSize : before.sections[i].rawSize);
        // A section keeps its content wherever it is now.
        if (i != r) {
            EXPECT_EQ(Slice(out, after.sections[i].raw,
                            after.sections[i].raw + after.sections[i].rawSize),
                      Slice(pe.bytes, before.sections[i].raw,
                            before.sections[i].raw + before.sections[i].rawSize))
                << "section " << i;
        }
    }
    EXPECT_EQ(after.dirVa[5], before.dirVa[5] + c.virtualDelta); // relocations behind the resources
    EXPECT_EQ(after.dirVa[2], before.dirVa[2]);
    // File offsets into the tail move with it.
    EXPECT_EQ(after.symbols, before.symbols + c.rawDelta);
    EXPECT_EQ(after.dirVa[4], before.dirVa[4] + c.rawDelta);
    EXPECT_EQ(Slice(out, tailStart + c.rawDelta, out.size()),
              Slice(pe.bytes, tailStart, pe.bytes.size()));
    // Between the headers and the section nothing changed.
    const std::uint32_t headersEnd = before.sections[0].raw;
    EXPECT_EQ(Slice(out, headersEnd, before.sections[r].raw),
              Slice(pe.bytes, headersEnd, before.sections[r].raw));
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe"),
                              Listing({{ResKey::FromId(10), ResKey::FromId(1), 1033, data}})));
}

// A one-leaf tree of n bytes takes 88 + n (rounded to 4) bytes; the builder's original
// sections take 88 + n rounded to 8. File alignment 0x200, section alignment 0x1000.
const DeltaCase kDeltaCases[] = {
    {"grows", 700, 0, 3000, 0xE00 - 0x400, 0},                   // 792 -> 3088 bytes
    {"grows past a page", 700, 0, 5000, 0x1400 - 0x400, 0x1000}, // 792 -> 5088
    {"shrinks", 3000, 0, 100, 0x200 - 0xE00, 0},                 // 3088 -> 188
    {"shrinks a page", 5000, 0, 100, 0x200 - 0x1400, -0x1000},   // 5088 -> 188
    {"same raw size", 700, 0, 600, 0, 0},                        // 792 -> 688
    // The old section carries padding: its raw size stays 0x1E00 while its virtual size
    // (392 -> 0x1D00 bytes) takes a second page.
    {"same raw size, new page", 300, 0x1C00, 0x1D00 - 88, 0, 0x1000},
};

INSTANTIATE_TEST_SUITE_P(Cases, DeltaTest,
                         ::testing::Combine(::testing::ValuesIn(kDeltaCases), ::testing::Bool()),
                         [](const auto& param) {
                             std::string s = std::string(std::get<0>(param.param).label) +
                                             (std::get<1>(param.param) ? "_pe32plus" : "_pe32");
                             std::replace_if(
                                 s.begin(), s.end(), [](char ch) { return !std::isalnum(ch); },
                                 '_');
                             return s;
                         });

// The resource section last in the file, with data appended after it: the appended data
// moves and the file grows or shrinks at its end.
TEST_F(WriterTest, ResourceSectionLastWithAppendedData) {
    for (std::uint32_t newBytes : {5000u, 10u}) {
        PeRecipe recipe =
            TypicalRecipe(false, {{ResKey::FromId(10), ResKey::FromId(1), 1033, Pattern(2000, 1)}});
        recipe.sections.pop_back(); // no .reloc
        recipe.appended = Pattern(999, 2);
        const PeFile pe = BuildPe(recipe);
        Write("a.exe", pe.bytes);
        const Bytes data = Pattern(newBytes, 3);
        ASSERT_TRUE(Edit("a.exe", true, [&](TResEditHandle* h) { Put(h, 10, 1, 1033, data); }));
        const Bytes out = Read("a.exe");
        const std::uint32_t newRaw = (88 + (newBytes + 3) / 4 * 4 + 0x1FF) / 0x200 * 0x200;
        ASSERT_EQ(out.size(), pe.resourceRaw + newRaw + 999);
        EXPECT_EQ(Slice(out, out.size() - 999, out.size()), recipe.appended);
        EXPECT_TRUE(OraclesAccept(PathOf("a.exe"),
                                  Listing({{ResKey::FromId(10), ResKey::FromId(1), 1033, data}})));
    }
    // Nothing at all after it: the tail is empty.
    const PeFile bare = [] {
        PeRecipe recipe =
            TypicalRecipe(true, {{ResKey::FromId(10), ResKey::FromId(1), 1033, Pattern(2000, 1)}});
        recipe.sections.pop_back();
        return BuildPe(recipe);
    }();
    Write("b.exe", bare.bytes);
    ASSERT_TRUE(
        Edit("b.exe", true, [&](TResEditHandle* h) { Put(h, 10, 1, 1033, Pattern(9000, 4)); }));
    EXPECT_EQ(Read("b.exe").size(), bare.resourceRaw + 0x2400u);
}

// Debug entries move with the data they point at: Size 28 x k gives k entries, any other
// Size is itself the count of entries.
TEST_F(WriterTest, DebugDirectoryEntries) {
    struct Case {
        std::uint32_t entries, sizeField, updated;
    } cases[] = {{1, 0, 1}, {3, 0, 3}, {2, 1, 1}, {3, 2, 2}};
    for (const Case& c : cases) {
        PeRecipe recipe =
            TypicalRecipe(false, {{ResKey::FromId(10), ResKey::FromId(1), 1033, Pattern(700, 1)}});
        recipe.sections.push_back({".debug", SectionKind::Debug, {}, 0});
        recipe.debugEntries = c.entries;
        recipe.debugSizeField = c.sizeField;
        const PeFile pe = BuildPe(recipe);
        Write("a.exe", pe.bytes);
        ASSERT_TRUE(
            Edit("a.exe", true, [&](TResEditHandle* h) { Put(h, 10, 1, 1033, Pattern(5000, 2)); }));
        const Bytes out = Read("a.exe");
        const std::int64_t rawDelta = 0x1400 - 0x400, virtualDelta = 0x1000;
        for (std::uint32_t k = 0; k < c.entries; ++k) {
            const std::uint32_t e = pe.debugOffset + 28 * k; // in .data, before the resources
            const bool moved = k < c.updated;
            EXPECT_EQ(Get32(out, e + 24), Get32(pe.bytes, e + 24) + (moved ? rawDelta : 0)) << k;
            const std::uint32_t address = Get32(pe.bytes, e + 20);
            EXPECT_EQ(Get32(out, e + 20), address + (moved && address ? virtualDelta : 0)) << k;
            // The entry still finds its data.
            if (moved) {
                EXPECT_EQ(
                    Slice(out, Get32(out, e + 24), Get32(out, e + 24) + 40 + 4 * k),
                    Slice(pe.bytes, Get32(pe.bytes, e + 24), Get32(pe.bytes, e + 24) + 40 + 4 * k));
            }
        }
        EXPECT_TRUE(OraclesAccept(PathOf("a.exe")));
    }
    // A count that reaches outside the file is refused, the file untouched.
    PeRecipe recipe =
        TypicalRecipe(false, {{ResKey::FromId(10), ResKey::FromId(1), 1033, Pattern(700, 1)}});
    recipe.debugEntries = 1;
    recipe.debugSizeField = 0xFFFF;
    const PeFile pe = BuildPe(recipe);
    Write("a.exe", pe.bytes);
    EXPECT_FALSE(
        Edit("a.exe", true, [&](TResEditHandle* h) { Put(h, 10, 1, 1033, Pattern(5000, 2)); }));
    EXPECT_EQ(Read("a.exe"), pe.bytes);
}

// Without the mended offsets the rewritten file is refused by objdump: the check that the
// symbol table moves with the tail is a real one.
TEST_F(WriterTest, StaleSymbolTablePointerIsCaughtByTheOracles) {
    PeRecipe recipe =
        TypicalRecipe(true, {{ResKey::FromId(10), ResKey::FromId(1), 1033, Pattern(700, 1)}});
    recipe.symbolTable = true;
    recipe.sections.push_back(
        {".debug_info", SectionKind::Debug, Pattern(100, 3), 0}); // named in the string table
    const PeFile pe = BuildPe(recipe);
    Write("a.exe", pe.bytes);
    ASSERT_TRUE(
        Edit("a.exe", true, [&](TResEditHandle* h) { Put(h, 10, 1, 1033, Pattern(9000, 2)); }));
    Bytes out = Read("a.exe");
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe")));
    Put32(out, pe.peOffset + 12, pe.symbolOffset);
    Write("stale.exe", out);
#ifndef _WIN32
    EXPECT_FALSE(OraclesAccept(PathOf("stale.exe")));
#endif
}

// Layouts the writer cannot move correctly are refused and the file keeps every byte.
TEST_F(WriterTest, RefusesLayoutsItCannotMove) {
    struct Case {
        const char* label;
        std::uint32_t newBytes;
        std::function<void(PeRecipe&)> recipe;
        std::function<void(const PeFile&, Bytes&)> bend;
        bool refused;
    };
    const std::vector<Case> cases = {
        {"code behind the resources, addresses change", 5000,
         [](PeRecipe& s) {
             s.sections.insert(s.sections.begin() + 3,
                               {".text2", SectionKind::Code, Pattern(64, 7), 0});
         },
         nullptr, true},
        {"data behind the resources, addresses change", 5000,
         [](PeRecipe& s) {
             s.sections.insert(s.sections.begin() + 3,
                               {".data2", SectionKind::Data, Pattern(64, 7), 0});
         },
         nullptr, true},
        {"code behind the resources, only file offsets change", 3000,
         [](PeRecipe& s) {
             s.sections.insert(s.sections.begin() + 3,
                               {".text2", SectionKind::Code, Pattern(64, 7), 0});
         },
         nullptr, false},
        {"discardable behind the resources", 5000,
         [](PeRecipe& s) {
             s.sections.push_back({".debug", SectionKind::Discardable, Pattern(64, 7), 0});
         },
         nullptr, false},
        {"section behind in memory but before in the file", 3000, nullptr,
         [](const PeFile& f, Bytes& b) {
             // .reloc's bytes put where .data's are.
             Put32(b, SectionHeader(f, 3) + 20, Get32(b, SectionHeader(f, 1) + 20));
         },
         true},
        {"zero file alignment", 3000, nullptr,
         [](const PeFile& f, Bytes& b) { Put32(b, OptionalHeader(f) + 36, 0); }, true},
        {"zero section alignment", 3000, nullptr,
         [](const PeFile& f, Bytes& b) { Put32(b, OptionalHeader(f) + 32, 0); }, true},
        {"file alignment of 2 GB", 3000, nullptr,
         [](const PeFile& f, Bytes& b) { Put32(b, OptionalHeader(f) + 36, 0x80000000); }, true},
        {"file alignment not a power of two", 3000, nullptr,
         [](const PeFile& f, Bytes& b) { Put32(b, OptionalHeader(f) + 36, 0x300); }, true},
        {"resource section without place in the file", 3000, nullptr,
         [](const PeFile& f, Bytes& b) { Put32(b, SectionHeader(f, 2) + 20, 0); }, true},
        {"sections overlapping in the file", 100, nullptr,
         [](const PeFile& f, Bytes& b) {
             Put32(b, SectionHeader(f, 1) + 16, Get32(b, SectionHeader(f, 1) + 16) + 0x200);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        PeRecipe recipe =
            TypicalRecipe(false, {{ResKey::FromId(10), ResKey::FromId(1), 1033, Pattern(700, 1)}});
        if (c.recipe) {
            c.recipe(recipe);
        }
        PeFile pe = BuildPe(recipe);
        if (c.bend) {
            c.bend(pe, pe.bytes);
        }
        Write("a.exe", pe.bytes);
        const Bytes data = Pattern(c.newBytes, 2);
        const bool written =
            Edit("a.exe", true, [&](TResEditHandle* h) { Put(h, 10, 1, 1033, data); });
        EXPECT_EQ(written, !c.refused) << ResEditLastMessage();
        if (c.refused) {
            EXPECT_FALSE(ResEditLastMessage().empty());
            EXPECT_EQ(Read("a.exe"), pe.bytes);
        } else {
            EXPECT_TRUE(OraclesAccept(
                PathOf("a.exe"), Listing({{ResKey::FromId(10), ResKey::FromId(1), 1033, data}})));
        }
    }
}

// Rewriting an unchanged tree keeps every resource with its fields; a second rewrite gives
// the same bytes again.
TEST_F(WriterTest, UnchangedTreeRoundTrips) {
    const std::vector<Resource> resources = {
        {ResKey::FromId(3), ResKey::FromId(1), 2052, Pattern(40, 1), 1252},
        {ResKey::FromId(14), ResKey::FromName(u"106"), 2052, Pattern(34, 3)},
        {ResKey::FromName(u"PATCHDATA"), ResKey::FromName(u"X"), 1033, Pattern(5, 5)},
        {ResKey::FromName(u"PATCHDATA"), ResKey::FromName(u"X"), 2052, Pattern(7, 6)},
    };
    const PeFile pe = BuildPe(TypicalRecipe(true, resources));
    Write("a.exe", pe.bytes);
    ASSERT_TRUE(Edit("a.exe", false, [](TResEditHandle*) {}));
    const Bytes once = Read("a.exe");
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing(resources)));
    TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
    ASSERT_NE(h, nullptr);
    const TResItem* leaf = ResFindLeaf(
        *ResFindEntry(*ResFindEntry(h->root, ResKey::FromId(3)), ResKey::FromId(1)), 2052);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->codePage, 1252u);
    EXPECT_EQ(h->root->time, 0x5F5E0FF0u);
    EXPECT_TRUE(ResEditClose(h, false));
    EXPECT_EQ(Read("a.exe"), once);
}

// dropExisting: only what was added is written; an empty tree is a bare root directory.
TEST_F(WriterTest, DropExistingAndEmptyTree) {
    const PeFile pe = BuildPe(
        TypicalRecipe(false, {{ResKey::FromId(10), ResKey::FromId(1), 1033, Pattern(700, 1)},
                              {ResKey::FromId(24), ResKey::FromId(1), 1033, Pattern(70, 2)}}));
    Write("a.exe", pe.bytes);
    const Bytes data = Pattern(33, 3);
    ASSERT_TRUE(Edit("a.exe", true, [&](TResEditHandle* h) { Put(h, 5, 101, 2052, data); }));
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe"),
                              Listing({{ResKey::FromId(5), ResKey::FromId(101), 2052, data}})));

    Write("a.exe", pe.bytes);
    ASSERT_TRUE(Edit("a.exe", true, [](TResEditHandle*) {}));
    const Bytes out = Read("a.exe");
    EXPECT_EQ(Slice(out, pe.resourceRaw, pe.resourceRaw + 16), Bytes(16, 0));
    EXPECT_EQ(ReadFields(out).dirSize[2], 16u);
    EXPECT_EQ(ReadFields(out).sections[2].vsize, 16u);
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), {}));
}

// Each entry with a name gets its own copy of the string.
TEST_F(WriterTest, NamesAreWrittenOncePerEntry) {
    const PeFile pe = BuildPe(
        TypicalRecipe(false, {{ResKey::FromId(10), ResKey::FromId(1), 1033, Pattern(70, 1)}}));
    Write("a.exe", pe.bytes);
    const Bytes one = Pattern(4, 1);
    ASSERT_TRUE(Edit("a.exe", true, [&](TResEditHandle* h) {
        ASSERT_TRUE(
            ResEditUpdate(h, ResKey::FromName(u"AB"), ResKey::FromName(u"AB"), 0, one.data(), 4));
    }));
    const Bytes out = Read("a.exe");
    // Root, type and name tables with one entry each, one data entry: 88 bytes; then two
    // copies of the 6-byte string.
    const Bytes name = {2, 0, 'A', 0, 'B', 0};
    EXPECT_EQ(Slice(out, pe.resourceRaw + 88, pe.resourceRaw + 94), name);
    EXPECT_EQ(Slice(out, pe.resourceRaw + 94, pe.resourceRaw + 100), name);
    EXPECT_EQ(Get32(out, pe.resourceRaw + 16), 0x80000000u + 88);
    EXPECT_EQ(Get32(out, pe.resourceRaw + 24 + 16), 0x80000000u + 94);
    EXPECT_TRUE(OraclesAccept(
        PathOf("a.exe"), Listing({{ResKey::FromName(u"AB"), ResKey::FromName(u"AB"), 0, one}})));
}

} // namespace
} // namespace resedit::testing
