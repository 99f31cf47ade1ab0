// Opening files: the tree read from well-formed PE32 and PE32+ files, and every kind of
// malformed file refused without being read past its end or changed.
#include "resedit/tests/support.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <ostream>

namespace resedit::testing {
namespace {

using platform::error::kBadExeFormat;
using platform::error::kFileNotFound;

std::vector<Resource> SomeResources() {
    return {
        {ResKey::FromId(3), ResKey::FromId(1), 2052, Pattern(40, 1)},
        {ResKey::FromId(3), ResKey::FromId(2), 2052, Pattern(1000, 2)},
        {ResKey::FromId(14), ResKey::FromName(u"106"), 2052, Pattern(34, 3)},
        {ResKey::FromId(14), ResKey::FromId(106), 1033, Pattern(20, 4)},
        {ResKey::FromName(u"PATCHDATA"), ResKey::FromId(7), 1033, Pattern(5, 5)},
        {ResKey::FromId(24), ResKey::FromId(1), 1033, Pattern(300, 6)},
    };
}

class OpenTest : public ScratchTest {};

TEST_F(OpenTest, ReadsTheTreeOfPe32AndPe32Plus) {
    for (bool plus : {false, true}) {
        const PeFile pe = BuildPe(TypicalRecipe(plus, SomeResources()));
        Write("a.exe", pe.bytes);
        ASSERT_TRUE(OraclesAccept(PathOf("a.exe"), Listing(SomeResources())));
        TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr) << ResEditLastMessage();
        auto got = Listing(*h->os, h->root);
        auto want = Listing(SomeResources());
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want);
        // Named children first, counted right; directory fields as in the file.
        const TResItem* type14 = *ResFindEntry(h->root, ResKey::FromId(14));
        ASSERT_NE(type14, nullptr);
        EXPECT_EQ(type14->namedItems, 1u);
        EXPECT_EQ(type14->idItems, 1u);
        EXPECT_EQ(type14->child->name, u"106");
        EXPECT_EQ(type14->time, 0x5F5E0FF0u);
        EXPECT_EQ(type14->majorVer, 4);
        EXPECT_EQ(h->root->namedItems, 1u);
        EXPECT_EQ(h->peHeader, h->view.base + pe.peOffset);
        EXPECT_TRUE(ResEditClose(h, true));
        EXPECT_EQ(Read("a.exe"), pe.bytes);
    }
}

} // namespace
} // namespace resedit::testing

namespace resedit::testing {
namespace {

namespace pe = binary::pe;

constexpr std::uint32_t kImageSize = 0x400;

// A resource section image made by hand: directory tables at given offsets.
struct Image {
    Bytes b = Bytes(kImageSize, 0);
    void Dir(std::uint32_t at, std::uint16_t named, std::uint16_t ids) {
        Put16(b, at + pe::kDirNamedEntries, named);
        Put16(b, at + pe::kDirIdEntries, ids);
    }
    void Entry(std::uint32_t at, std::uint32_t name, std::uint32_t offset) {
        Put32(b, at + pe::kEntryName, name);
        Put32(b, at + pe::kEntryOffsetToData, offset);
    }
};

// Three good levels: the root table, the type 3 table, the name 1 table, each with one entry
// right behind it, then a data entry and 16 bytes of data.
constexpr std::uint32_t kRootDir = 0;
constexpr std::uint32_t kTypeDir = kRootDir + pe::kDirTableSize + pe::kEntrySize;
constexpr std::uint32_t kNameDir = kTypeDir + pe::kDirTableSize + pe::kEntrySize;
constexpr std::uint32_t kDataEntry = kNameDir + pe::kDirTableSize + pe::kEntrySize;
constexpr std::uint32_t kData = kDataEntry + pe::kDataEntrySize;
constexpr std::uint32_t kSubdir = pe::kSubdirectoryFlag;

// The entry of a table with one entry.
constexpr std::uint32_t EntryOf(std::uint32_t dir) {
    return dir + pe::kDirTableSize;
}

Image GoodImage(std::uint32_t va) {
    Image im;
    im.Dir(kRootDir, 0, 1);
    im.Entry(EntryOf(kRootDir), 3, kSubdir | kTypeDir);
    im.Dir(kTypeDir, 0, 1);
    im.Entry(EntryOf(kTypeDir), 1, kSubdir | kNameDir);
    im.Dir(kNameDir, 0, 1);
    im.Entry(EntryOf(kNameDir), 2052, kDataEntry);
    Put32(im.b, kDataEntry + pe::kDataOffsetToData, va + kData);
    Put32(im.b, kDataEntry + pe::kDataSize, 16);
    return im;
}

constexpr std::uint32_t kResourceVa = 0x3000; // of TypicalRecipe's .rsrc

struct BadCase {
    const char* label;
    std::function<void(Image&)> image;         // bends the resource section
    std::function<void(PeFile&, Bytes&)> file; // bends the file
    std::uint32_t error;
};

// How CTest shows a case: its label.
void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.label;
}

const std::vector<BadCase>& BadCases() {
    static const std::vector<BadCase> cases = {
        {"no MZ", nullptr, [](PeFile&, Bytes& b) { b[0] = 'X'; }, kBadExeFormat},
        {"PE header offset outside the file", nullptr,
         [](PeFile&, Bytes& b) { Put32(b, pe::kDosPeOffset, 0xFFFFFFF0); }, kBadExeFormat},
        {"no PE signature", nullptr, [](PeFile& f, Bytes& b) { b[f.peOffset + 1] = 'X'; },
         kBadExeFormat},
        {"cut inside the file header", nullptr,
         [](PeFile& f, Bytes& b) { b.resize(f.peOffset + pe::kSizeOfOptionalHeader); },
         kBadExeFormat},
        {"cut after the optional header's magic", nullptr,
         [](PeFile& f, Bytes& b) { b.resize(OptionalHeader(f) + 6); }, kBadExeFormat},
        {"cut inside the optional header", nullptr,
         [](PeFile& f, Bytes& b) { b.resize(OptionalHeader(f) + pe::kDataDirectoriesPe32 - 20); },
         kBadExeFormat},
        {"unknown optional header magic", nullptr,
         [](PeFile& f, Bytes& b) { Put16(b, OptionalHeader(f) + pe::kMagic, 0x107); },
         kBadExeFormat},
        {"section table outside the file", nullptr,
         [](PeFile& f, Bytes& b) { Put16(b, f.peOffset + pe::kNumberOfSections, 0xFFFF); },
         kBadExeFormat},
        {"optional header size past the file", nullptr,
         [](PeFile& f, Bytes& b) {
             Put16(b, f.peOffset + pe::kSizeOfOptionalHeader, 0xFFFF);
             b.resize(0x1000);
         },
         kBadExeFormat},
        {"no resource directory", nullptr,
         [](PeFile& f, Bytes& b) { Put32(b, DataDirectory(f, pe::kDirResource), 0); },
         kFileNotFound},
        {"resource directory inside a section, not at its start", nullptr,
         [](PeFile& f, Bytes& b) {
             Put32(b, DataDirectory(f, pe::kDirResource), kResourceVa + 0x10);
         },
         kFileNotFound},
        {"too few data directories for resources", nullptr,
         [](PeFile& f, Bytes& b) {
             Put32(b, OptionalHeader(f) + pe::kNumberOfRvaAndSizesPe32, pe::kDirResource);
         },
         kFileNotFound},
        {"resource section outside the file", nullptr,
         [](PeFile& f, Bytes& b) {
             Put32(b, SectionHeader(f, f.resourceSection) + pe::kSecPointerToRawData, 0x7FFFFFF0);
         },
         kBadExeFormat},
        {"root entries outside the section", [](Image& im) { im.Dir(kRootDir, 0, 0xFFFF); },
         nullptr, kBadExeFormat},
        {"subdirectory outside the section",
         [](Image& im) { im.Entry(EntryOf(kRootDir), 3, kSubdir | 0x7FFFFF00); }, nullptr,
         kBadExeFormat},
        {"directory that refers back to the root",
         [](Image& im) { im.Entry(EntryOf(kTypeDir), 1, kSubdir | kRootDir); }, nullptr,
         kBadExeFormat},
        {"directory that refers to itself",
         [](Image& im) { im.Entry(EntryOf(kTypeDir), 1, kSubdir | kTypeDir); }, nullptr,
         kBadExeFormat},
        {"data entry outside the section",
         [](Image& im) { im.Entry(EntryOf(kNameDir), 2052, kImageSize - pe::kDataEntrySize / 2); },
         nullptr, kBadExeFormat},
        {"data before the section",
         [](Image& im) { Put32(im.b, kDataEntry + pe::kDataOffsetToData, kResourceVa - 4); },
         nullptr, kBadExeFormat},
        {"data past the section's end",
         [](Image& im) { Put32(im.b, kDataEntry + pe::kDataSize, kImageSize); }, nullptr,
         kBadExeFormat},
        {"data in the headers, before every section",
         [](Image& im) { Put32(im.b, kDataEntry + pe::kDataOffsetToData, 0x10); }, nullptr,
         kBadExeFormat},
        {"data past the end of the section it starts in",
         [](Image& im) {
             Put32(im.b, kDataEntry + pe::kDataOffsetToData, 0x2100);
             Put32(im.b, kDataEntry + pe::kDataSize, 0x200);
         },
         nullptr, kBadExeFormat},
        {"data size wrapping around",
         [](Image& im) { Put32(im.b, kDataEntry + pe::kDataSize, 0xFFFFFFF0); }, nullptr,
         kBadExeFormat},
        {"name outside the section",
         [](Image& im) {
             im.Dir(kTypeDir, 1, 0);
             im.Entry(EntryOf(kTypeDir), pe::kNameFlag | 0x10000, kSubdir | kNameDir);
         },
         nullptr, kBadExeFormat},
        {"name running past the section",
         [](Image& im) {
             im.Dir(kTypeDir, 1, 0);
             im.Entry(EntryOf(kTypeDir), pe::kNameFlag | (kImageSize - 2), kSubdir | kNameDir);
             Put16(im.b, kImageSize - 2, 5);
         },
         nullptr, kBadExeFormat},
        {"id entry counted as named", [](Image& im) { im.Dir(kTypeDir, 1, 0); }, nullptr,
         kBadExeFormat},
        {"named entry counted as id",
         [](Image& im) {
             Put16(im.b, 0x200, 1);
             Put16(im.b, 0x202, 'A');
             im.Entry(EntryOf(kTypeDir), pe::kNameFlag | 0x200, kSubdir | kNameDir);
         },
         nullptr, kBadExeFormat},
        {"directory that refers back to its grandparent",
         [](Image& im) { im.Entry(EntryOf(kNameDir), 2052, kSubdir | kRootDir); }, nullptr,
         kBadExeFormat},
        {"directories nested 40 deep",
         [](Image& im) {
             im.b.assign(kImageSize, 0);
             const std::uint32_t step = pe::kDirTableSize + pe::kEntrySize;
             for (std::uint32_t i = 0; i < 40; ++i) {
                 im.Dir(step * i, 0, 1);
                 im.Entry(EntryOf(step * i), 1, kSubdir | (step * (i + 1)));
             }
             im.Dir(step * 40, 0, 0);
         },
         nullptr, kBadExeFormat},
    };
    return cases;
}

// The case's label as a test name: its words, capitalised and joined.
std::string CaseName(const ::testing::TestParamInfo<BadCase>& info) {
    std::string name;
    bool wordStart = true;
    for (const char* c = info.param.label; *c; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) {
            name +=
                wordStart ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
            wordStart = false;
        } else {
            wordStart = *c != '\'';
        }
    }
    return name;
}

class MalformedFileTest : public ScratchTest, public ::testing::WithParamInterface<BadCase> {};

// Refused with the reason in the last-error code and in words with the place in the file,
// without being read past its end or changed, and released: the file can be opened
// exclusively again.
TEST_P(MalformedFileTest, IsRefusedUntouched) {
    const BadCase& c = GetParam();
    PeRecipe recipe = TypicalRecipe(false, {});
    Image im = GoodImage(kResourceVa);
    if (c.image) {
        c.image(im);
    }
    recipe.resourceImage = im.b;
    PeFile pe = BuildPe(recipe);
    ASSERT_EQ(pe.resourceVa, kResourceVa);
    if (c.file) {
        c.file(pe, pe.bytes);
    }
    Write("bad.exe", pe.bytes);
    platform::Os& os = platform::SystemOs();
    os.SetLastError(0);
    EXPECT_EQ(ResEditOpen(U16("bad.exe"), false), nullptr);
    EXPECT_EQ(os.LastError(), c.error);
    EXPECT_NE(ResEditLastMessage().find(" (offset 0x"), std::string::npos)
        << "a refusal says why and where: " << ResEditLastMessage();
    // Starting from an empty tree skips the directory, not the headers.
    TResEditHandle* fresh = ResEditOpen(U16("bad.exe"), true);
    EXPECT_EQ(fresh == nullptr, c.image == nullptr);
    EXPECT_EQ(ResEditLastMessage().empty(), fresh != nullptr);
    EXPECT_TRUE(ResEditClose(fresh, true));
    EXPECT_EQ(Read("bad.exe"), pe.bytes);
    platform::FileHandle f =
        os.OpenExisting(U16("bad.exe"), platform::Access::ReadWrite, platform::Share::Exclusive);
    EXPECT_TRUE(f.IsValid());
    os.Close(f);
}

INSTANTIATE_TEST_SUITE_P(OpenTest, MalformedFileTest, ::testing::ValuesIn(BadCases()), CaseName);

// The good image itself opens; the open clears the message an earlier refusal left.
TEST_F(OpenTest, TheGoodHandMadeImageOpens) {
    PeRecipe recipe = TypicalRecipe(false, {});
    recipe.resourceImage = GoodImage(kResourceVa).b;
    Write("good.exe", BuildPe(recipe).bytes);
    EXPECT_EQ(ResEditOpen(U16("missing.exe"), false), nullptr);
    EXPECT_FALSE(ResEditLastMessage().empty());
    TResEditHandle* h = ResEditOpen(U16("good.exe"), false);
    ASSERT_NE(h, nullptr) << ResEditLastMessage();
    EXPECT_TRUE(ResEditLastMessage().empty());
    EXPECT_EQ(Listing(*h->os, h->root).size(), 1u);
    EXPECT_TRUE(ResEditClose(h, true));
}

// Every leaf's bytes in a range of their own.
void ExpectNoSharedBytes(const TResItem* root) {
    std::vector<std::pair<const std::uint8_t*, std::uint32_t>> ranges;
    std::function<void(const TResItem*)> walk = [&](const TResItem* dir) {
        for (const TResItem* c = dir->child; c; c = c->next) {
            if (c->isDir) {
                walk(c);
            } else {
                ranges.emplace_back(c->data, c->size);
            }
        }
    };
    walk(root);
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        EXPECT_LE(ranges[i - 1].first + ranges[i - 1].second, ranges[i].first);
    }
}

// Directories and data entries that several entries refer to, data that overlaps, and a name
// of zero length are legal: each place that refers to a shared part gets a copy of its own,
// the writer writes every copy, and the icon group whose images share a directory is replaced.
TEST_F(OpenTest, SharedPartsAreReadIntoEachPlace) {
    const SharedSection shared = BuildSharedResourceSection(kResourceVa);
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        PeRecipe recipe = TypicalRecipe(plus, {});
        recipe.resourceImage = shared.bytes;
        const PeFile pe = BuildPe(recipe);
        ASSERT_EQ(pe.resourceVa, kResourceVa);
        Write("a.exe", pe.bytes);
        EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing(shared.expanded)));

        TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr) << ResEditLastMessage();
        EXPECT_EQ(Listing(*h->os, h->root), Listing(shared.expanded));
        // The name of zero length is a named entry: the empty text finds it, the id 0 not.
        TPResItem type10 = *ResFindEntry(h->root, ResKey::FromId(10));
        ASSERT_NE(type10, nullptr);
        EXPECT_EQ(type10->namedItems, 1u);
        EXPECT_TRUE(type10->child->named);
        EXPECT_EQ(*ResFindEntry(type10, ResKey::FromName(u"")), type10->child);
        EXPECT_EQ(*ResFindEntry(type10, ResKey::FromId(0)), nullptr);
        EXPECT_TRUE(ResEditClose(h, true));
        EXPECT_EQ(Read("a.exe"), pe.bytes);

        // Written back unchanged: every copy in a place of its own, names as they were.
        h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr);
        ASSERT_TRUE(ResEditClose(h, false)) << ResEditLastMessage();
        EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing(shared.expanded)));
        h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr) << ResEditLastMessage();
        EXPECT_EQ(Listing(*h->os, h->root), Listing(shared.expanded));
        ExpectNoSharedBytes(h->root);
        EXPECT_TRUE((*ResFindEntry(h->root, ResKey::FromId(256)))->child->named);
        EXPECT_TRUE(ResEditClose(h, true));

        // The patch run's change on the original: the group's images, which shared one
        // directory, get one new image each; changing one copy leaves the other.
        Write("a.exe", pe.bytes);
        const std::vector<IconImage> images = {{16, 16, 1, 32, Pattern(300, 7)},
                                               {32, 32, 1, 32, Pattern(900, 8)}};
        Write("new.ico", BuildIco(images));
        h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr);
        EXPECT_TRUE(ResEditReplaceIconGroup(h, ResKey::FromName(u"106"), 2052, U16("new.ico")));
        const Bytes other = Pattern(5, 9);
        EXPECT_TRUE(ResEditUpdate(h, ResKey::FromId(256), ResKey::FromId(7), 1033, other.data(),
                                  static_cast<std::uint32_t>(other.size())));
        ASSERT_TRUE(ResEditClose(h, false)) << ResEditLastMessage();
        std::vector<Resource> want = shared.expanded;
        for (Resource& r : want) {
            if (r.type == ResKey::FromId(3)) {
                r.bytes = images[r.name.Id() - 1].bytes;
            } else if (r.type == ResKey::FromId(14)) {
                r.bytes = BuildGroupRecord(images, {1, 2});
            } else if (r.type == ResKey::FromId(256) && r.name == ResKey::FromId(7)) {
                r.bytes = other;
            }
        }
        EXPECT_TRUE(OraclesAccept(PathOf("a.exe"), Listing(want)));
        h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(Listing(*h->os, h->root), Listing(want));
        EXPECT_TRUE(ResEditClose(h, true));
    }
}

// A chain of directories, each with two entries that both refer to the next one, describes
// 2^levels paths. It opens while the copies stay within what a section could hold (2^20
// entries, a written section of 2 GB) and is refused beyond, without working through every
// path first.
TEST_F(OpenTest, SharingIsBoundedByWhatASectionCouldHold) {
    struct Case {
        const char* label;
        int levels;
        std::uint32_t leafSize;
        bool opens;
    };
    const Case cases[] = {
        {"2^20 - 2 entries", 19, 16, true},
        {"2^21 - 2 entries", 20, 16, false},
        {"2^30 paths", 30, 16, false},
        {"2^15 leaves of 60 KB, 2.01 GB", 15, 0xF000, true},
        {"2^16 leaves of 60 KB, 4.03 GB", 16, 0xF000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Image im;
        im.b.assign(0x10000, 0);
        const std::uint32_t dataEntry = 32 * static_cast<std::uint32_t>(c.levels);
        for (int i = 0; i < c.levels; ++i) {
            const std::uint32_t at = 32 * static_cast<std::uint32_t>(i);
            const std::uint32_t next = i + 1 == c.levels ? dataEntry : 0x80000000 | (at + 32);
            im.Dir(at, 0, 2);
            im.Entry(at + 16, 1, next);
            im.Entry(at + 24, 2, next);
        }
        Put32(im.b, dataEntry, kResourceVa + 0x1000);
        Put32(im.b, dataEntry + 4, c.leafSize);
        PeRecipe recipe = TypicalRecipe(false, {});
        recipe.resourceImage = im.b;
        const PeFile pe = BuildPe(recipe);
        Write("a.exe", pe.bytes);
        platform::Os& os = platform::SystemOs();
        TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
        EXPECT_EQ(h != nullptr, c.opens) << ResEditLastMessage();
        if (h) {
            std::size_t leaves = 0;
            std::function<void(const TResItem*)> count = [&](const TResItem* d) {
                for (const TResItem* i = d->child; i; i = i->next) {
                    i->isDir ? count(i) : void(++leaves);
                }
            };
            count(h->root);
            EXPECT_EQ(leaves, std::size_t{1} << c.levels);
            EXPECT_TRUE(ResEditClose(h, true));
        } else {
            EXPECT_EQ(os.LastError(), kBadExeFormat);
        }
        EXPECT_EQ(Read("a.exe"), pe.bytes);
    }
}

TEST_F(OpenTest, ReportsWhyAFileCannotBeOpened) {
    platform::Os& os = platform::SystemOs();
    const PeFile pe = BuildPe(TypicalRecipe(false, SomeResources()));
    Write("a.exe", pe.bytes);
    Write("empty.exe", {});

    EXPECT_EQ(ResEditOpen(U16("missing.exe"), false), nullptr);
    EXPECT_EQ(os.LastError(), kFileNotFound);
    EXPECT_EQ(ResEditOpen(U16("empty.exe"), false), nullptr);
    EXPECT_EQ(os.LastError(), platform::error::kFileInvalid);
    // While one handle holds the file, nobody else can open it.
    TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ResEditOpen(U16("a.exe"), false), nullptr);
    EXPECT_EQ(os.LastError(), platform::error::kSharingViolation);
    EXPECT_FALSE(os.OpenExisting(U16("a.exe"), platform::Access::Read, platform::Share::ReadWrite)
                     .IsValid());
    EXPECT_TRUE(ResEditClose(h, true));
    EXPECT_TRUE(ResEditClose(nullptr, false));
    EXPECT_EQ(Read("a.exe"), pe.bytes);
}

} // namespace
} // namespace resedit::testing
