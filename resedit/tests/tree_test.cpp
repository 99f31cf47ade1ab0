// The resource tree: keys, orders, where leaf bytes live, removal with pruning.
#include "resedit/tests/support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

namespace resedit::testing {
namespace {

// The keys of a directory's children in list order, ids as numbers, names in quotes.
std::vector<std::string> Children(const TResItem* dir) {
    std::vector<std::string> out;
    for (const TResItem* c = dir->child; c; c = c->next) {
        out.push_back(!c->named ? std::to_string(c->id)
                                : std::string(c->name.begin(), c->name.end()));
    }
    return out;
}

// namedItems and idItems match the list, named first, in every directory.
void ExpectCountsHold(const TResItem* dir) {
    std::uint32_t named = 0, ids = 0;
    for (const TResItem* c = dir->child; c; c = c->next) {
        if (!c->named) {
            ++ids;
        } else {
            EXPECT_EQ(ids, 0u) << "a named child after an id child";
            ++named;
        }
        if (c->isDir) {
            ExpectCountsHold(c);
        }
    }
    EXPECT_EQ(dir->namedItems, named);
    EXPECT_EQ(dir->idItems, ids);
}

class TreeTest : public ScratchTest {
protected:
    TResEditHandle* OpenFile(const std::vector<Resource>& resources, bool plus = false) {
        pe = BuildPe(TypicalRecipe(plus, resources));
        Write("a.exe", pe.bytes);
        TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
        EXPECT_NE(h, nullptr) << ResEditLastMessage();
        return h;
    }
    // (An empty vector's data() may be null, which would ask for removal.)
    static bool Set(TResEditHandle* h, const ResKey& t, const ResKey& n, std::uint16_t lang,
                    const Bytes& b) {
        static const std::uint8_t none = 0;
        return ResEditUpdate(h, t, n, lang, b.empty() ? &none : b.data(),
                             static_cast<std::uint32_t>(b.size()));
    }
    static Bytes Get(TResEditHandle* h, const ResKey& t, const ResKey& n, std::uint16_t lang) {
        std::vector<std::uint8_t> b;
        EXPECT_TRUE(ResEditGetBytes(h, t, n, lang, b));
        return b;
    }
    PeFile pe;
};

// The text "106" and the id 106 never find each other; both can exist side by side.
TEST_F(TreeTest, TextAndIdKeysAreDifferentEntries) {
    const Bytes idGroup = Pattern(20, 1);
    TResEditHandle* h = OpenFile({{Id(14), Id(106), 2052, idGroup}});
    ASSERT_NE(h, nullptr);
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    EXPECT_FALSE(ResEditGet(h, Id(14), Name(u"106"), 2052, data, size));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
    ASSERT_TRUE(ResEditGet(h, Id(14), Id(106), 2052, data, size));
    EXPECT_EQ(Bytes(data, data + size), idGroup);

    const Bytes named = Pattern(30, 2);
    ASSERT_TRUE(Set(h, Id(14), Name(u"106"), 2052, named));
    const TResItem* type = *ResFindEntry(h->root, Id(14));
    EXPECT_EQ(Children(type), (std::vector<std::string>{"106", "106"}));
    EXPECT_EQ(type->child->name, u"106"); // the named entry first
    EXPECT_EQ(type->child->next->id, 106);
    EXPECT_EQ(Get(h, Id(14), Name(u"106"), 2052), named);
    EXPECT_EQ(Get(h, Id(14), Id(106), 2052), idGroup);
    ExpectCountsHold(h->root);
    ASSERT_TRUE(ResEditClose(h, false));
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing({{Id(14), Name(u"106"), 2052, named},
                                                        {Id(14), Id(106), 2052, idGroup}})));
}

// Lookup is exact; insertion orders names case-insensitively and puts a name that differs
// only in case before the existing one.
TEST_F(TreeTest, NamesDifferingOnlyInCase) {
    TResEditHandle* h = OpenFile({{Id(10), Name(u"Icon"), 1033, Pattern(8, 1)}});
    ASSERT_NE(h, nullptr);
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    EXPECT_FALSE(ResEditGet(h, Id(10), Name(u"ICON"), 1033, data, size));
    EXPECT_FALSE(ResEditGet(h, Id(10), Name(u"icon"), 1033, data, size));
    ASSERT_TRUE(Set(h, Id(10), Name(u"ICON"), 1033, Pattern(9, 2)));
    ASSERT_TRUE(Set(h, Id(10), Name(u"icon"), 1033, Pattern(10, 3)));
    EXPECT_EQ(Children(*ResFindEntry(h->root, Id(10))),
              (std::vector<std::string>{"icon", "ICON", "Icon"}));
    EXPECT_EQ(Get(h, Id(10), Name(u"ICON"), 1033), Pattern(9, 2));
    EXPECT_EQ(Get(h, Id(10), Name(u"Icon"), 1033), Pattern(8, 1));
    ExpectCountsHold(h->root);
    EXPECT_TRUE(ResEditClose(h, true));
}

// Inserted names go in ascending case-insensitive order, ids after all names in ascending
// order, languages in ascending order.
TEST_F(TreeTest, InsertionOrders) {
    TResEditHandle* h = OpenFile({});
    ASSERT_NE(h, nullptr);
    for (std::u16string_view n : {u"b", u"A", u"_x", u"a-b", u"ab", u"Z1", u"10"}) {
        ASSERT_TRUE(Set(h, Id(10), Name(n), 0, Pattern(4, 1)));
    }
    for (std::uint16_t id : {7, 3, 9, 1}) {
        ASSERT_TRUE(Set(h, Id(10), Id(id), 0, Pattern(4, 1)));
    }
    for (std::uint16_t lang : {2052, 0, 1033}) {
        ASSERT_TRUE(Set(h, Id(10), Id(5), lang, Pattern(4, 1)));
    }
    const TResItem* type = *ResFindEntry(h->root, Id(10));
    EXPECT_EQ(Children(type), (std::vector<std::string>{"_x", "10", "A", "ab", "a-b", "b", "Z1",
                                                        "1", "3", "5", "7", "9"}));
    EXPECT_EQ(Children(*ResFindEntry(const_cast<TResItem*>(type), Id(5))),
              (std::vector<std::string>{"0", "1033", "2052"}));
    // Types: a named type before the id types.
    ASSERT_TRUE(Set(h, Name(u"PATCHDATA"), Id(1), 1033, Pattern(4, 1)));
    ASSERT_TRUE(Set(h, Id(3), Id(1), 1033, Pattern(4, 1)));
    EXPECT_EQ(Children(h->root), (std::vector<std::string>{"PATCHDATA", "3", "10"}));
    ExpectCountsHold(h->root);
    EXPECT_TRUE(ResEditClose(h, false));
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe")));
}

// Entries read from the file keep its order; an inserted name walks that order and stops
// at the first name not less than itself.
TEST_F(TreeTest, FileOrderIsKept) {
    // The builder orders names by code unit: "Z" before "a".
    TResEditHandle* h = OpenFile({{Id(10), Name(u"a"), 0, Pattern(4, 1)},
                                  {Id(10), Name(u"c"), 0, Pattern(4, 2)},
                                  {Id(10), Name(u"Z"), 0, Pattern(4, 3)}});
    ASSERT_NE(h, nullptr);
    const TResItem* type = *ResFindEntry(h->root, Id(10));
    EXPECT_EQ(Children(type), (std::vector<std::string>{"Z", "a", "c"}));
    ASSERT_TRUE(Set(h, Id(10), Name(u"b"), 0, Pattern(4, 4)));
    EXPECT_EQ(Children(type), (std::vector<std::string>{"b", "Z", "a", "c"}));
    EXPECT_TRUE(ResEditClose(h, true));
}

// Up to 32768 bytes stay in memory; more go to the leaf's temporary file, which lives as
// long as the leaf holds them.
TEST_F(TreeTest, WhereLeafBytesLive) {
    for (std::uint32_t size : {0u, 32768u, 32769u, 100000u}) {
        SCOPED_TRACE(size);
        TResEditHandle* h = OpenFile({{Id(10), Id(1), 1033, Pattern(50, 1)}});
        ASSERT_NE(h, nullptr);
        const Bytes bytes = Pattern(size, 2);
        ASSERT_TRUE(Set(h, Id(10), Id(2), 1033, bytes));
        const TResItem* leaf =
            ResFindLeaf(*ResFindEntry(*ResFindEntry(h->root, Id(10)), Id(2)), 1033);
        ASSERT_NE(leaf, nullptr);
        const bool inFile = size > kMaxInMemoryBytes;
        EXPECT_EQ(leaf->fileBuf.IsValid(), inFile);
        EXPECT_EQ(leaf->strBuf.size(), inFile ? 0u : size);
        EXPECT_EQ(leaf->data, nullptr);
        EXPECT_EQ(leaf->size, size);
        const std::filesystem::path temp = ResEditTempName(*h->os, leaf);
        EXPECT_EQ(std::filesystem::exists(temp), inFile);
        if (inFile) {
#ifdef _WIN32
            // Held without sharing: nobody else can open it.
            EXPECT_FALSE(platform::SystemOs()
                             .OpenExisting(temp.u16string(), platform::Access::Read,
                                           platform::Share::ReadWrite)
                             .IsValid());
#else
            EXPECT_EQ(ReadFileBytes(temp), bytes);
#endif
        }
        // Get gives no pointer for bytes set since the file was opened, but their size.
        const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(1);
        std::uint32_t got = 0;
        ASSERT_TRUE(ResEditGet(h, Id(10), Id(2), 1033, data, got));
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(got, size);
        EXPECT_EQ(Get(h, Id(10), Id(2), 1033), bytes);

        // Replaced by small bytes: the file goes; removed: nothing is left.
        ASSERT_TRUE(Set(h, Id(10), Id(2), 1033, Pattern(10, 3)));
        EXPECT_FALSE(std::filesystem::exists(temp));
        ASSERT_TRUE(Set(h, Id(10), Id(3), 1033, bytes));
        ASSERT_TRUE(ResEditUpdate(h, Id(10), Id(3), 1033, nullptr, 0));
        EXPECT_TRUE(LeftoverTempFiles().empty());
        ASSERT_TRUE(Set(h, Id(10), Id(4), 1033, bytes));
        EXPECT_TRUE(ResEditClose(h, false)); // released with the tree
        EXPECT_TRUE(LeftoverTempFiles().empty());
        EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing({{Id(10), Id(1), 1033, Pattern(50, 1)},
                                                            {Id(10), Id(2), 1033, Pattern(10, 3)},
                                                            {Id(10), Id(4), 1033, bytes}})));
    }
}

// Replacing a leaf's bytes twice gives the second bytes, wherever each was held.
TEST_F(TreeTest, ReplacingTwiceGivesTheSecondBytes) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {100, 200}, {100, 40000}, {40000, 100}, {40000, 50000}};
    for (const auto& [first, second] : cases) {
        SCOPED_TRACE(std::to_string(first) + " then " + std::to_string(second));
        TResEditHandle* h = OpenFile({{Id(10), Id(1), 1033, Pattern(50, 1)}});
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(Set(h, Id(10), Id(1), 1033, Pattern(first, 2)));
        ASSERT_TRUE(Set(h, Id(10), Id(1), 1033, Pattern(second, 3)));
        EXPECT_EQ(Get(h, Id(10), Id(1), 1033), Pattern(second, 3));
        ASSERT_TRUE(ResEditClose(h, false));
        EXPECT_TRUE(LeftoverTempFiles().empty());
        h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr);
        const std::uint8_t* data = nullptr;
        std::uint32_t size = 0;
        ASSERT_TRUE(ResEditGet(h, Id(10), Id(1), 1033, data, size));
        EXPECT_EQ(Bytes(data, data + size), Pattern(second, 3));
        EXPECT_TRUE(ResEditClose(h, true));
    }
}

// Removal takes the emptied directories with it, and only those; updates without data
// that find nothing to remove change nothing and succeed.
TEST_F(TreeTest, RemovalPrunes) {
    const std::vector<Resource> file = {
        {Id(10), Id(1), 1033, Pattern(4, 1)}, {Id(10), Id(2), 1033, Pattern(4, 2)},
        {Id(10), Id(2), 2052, Pattern(4, 3)}, {Id(24), Id(1), 1033, Pattern(4, 4)},
        {Id(5), Id(7), 0, Pattern(4, 5)},     {Id(5), Id(7), 1033, Pattern(4, 6)},
    };
    struct Case {
        const char* label;
        ResKey type, name;
        std::uint16_t lang;
        std::vector<int> gone; // indexes into file
    };
    const std::vector<Case> cases = {
        {"only language of the only name", Id(24), Id(1), 1033, {3}},
        {"one of two languages", Id(10), Id(2), 2052, {2}},
        {"only language of one of two names", Id(10), Id(1), 1033, {0}},
        {"missing name", Id(10), Id(3), 1033, {}},
        {"missing language", Id(10), Id(2), 3082, {}},
        {"missing language 0: the whole name", Id(10), Id(2), 0, {1, 2}},
        {"existing language 0: only that leaf", Id(5), Id(7), 0, {4}},
        {"missing name 0, language 0: the whole type", Id(10), Id(0), 0, {0, 1, 2}},
        {"missing text name, language 0", Id(10), Name(u"X"), 0, {}},
        {"missing type", Id(99), Id(1), 1033, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TResEditHandle* h = OpenFile(file);
        ASSERT_NE(h, nullptr);
        EXPECT_TRUE(ResEditUpdate(h, c.type, c.name, c.lang, nullptr, 0));
        ExpectCountsHold(h->root);
        std::vector<Resource> left;
        for (std::size_t i = 0; i < file.size(); ++i) {
            if (std::find(c.gone.begin(), c.gone.end(), static_cast<int>(i)) == c.gone.end()) {
                left.push_back(file[i]);
            }
        }
        auto got = Listing(*h->os, h->root);
        auto want = Listing(left);
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want);
        // No empty directory is left behind.
        for (const TResItem* t = h->root->child; t; t = t->next) {
            EXPECT_NE(t->child, nullptr);
            for (const TResItem* n = t->child; n; n = n->next) {
                EXPECT_NE(n->child, nullptr);
            }
        }
        ASSERT_TRUE(ResEditClose(h, false));
        EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing(left)));
    }
    // A pruned subtree takes its leaves' temporary files along.
    TResEditHandle* h = OpenFile(file);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(Set(h, Id(10), Id(2), 3082, Pattern(40000, 7)));
    EXPECT_EQ(LeftoverTempFiles().size(), 1u);
    ASSERT_TRUE(ResEditUpdate(h, Id(10), Id(0), 0, nullptr, 0));
    EXPECT_TRUE(LeftoverTempFiles().empty());
    EXPECT_TRUE(ResEditClose(h, true));
}

class FakeOs : public FaultyOs {
public:
    using FaultyOs::FaultyOs;
    std::u16string folder;
    std::u16string TempFolder() override { return folder; }
    std::uint32_t ProcessId() override { return 0xA1C; }
};

TEST_F(TreeTest, TemporaryFileNames) {
    FakeOs os(platform::SystemOs());
    TResItem item;
    char hex[32];
    std::snprintf(hex, sizeof hex, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&item)));
    const std::u16string number(hex, hex + std::strlen(hex));
    os.folder = u"C:\\Temp\\";
    EXPECT_EQ(ResEditTempName(os, &item), u"C:\\Temp\\$qiv$res$00000a1c$" + number + u"$");
    // Without a temporary folder the name lies in the current folder.
    os.folder.clear();
    EXPECT_EQ(ResEditTempName(os, &item), u"$qiv$res$00000a1c$" + number + u"$");
    EXPECT_EQ(ResEditTempName(os, nullptr), u"$qiv$res$00000a1c$0$");
    // The real one lies in the real temporary folder.
    platform::Os& real = platform::SystemOs();
    EXPECT_EQ(ResEditTempName(real, &item).rfind(real.TempFolder(), 0), 0u);
}

// A failing update (here: its temporary file cannot be made) reports false and leaves the
// tree as it was, old bytes and all.
TEST_F(TreeTest, FailedUpdateLeavesTreeUnchanged) {
    TResEditHandle* opened = OpenFile({{Id(10), Id(1), 1033, Pattern(50, 1)}});
    ASSERT_NE(opened, nullptr);
    ASSERT_TRUE(ResEditClose(opened, true));
    for (int failAt = 1; failAt <= 2; ++failAt) { // CreateNew, then WriteAt
        FaultyOs os(platform::SystemOs());
        TResEditHandle* h = ResEditOpen(os, U16("a.exe"), false);
        ASSERT_NE(h, nullptr);
        const auto before = Listing(os, h->root);
        os.calls = 0;
        os.failAt = failAt;
        EXPECT_FALSE(Set(h, Id(10), Id(1), 1033, Pattern(40000, 2)));
        os.calls = 0;
        os.failAt = failAt;
        EXPECT_FALSE(Set(h, Id(77), Name(u"NEW"), 1033, Pattern(40000, 3)));
        EXPECT_FALSE(ResEditLastMessage().empty());
        EXPECT_EQ(Listing(os, h->root), before);
        EXPECT_EQ(*ResFindEntry(h->root, Id(77)), nullptr);
        const std::uint8_t* data = nullptr;
        std::uint32_t size = 0;
        ASSERT_TRUE(ResEditGet(h, Id(10), Id(1), 1033, data, size));
        EXPECT_NE(data, nullptr); // still the file's own bytes
        EXPECT_TRUE(LeftoverTempFiles().empty());
        EXPECT_TRUE(ResEditClose(h, true));
    }
    // Keys the format cannot hold are refused.
    TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(Set(h, Id(10), Name(u""), 1033, Pattern(4, 1)));
    EXPECT_FALSE(Set(h, Name(std::u16string(70000, u'A')), Id(1), 1033, Pattern(4, 1)));
    EXPECT_EQ(Listing(*h->os, h->root).size(), 1u);
    EXPECT_TRUE(ResEditClose(h, true));
}

} // namespace
} // namespace resedit::testing
