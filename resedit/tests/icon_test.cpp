// Icon groups: replacement reusing the old ids, fresh ids, deletion, and bad icon files.
#include "resedit/tests/support.h"

#include <algorithm>
#include <functional>
#include <random>

namespace resedit::testing {
namespace {

std::vector<IconImage> Images(std::initializer_list<std::uint32_t> sizes, std::uint8_t seed = 1) {
    std::vector<IconImage> out;
    for (std::uint32_t size : sizes) {
        const std::uint8_t w = static_cast<std::uint8_t>(16 * (out.size() + 1));
        out.push_back({w, w, 1, 32, Pattern(size, static_cast<std::uint8_t>(seed + out.size()))});
    }
    return out;
}

// Resources of a group with the given images and ids, in one language.
std::vector<Resource> Group(const ResKey& name, std::uint16_t lang,
                            const std::vector<IconImage>& images,
                            const std::vector<std::uint16_t>& ids) {
    std::vector<Resource> out;
    for (std::size_t i = 0; i < images.size(); ++i) {
        out.push_back({Id(kTypeIcon), Id(ids[i]), lang, images[i].bytes});
    }
    out.push_back({Id(kTypeGroupIcon), name, lang, BuildGroupRecord(images, ids)});
    return out;
}

std::vector<Resource> Join(std::vector<Resource> a, const std::vector<Resource>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

class IconTest : public ScratchTest {
protected:
    TResEditHandle* OpenFile(const std::vector<Resource>& resources) {
        Write("a.exe", BuildPe(TypicalRecipe(true, resources)).bytes);
        TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
        EXPECT_NE(h, nullptr) << ResEditLastMessage();
        return h;
    }
    bool Replace(TResEditHandle* h, const ResKey& name, std::uint16_t lang,
                 const std::vector<IconImage>& images) {
        Write("new.ico", BuildIco(images));
        return ResEditReplaceIconGroup(h, name, lang, U16("new.ico"));
    }
    // The tree lists exactly these resources, and so does the file once written.
    void ExpectResources(TResEditHandle* h, const std::vector<Resource>& want) {
        EXPECT_EQ(Sorted(Listing(*h->os, h->root)), Sorted(Listing(want)));
        ASSERT_TRUE(ResEditClose(h, false)) << ResEditLastMessage();
        EXPECT_TRUE(LeftoverTempFiles().empty());
        EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing(want)));
    }
};

// The replacements of the group's edge cases: each row is the file's resources, the call,
// and the resources afterwards.
TEST_F(IconTest, Replacements) {
    const auto old3 = Images({40, 50, 60}, 10);
    const auto other = Images({70, 80}, 20);
    const auto new2 = Images({100, 110}, 30);
    const auto new3 = Images({100, 110, 120}, 30);
    const auto new4 = Images({100, 110, 120, 130}, 30);
    struct Case {
        const char* label;
        std::vector<Resource> file;
        ResKey group;
        std::vector<IconImage> images;
        std::vector<Resource> after;
    };
    const std::vector<Case> cases = {
        {"text \"106\" while only the id 106 exists: a new named group from id 50",
         Group(Id(106), 2052, old3, {1, 2, 3}), Name(u"106"), new2,
         Join(Group(Id(106), 2052, old3, {1, 2, 3}), Group(Name(u"106"), 2052, new2, {50, 51}))},
        {"more old images than new: the surplus goes", Group(Id(106), 2052, old3, {1, 2, 3}),
         Id(106), new2, Group(Id(106), 2052, new2, {1, 2})},
        {"as many as before: the same ids", Group(Id(106), 2052, old3, {4, 2, 9}), Id(106), new3,
         Group(Id(106), 2052, new3, {4, 2, 9})},
        {"fewer old images: fresh ids from the smallest old one, skipping used ones",
         Join(Group(Id(106), 2052, Images({40, 50}), {5, 7}), Group(Id(1), 2052, other, {6, 9})),
         Id(106), new4,
         Join(Group(Id(106), 2052, new4, {5, 7, 8, 10}), Group(Id(1), 2052, other, {6, 9}))},
        {"no images: a 6-byte record",
         Group(Id(106), 2052, old3, {1, 2, 3}),
         Id(106),
         {},
         Group(Id(106), 2052, {}, {})},
        {"no old group: ids from 50",
         {{Id(10), Id(1), 1033, Pattern(20, 1)}},
         Name(u"MAINICON"),
         new2,
         Join({{Id(10), Id(1), 1033, Pattern(20, 1)}},
              Group(Name(u"MAINICON"), 2052, new2, {50, 51}))},
        {"ids used in another language count as used; that language's images stay",
         Group(Id(7), 1033, other, {50, 52}), Id(106), new3,
         Join(Group(Id(7), 1033, other, {50, 52}), Group(Id(106), 2052, new3, {51, 53, 54}))},
        {"an old group without entries: ids from 50",
         {{Id(kTypeGroupIcon), Id(106), 2052, BuildGroupRecord({}, {})}},
         Id(106),
         new2,
         Group(Id(106), 2052, new2, {50, 51})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TResEditHandle* h = OpenFile(c.file);
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(Replace(h, c.group, 2052, c.images)) << ResEditLastMessage();
        ExpectResources(h, c.after);
    }
}

// Language 0 is a language like any other for a group: its images in other languages stay,
// and an image the group lists but that is missing removes nothing else.
TEST_F(IconTest, LanguageZeroGroupLeavesOtherLanguagesAlone) {
    const auto other = Images({70, 80}, 20);
    const auto new3 = Images({100, 110, 120}, 30);
    const std::vector<Resource> file =
        Join({{Id(kTypeIcon), Id(1), 1033, other[0].bytes},
              {Id(kTypeIcon), Id(2), 1033, other[1].bytes}},
             {{Id(kTypeGroupIcon), Id(106), 0, BuildGroupRecord(Images({40}), {0})}});
    TResEditHandle* h = OpenFile(file);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(Replace(h, Id(106), 0, new3)) << ResEditLastMessage();
    ExpectResources(h, Join({{Id(kTypeIcon), Id(1), 1033, other[0].bytes},
                             {Id(kTypeIcon), Id(2), 1033, other[1].bytes}},
                            Group(Id(106), 0, new3, {0, 3, 4})));

    h = OpenFile(file);
    ASSERT_TRUE(ResEditDeleteIconGroup(h, Id(106), 0));
    ExpectResources(h, {{Id(kTypeIcon), Id(1), 1033, other[0].bytes},
                        {Id(kTypeIcon), Id(2), 1033, other[1].bytes}});
}

// The named group precedes the id groups; the record copies the icon file's entries as
// they are, planes and bit count 0 included.
TEST_F(IconTest, RecordCopiesTheIconFileEntries) {
    std::vector<IconImage> images = Images({1128, 4264});
    images[0].planes = 0;
    images[0].bitCount = 0;
    images[1].width = 0; // 256 pixels
    images[1].height = 0;
    TResEditHandle* h = OpenFile(Group(Id(106), 2052, Images({10}), {1}));
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(Replace(h, Name(u"106"), 2052, images));
    const TResItem* type = *ResFindEntry(h->root, Id(kTypeGroupIcon));
    EXPECT_EQ(type->child->name, u"106");
    EXPECT_EQ(type->namedItems, 1u);
    std::vector<std::uint8_t> record;
    ASSERT_TRUE(ResEditGetBytes(h, Id(kTypeGroupIcon), Name(u"106"), 2052, record));
    const Bytes ico = BuildIco(images);
    ASSERT_EQ(record.size(), 6u + 14 * 2);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 6), Bytes(ico.begin(), ico.begin() + 6));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Bytes(record.begin() + 6 + 14 * i, record.begin() + 18 + 14 * i),
                  Bytes(ico.begin() + 6 + 16 * i, ico.begin() + 18 + 16 * i));
        EXPECT_EQ(Get16(record, 18 + 14 * i), 50 + i);
    }
    ExpectResources(h, Join(Group(Name(u"106"), 2052, images, {50, 51}),
                            Group(Id(106), 2052, Images({10}), {1})));
}

// The program's own icon: six images, the two above 32768 bytes pass through temporary
// files that are gone once the file is closed.
TEST_F(IconTest, LargeImagesPassThroughTemporaryFiles) {
    const auto images = Images({1128, 4264, 9640, 16936, 67624, 270376});
    TResEditHandle* h = OpenFile(Group(Id(106), 2052, Images({10, 20}), {1, 2}));
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(Replace(h, Id(106), 2052, images));
    EXPECT_EQ(LeftoverTempFiles().size(), 2u);
    ExpectResources(h, Group(Id(106), 2052, images, {1, 2, 3, 4, 5, 6}));
}

// Replacing the same group twice while the file is open: the second call finds the first
// one's record in memory and reuses its ids.
TEST_F(IconTest, ReplacingTwiceInOneHandle) {
    TResEditHandle* h = OpenFile({{Id(10), Id(1), 1033, Pattern(20, 1)}});
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(Replace(h, Name(u"106"), 2052, Images({100, 40000, 120}, 1)));
    const auto second = Images({200, 210}, 5);
    ASSERT_TRUE(Replace(h, Name(u"106"), 2052, second));
    ExpectResources(h, Join({{Id(10), Id(1), 1033, Pattern(20, 1)}},
                            Group(Name(u"106"), 2052, second, {50, 51})));
}

TEST_F(IconTest, DeleteGroup) {
    const auto images = Images({40, 50});
    const auto file =
        Join(Group(Id(106), 2052, images, {1, 2}), Group(Id(106), 1033, images, {1, 2}));
    TResEditHandle* h = OpenFile(file);
    ASSERT_NE(h, nullptr);
    // Not there: true, nothing changes.
    EXPECT_TRUE(ResEditDeleteIconGroup(h, Name(u"106"), 2052));
    EXPECT_TRUE(ResEditDeleteIconGroup(h, Id(106), 3082));
    EXPECT_EQ(Sorted(Listing(*h->os, h->root)), Sorted(Listing(file)));
    const std::uint8_t* data = nullptr;
    EXPECT_TRUE(ResEditGetIconGroup(h, Id(106), 2052, data));
    EXPECT_NE(data, nullptr);
    // The group and its images go in that language only.
    EXPECT_TRUE(ResEditDeleteIconGroup(h, Id(106), 2052));
    EXPECT_FALSE(ResEditGetIconGroup(h, Id(106), 2052, data));
    ExpectResources(h, Group(Id(106), 1033, images, {1, 2}));
}

TEST_F(IconTest, NextIconId) {
    TResEditHandle* h = OpenFile(Join(Group(Id(1), 2052, Images({4, 4, 4}), {50, 51, 53}),
                                      {{Id(kTypeIcon), Name(u"X"), 1033, Pattern(4, 1)}}));
    ASSERT_NE(h, nullptr);
    std::int32_t start = 50;
    EXPECT_EQ(ResEditNextIconId(h, start), 52);
    EXPECT_EQ(start, 52);
    start = 53;
    EXPECT_EQ(ResEditNextIconId(h, start), 54);
    start = 10;
    EXPECT_EQ(ResEditNextIconId(h, start), 10);
    EXPECT_TRUE(ResEditClose(h, true));
    // Without icon images the start itself.
    h = OpenFile({{Id(10), Id(1), 1033, Pattern(20, 1)}});
    ASSERT_NE(h, nullptr);
    start = 77;
    EXPECT_EQ(ResEditNextIconId(h, start), 77);
    EXPECT_TRUE(ResEditClose(h, true));
}

// A bad icon file makes the replacement fail with the tree as it was.
TEST_F(IconTest, BadIconFilesLeaveTheTreeUnchanged) {
    Bytes good = BuildIco(Images({40, 50}));
    struct Case {
        const char* label;
        std::function<void(Bytes&)> bend;
    };
    const std::vector<Case> cases = {
        {"empty", [](Bytes& b) { b.clear(); }},
        {"shorter than its header", [](Bytes& b) { b.resize(4); }},
        {"directory cut short", [](Bytes& b) { b.resize(6 + 16 + 8); }},
        {"count beyond the directory", [](Bytes& b) { Put16(b, 4, 9); }},
        {"image offset past the end",
         [](Bytes& b) { Put32(b, 6 + 16 + 12, static_cast<std::uint32_t>(b.size()) + 1); }},
        {"last image running past the end", [](Bytes& b) { Put32(b, 6 + 16 + 8, 51); }},
        {"offset and size wrapping around",
         [](Bytes& b) {
             Put32(b, 6 + 12, 0xFFFFFFF0);
             Put32(b, 6 + 8, 0x20);
         }},
    };
    const auto file = Group(Id(106), 2052, Images({10, 20, 30}), {1, 2, 3});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TResEditHandle* h = OpenFile(file);
        ASSERT_NE(h, nullptr);
        Bytes ico = good;
        c.bend(ico);
        Write("bad.ico", ico);
        EXPECT_FALSE(ResEditReplaceIconGroup(h, Id(106), 2052, U16("bad.ico")));
        EXPECT_FALSE(ResEditLastMessage().empty());
        EXPECT_EQ(Sorted(Listing(*h->os, h->root)), Sorted(Listing(file)));
        EXPECT_TRUE(LeftoverTempFiles().empty());
        EXPECT_TRUE(ResEditClose(h, true));
    }
    TResEditHandle* h = OpenFile(file);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(ResEditReplaceIconGroup(h, Id(106), 2052, U16("missing.ico")));
    EXPECT_EQ(Sorted(Listing(*h->os, h->root)), Sorted(Listing(file)));
    EXPECT_TRUE(ResEditClose(h, true));
}

// The replacement makes its copies before it touches the tree, then changes it in one go;
// the result is what the step-by-step procedure gives (delete the group, then store each
// image under an old id or the next free one, then the record), over many random trees.
TEST_F(IconTest, SameResultAsStepByStep) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        std::vector<Resource> file;
        std::vector<std::uint16_t> taken;
        auto freshId = [&] {
            for (;;) {
                const std::uint16_t id = static_cast<std::uint16_t>(45 + rng() % 20);
                if (std::find(taken.begin(), taken.end(), id) == taken.end()) {
                    taken.push_back(id);
                    return id;
                }
            }
        };
        const std::uint16_t langs[] = {2052, 1033};
        const std::size_t oldCount = rng() % 4;
        std::vector<std::uint16_t> oldIds;
        for (std::size_t i = 0; i < oldCount; ++i) {
            oldIds.push_back(freshId());
        }
        const bool hasGroup = rng() % 4 != 0;
        if (hasGroup) {
            std::vector<IconImage> olds;
            for (std::size_t i = 0; i < oldCount; ++i) {
                olds.push_back({16, 16, 1, 32, Pattern(8 + i, static_cast<std::uint8_t>(i))});
            }
            file = Group(Id(106), 2052, olds, oldIds);
        }
        for (std::size_t i = rng() % 6; i > 0; --i) { // other images in either language
            file.push_back({Id(kTypeIcon), Id(freshId()), langs[rng() % 2], Pattern(12, 7)});
        }
        std::vector<IconImage> images;
        for (std::size_t i = rng() % 6; i > 0; --i) {
            images.push_back({32, 32, 1, 32, Pattern(20 + i, static_cast<std::uint8_t>(9 + i))});
        }
        Write("new.ico", BuildIco(images));
        const Bytes pe = BuildPe(TypicalRecipe(false, file)).bytes;

        Write("a.exe", pe);
        TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(ResEditReplaceIconGroup(h, Id(106), 2052, U16("new.ico")));
        const auto got = Listing(*h->os, h->root);
        EXPECT_TRUE(ResEditClose(h, true));

        Write("a.exe", pe);
        h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr);
        std::vector<std::int32_t> ids;
        std::int32_t start = 50;
        const std::uint8_t* record = nullptr;
        if (ResEditGetIconGroup(h, Id(106), 2052, record)) {
            std::int32_t smallest = 2147483647;
            for (std::uint16_t i = 0; i < Get16(Bytes(record, record + 6), 4); ++i) {
                ids.push_back(record[6 + 14 * i + 12] | record[6 + 14 * i + 13] << 8);
                smallest = std::min(smallest, ids.back());
            }
            start = ids.empty() ? 50 : smallest;
        }
        ASSERT_TRUE(ResEditDeleteIconGroup(h, Id(106), 2052));
        Bytes group = BuildGroupRecord(images, std::vector<std::uint16_t>(images.size()));
        for (std::size_t i = 0; i < images.size(); ++i) {
            const std::int32_t id = i < ids.size() ? ids[i] : ResEditNextIconId(h, start);
            Put16(group, 6 + 14 * i + 12, static_cast<std::uint16_t>(id));
            ASSERT_TRUE(ResEditUpdate(h, Id(kTypeIcon), Id(static_cast<std::uint16_t>(id)), 2052,
                                      images[i].bytes.data(),
                                      static_cast<std::uint32_t>(images[i].bytes.size())));
        }
        ASSERT_TRUE(ResEditUpdate(h, Id(kTypeGroupIcon), Id(106), 2052, group.data(),
                                  static_cast<std::uint32_t>(group.size())));
        EXPECT_EQ(got, Listing(*h->os, h->root)); // same resources in the same order
        EXPECT_TRUE(ResEditClose(h, true));
    }
}

} // namespace
} // namespace resedit::testing
