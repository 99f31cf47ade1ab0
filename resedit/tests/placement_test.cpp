// Files laid out beyond what a linker writes, as packers and installer builders leave them:
// leaves whose bytes lie in another section, data that other parts of the program keep in the
// resource section, and a section whose bytes the file keeps in the resource section's slack.
// What can keep working is edited as usual and keeps working; what would move under it is
// refused with the file untouched.
#include "resedit/tests/support.h"

#include <algorithm>

namespace resedit::testing {
namespace {

namespace pe = binary::pe;

Bytes Slice(const Bytes& b, std::size_t from, std::size_t size) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + size));
}

struct SectionFields {
    std::uint32_t vsize, va, rawSize, raw;
};
SectionFields SectionOf(const PeFile& f, const Bytes& b, std::uint32_t i) {
    const std::uint32_t h = SectionHeader(f, i);
    return {Get32(b, h + pe::kSecVirtualSize), Get32(b, h + pe::kSecVirtualAddress),
            Get32(b, h + pe::kSecSizeOfRawData), Get32(b, h + pe::kSecPointerToRawData)};
}

// The bytes at an address of the file, through the section that holds them.
Bytes AtAddress(const PeFile& f, const Bytes& b, std::uint32_t rva, std::uint32_t size) {
    const std::uint32_t count = Get16(b, f.peOffset + pe::kNumberOfSections);
    for (std::uint32_t i = 0; i < count; ++i) {
        const SectionFields s = SectionOf(f, b, i);
        if (rva >= s.va && rva + size <= s.va + s.rawSize) {
            return Slice(b, s.raw + (rva - s.va), size);
        }
    }
    ADD_FAILURE() << "no section holds " << rva;
    return {};
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A leaf of the open file.
const TResItem* LeafOf(TResEditHandle* h, const Resource& r) {
    TPResItem type = *ResFindEntry(h->root, r.type);
    TPResItem name = type ? *ResFindEntry(type, r.name) : nullptr;
    return name ? ResFindLeaf(name, r.language) : nullptr;
}

class PlacementTest : public ScratchTest {
protected:
    // Opens name, lets change edit the tree, closes keeping the changes.
    template <typename F> bool Edit(const std::string& name, F change) {
        TResEditHandle* h = ResEditOpen(U16(name), false);
        EXPECT_NE(h, nullptr) << ResEditLastMessage();
        if (!h) {
            return false;
        }
        change(h);
        const bool ok = ResEditClose(h, false);
        EXPECT_TRUE(LeftoverTempFiles().empty());
        return ok;
    }
    static void Put(TResEditHandle* h, const Resource& r) {
        ASSERT_TRUE(ResEditUpdate(h, r.type, r.name, r.language, r.bytes.data(),
                                  static_cast<std::uint32_t>(r.bytes.size())))
            << ResEditLastMessage();
    }
    // The address each in-place leaf of the resources points at, as the file says.
    std::vector<std::uint32_t> InPlaceAddresses(const std::string& name,
                                                const std::vector<Resource>& resources) {
        std::vector<std::uint32_t> out;
        TResEditHandle* h = ResEditOpen(U16(name), false);
        EXPECT_NE(h, nullptr) << ResEditLastMessage();
        if (!h) {
            return out;
        }
        for (const Resource& r : resources) {
            if (r.inSection >= 0) {
                const TResItem* leaf = LeafOf(h, r);
                EXPECT_TRUE(leaf && leaf->inPlace);
                out.push_back(leaf && leaf->inPlace ? leaf->address : 0);
            }
        }
        EXPECT_TRUE(ResEditClose(h, true));
        return out;
    }
};

// Leaves whose bytes lie in earlier sections (code and data, as packers leave them) are read
// and listed; after an edit that moves the sections behind the resources, they point where they
// pointed, those bytes are untouched, and everything else is edited as usual.
TEST_F(PlacementTest, LeavesInEarlierSectionsKeepPointingThere) {
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const std::vector<Resource> resources = {
            {Id(3), Id(1), 2052, Pattern(600, 1)},
            {Id(14), Name(u"106"), 2052, Pattern(20, 2)},
            {Id(10), Name(u"PACKED"), 1033, Pattern(301, 3), 0, 1},
            {Id(6), Id(1), 2052, Pattern(48, 4), 0, 0},
            {Id(23), Id(1), 2052, Pattern(200, 5), 0, 1},
        };
        const PeFile pe = BuildPe(TypicalRecipe(plus, resources));
        Write("a.exe", pe.bytes);
        {
            TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
            ASSERT_NE(h, nullptr) << ResEditLastMessage();
            EXPECT_EQ(Sorted(Listing(*h->os, h->root)), Sorted(Listing(resources)));
            EXPECT_TRUE(ResEditClose(h, true));
        }
        const std::vector<std::uint32_t> addresses = InPlaceAddresses("a.exe", resources);

        // Past a page: the relocations behind the resources move in memory and in the file.
        const Resource added = {Id(10), Id(7), 1033, Pattern(5000, 6)};
        ASSERT_TRUE(Edit("a.exe", [&](TResEditHandle* h) { Put(h, added); }))
            << ResEditLastMessage();
        const Bytes out = Read("a.exe");
        for (std::uint32_t i : {0u, 1u}) {
            const SectionFields s = SectionOf(pe, out, i);
            EXPECT_EQ(Slice(out, s.raw, s.rawSize), Slice(pe.bytes, s.raw, s.rawSize)) << i;
        }
        EXPECT_EQ(SectionOf(pe, out, 3).va, SectionOf(pe, pe.bytes, 3).va + 0x1000);
        EXPECT_EQ(InPlaceAddresses("a.exe", resources), addresses);
        std::vector<Resource> now = resources;
        now.push_back(added);
        EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing(now)));
        // Kept data is read through its own section again.
        TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(Sorted(Listing(*h->os, h->root)), Sorted(Listing(now)));
        EXPECT_TRUE(ResEditClose(h, true));
    }
}

// A packed program's leaves whose bytes only the running program has (they lie in a section
// without bytes in the file, which it fills itself): listed with their sizes, their bytes not
// to be had, and kept pointing where they point by edits of everything else.
TEST_F(PlacementTest, LeavesWithoutBytesInTheFileAreListedAndKept) {
    PeRecipe recipe = TypicalRecipe(false, {});
    recipe.sections.insert(recipe.sections.begin(),
                           {"UPX0", SectionKind::Code, {}, 0x3000, 0, true});
    recipe.resources = {
        {Id(3), Id(1), 2052, Pattern(600, 1)},
        {Id(3), Id(5), 2052, Pattern(1128, 2), 0, 0},
        {Id(10), Name(u"PATCHDATA"), 2052, Pattern(14, 3), 0, 0},
        {Id(14), Name(u"106"), 2052, BuildGroupRecord({{16, 16, 1, 32, Pattern(600, 1)}}, {1})},
    };
    const PeFile pe = BuildPe(recipe);
    ASSERT_EQ(SectionOf(pe, pe.bytes, 0).rawSize, 0u);
    Write("a.exe", pe.bytes);
    const std::vector<std::uint32_t> addresses = InPlaceAddresses("a.exe", recipe.resources);
    {
        TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr) << ResEditLastMessage();
        const std::uint8_t* data = nullptr;
        std::uint32_t size = 0;
        EXPECT_TRUE(ResEditGet(h, Id(3), Id(5), 2052, data, size));
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(size, 1128u);
        std::vector<std::uint8_t> bytes;
        EXPECT_FALSE(ResEditGetBytes(h, Id(3), Id(5), 2052, bytes));
        EXPECT_NE(ResEditLastMessage().find("packed"), std::string::npos) << ResEditLastMessage();
        EXPECT_TRUE(ResEditClose(h, true));
    }

    // The group in the resource section replaced; one of the kept leaves removed.
    const std::vector<IconImage> images = {{16, 16, 1, 32, Pattern(700, 7)},
                                           {32, 32, 1, 32, Pattern(5000, 8)}};
    Write("new.ico", BuildIco(images));
    ASSERT_TRUE(Edit("a.exe", [&](TResEditHandle* h) {
        ASSERT_TRUE(ResEditReplaceIconGroup(h, Name(u"106"), 2052, U16("new.ico")))
            << ResEditLastMessage();
        ASSERT_TRUE(ResEditUpdate(h, Id(10), Name(u"PATCHDATA"), 2052, nullptr, 0));
    })) << ResEditLastMessage();
    TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
    ASSERT_NE(h, nullptr) << ResEditLastMessage();
    const TResItem* kept = LeafOf(h, recipe.resources[1]);
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->inPlace);
    EXPECT_EQ(kept->address, addresses[0]);
    EXPECT_EQ(kept->size, 1128u);
    EXPECT_EQ(LeafOf(h, recipe.resources[2]), nullptr);
    std::vector<std::uint8_t> image;
    EXPECT_TRUE(ResEditGetBytes(h, Id(3), Id(2), 2052, image));
    EXPECT_EQ(image, images[1].bytes);
    EXPECT_TRUE(ResEditClose(h, true));
}

// Leaves in a section behind the resources: kept while that section keeps its address, and
// refused, with the reason and the file untouched, when the new section would move it.
TEST_F(PlacementTest, LeavesInASectionThatMovesAreRefused) {
    PeRecipe recipe = TypicalRecipe(true, {});
    recipe.sections.push_back({".debug", SectionKind::Discardable, Pattern(64, 9), 0});
    recipe.resources = {{Id(10), Id(1), 1033, Pattern(700, 1)},
                        {Id(10), Id(2), 1033, Pattern(90, 2), 0, 4}};
    const PeFile pe = BuildPe(recipe);
    Write("a.exe", pe.bytes);
    const Resource large = {Id(10), Id(3), 1033, Pattern(5000, 3)};
    EXPECT_FALSE(Edit("a.exe", [&](TResEditHandle* h) { Put(h, large); }));
    EXPECT_NE(ResEditLastMessage().find("section 5"), std::string::npos) << ResEditLastMessage();
    EXPECT_NE(ResEditLastMessage().find("cannot keep their place"), std::string::npos);
    EXPECT_EQ(Read("a.exe"), pe.bytes);

    // Within the same pages nothing moves in memory; the file grows and the section with it.
    const Resource small = {Id(10), Id(3), 1033, Pattern(1500, 3)};
    ASSERT_TRUE(Edit("a.exe", [&](TResEditHandle* h) { Put(h, small); })) << ResEditLastMessage();
    const Bytes out = Read("a.exe");
    EXPECT_GT(SectionOf(pe, out, 4).raw, SectionOf(pe, pe.bytes, 4).raw);
    std::vector<Resource> now = recipe.resources;
    now.push_back(small);
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing(now)));
}

// Data of other directories in the resource section keeps its address and bytes whatever the
// new section's size; the resources go around it. Tables that would need its place are
// refused.
TEST_F(PlacementTest, DataOtherDirectoriesKeepInTheResourceSectionKeepsItsPlace) {
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const std::vector<Resource> resources = {{Id(3), Id(1), 2052, Pattern(1200, 1)},
                                                 {Id(3), Id(2), 2052, Pattern(3000, 2)}};
        PeRecipe recipe = TypicalRecipe(plus, resources);
        recipe.sections.pop_back(); // the resource section last, as packers have it
        recipe.resourceTrailer = [plus](std::uint32_t va) { return BuildImportTrailer(va, plus); };
        recipe.trailerDirectory = pe::kDirImport;
        PeFile pe = BuildPe(recipe);
        // The directory's Size covers the descriptors alone, as linkers give it.
        Put32(pe.bytes, DataDirectory(pe, pe::kDirImport) + 4, 2 * pe::kImportDescriptorSize);
        const Bytes trailer = AtAddress(pe, pe.bytes, pe.trailerVa, pe.trailerSize);
        struct Case {
            const char* label;
            std::vector<Resource> set;
            std::vector<Resource> removed;
        };
        const Case cases[] = {
            {"grows",
             {{Id(3), Id(2), 2052, Pattern(9000, 3)}, {Id(3), Id(4), 2052, Pattern(50, 4)}},
             {}},
            {"shrinks", {}, {resources[1]}},
            {"a leaf that no longer fits before the kept data goes behind it",
             {{Id(3), Id(1), 2052, Pattern(4000, 5)}},
             {}},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.label);
            Write("a.exe", pe.bytes);
            ASSERT_TRUE(Edit("a.exe", [&](TResEditHandle* h) {
                for (const Resource& r : c.set) {
                    Put(h, r);
                }
                for (const Resource& r : c.removed) {
                    ASSERT_TRUE(ResEditUpdate(h, r.type, r.name, r.language, nullptr, 0));
                }
            })) << ResEditLastMessage();
            const Bytes out = Read("a.exe");
            EXPECT_EQ(AtAddress(pe, out, pe.trailerVa, pe.trailerSize), trailer);
            EXPECT_EQ(Get32(out, DataDirectory(pe, pe::kDirImport)), pe.trailerVa);
            // No leaf's bytes overlap the kept data.
            TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
            ASSERT_NE(h, nullptr) << ResEditLastMessage();
            const SectionFields rs = SectionOf(pe, out, pe.resourceSection);
            EXPECT_GE(rs.vsize, pe.trailerVa + pe.trailerSize - pe.resourceVa);
            std::vector<Resource> expected;
            for (const Resource& r : resources) {
                if (std::none_of(c.removed.begin(), c.removed.end(),
                                 [&](const Resource& x) { return x.name == r.name; })) {
                    expected.push_back(r);
                }
            }
            for (const Resource& r : c.set) {
                auto same = [&](const Resource& x) { return x.name == r.name; };
                expected.erase(std::remove_if(expected.begin(), expected.end(), same),
                               expected.end());
                expected.push_back(r);
                const TResItem* leaf = LeafOf(h, r);
                ASSERT_NE(leaf, nullptr);
                const std::uint64_t at = pe.resourceVa + static_cast<std::uint64_t>(
                                                             leaf->data - (h->view.base + rs.raw));
                EXPECT_TRUE(at + leaf->size <= pe.trailerVa || at >= pe.trailerVa + pe.trailerSize)
                    << "leaf at " << at;
            }
            EXPECT_TRUE(ResEditClose(h, true));
            EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing(expected)));
        }

        // Tables that outgrow the room before the kept data: refused.
        Write("a.exe", pe.bytes);
        EXPECT_FALSE(Edit("a.exe", [&](TResEditHandle* h) {
            for (std::uint16_t type = 100; type < 400; ++type) {
                Put(h, {Id(type), Id(1), 1033, Pattern(4, 6)});
            }
        }));
        EXPECT_NE(ResEditLastMessage().find("would overwrite data"), std::string::npos)
            << ResEditLastMessage();
        EXPECT_EQ(Read("a.exe"), pe.bytes);
    }
}

// A section whose bytes the file keeps in the resource section's slack (the resource section
// was grown in place over them): it gets bytes of its own behind the new section, and
// whatever follows moves on; the loader's view of every section is as before.
TEST_F(PlacementTest, ASectionInTheResourceSlackGetsBytesOfItsOwn) {
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const std::vector<Resource> resources = {{Id(10), Id(1), 1033, Pattern(1500, 1)}};
        PeRecipe recipe = TypicalRecipe(plus, resources);
        recipe.sections[2].rawPadding = 0x300; // slack before the section's bytes
        recipe.sections[3].inPreviousSlack = true;
        recipe.sections.push_back({".debug", SectionKind::Discardable, Pattern(0x250, 2), 0});
        recipe.appended = Pattern(333, 3);
        const PeFile pe = BuildPe(recipe);
        const SectionFields rsrc = SectionOf(pe, pe.bytes, 2), reloc = SectionOf(pe, pe.bytes, 3);
        ASSERT_GE(reloc.raw, rsrc.raw);
        ASSERT_LE(reloc.raw + reloc.rawSize, rsrc.raw + rsrc.rawSize);
        const Bytes relocBytes = Slice(pe.bytes, reloc.raw, reloc.rawSize);
        const SectionFields debug = SectionOf(pe, pe.bytes, 4);
        const Bytes debugBytes = Slice(pe.bytes, debug.raw, debug.rawSize);
        struct Case {
            const char* label;
            std::uint32_t bytes;
            std::int32_t virtualDelta;
        };
        for (const Case& c : {Case{"grows past a page", 5000, 0x1000}, Case{"grows", 2500, 0},
                              Case{"shrinks", 10, 0}}) {
            SCOPED_TRACE(c.label);
            Write("a.exe", pe.bytes);
            const Resource r = {Id(10), Id(1), 1033, Pattern(c.bytes, 4)};
            ASSERT_TRUE(Edit("a.exe", [&](TResEditHandle* h) { Put(h, r); }))
                << ResEditLastMessage();
            const Bytes out = Read("a.exe");
            const SectionFields rs = SectionOf(pe, out, 2), rl = SectionOf(pe, out, 3),
                                dg = SectionOf(pe, out, 4);
            EXPECT_GE(rl.raw, rs.raw + rs.rawSize) << "the relocations have bytes of their own";
            EXPECT_EQ(Slice(out, rl.raw, rl.rawSize), relocBytes);
            EXPECT_EQ(rl.va, reloc.va + c.virtualDelta);
            EXPECT_EQ(Get32(out, DataDirectory(pe, pe::kDirBaseRelocation)), rl.va);
            EXPECT_GE(dg.raw, rl.raw + rl.rawSize);
            EXPECT_EQ(Slice(out, dg.raw, dg.rawSize), debugBytes);
            EXPECT_EQ(Slice(out, out.size() - 333, 333), recipe.appended);
            EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing({r})));
        }
    }

    // A section before the resources in memory whose bytes lie in their slack cannot be put
    // behind them in the file: refused as before, the file untouched.
    PeRecipe recipe = TypicalRecipe(false, {{Id(10), Id(1), 1033, Pattern(700, 1)}});
    recipe.sections[2].rawPadding = 0x400;
    PeFile pe = BuildPe(recipe);
    const SectionFields rsrc = SectionOf(pe, pe.bytes, 2);
    Put32(pe.bytes, SectionHeader(pe, 1) + pe::kSecPointerToRawData, rsrc.raw + 0x400);
    Write("a.exe", pe.bytes);
    EXPECT_FALSE(Edit("a.exe", [&](TResEditHandle* h) {
        Put(h, {Id(10), Id(1), 1033, Pattern(3000, 2)});
    }));
    EXPECT_NE(ResEditLastMessage().find("shares its bytes"), std::string::npos)
        << ResEditLastMessage();
    EXPECT_EQ(Read("a.exe"), pe.bytes);
}

} // namespace
} // namespace resedit::testing
