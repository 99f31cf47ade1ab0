// The editor's temporary files lie in a folder that other programs of the user may write to,
// under names they can predict. They are only ever created anew: whatever another program put
// under such a name (a file, a hard or symbolic link to a file of its choice) is passed over,
// never opened, changed or deleted, and the edit goes on under the next free name.
#include "resedit/tests/support.h"

#include <algorithm>
#include <functional>
#include <set>

namespace resedit::testing {
namespace {

using platform::FileHandle;

// Through the fault-injecting layer: the temporary folder is one of the test's, and every path
// the editor opens, creates or deletes is recorded.
class RecordingOs : public FaultyOs {
public:
    using FaultyOs::FaultyOs;
    std::u16string folder;
    std::vector<std::u16string> openedOrReplaced, triedNew, deleted;
    // Called with each path before the editor first tries to create it.
    std::function<void(const std::u16string&)> beforeFirstTry;

    std::u16string TempFolder() override { return folder; }
    FileHandle OpenExisting(std::u16string_view path, platform::Access access,
                            platform::Share share) override {
        openedOrReplaced.emplace_back(path);
        return FaultyOs::OpenExisting(path, access, share);
    }
    FileHandle CreateAlways(std::u16string_view path) override {
        openedOrReplaced.emplace_back(path);
        return FaultyOs::CreateAlways(path);
    }
    FileHandle CreateNew(std::u16string_view path) override {
        const std::u16string p(path);
        if (beforeFirstTry && std::find(triedNew.begin(), triedNew.end(), p) == triedNew.end()) {
            beforeFirstTry(p);
        }
        triedNew.push_back(p);
        return FaultyOs::CreateNew(path);
    }
    bool Delete(std::u16string_view path) override {
        deleted.emplace_back(path);
        return FaultyOs::Delete(path);
    }
};

class TempFileTest : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        std::filesystem::create_directory(PathOf("tmp"));
        os.folder = (PathOf("tmp") / "").u16string();
        Write("a.exe",
              BuildPe(TypicalRecipe(false, {{Id(10), Id(1), 1033, Pattern(50, 1)}})).bytes);
    }

    // What the temporary folder holds: name and bytes of every file.
    std::vector<std::pair<std::string, Bytes>> TempFolderFiles() const {
        std::vector<std::pair<std::string, Bytes>> out;
        for (const auto& entry : std::filesystem::directory_iterator(PathOf("tmp"))) {
            out.emplace_back(entry.path().filename().string(), ReadFileBytes(entry.path()));
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    RecordingOs os{platform::SystemOs()};
};

TEST_F(TempFileTest, NamesHeldByOthersArePassedOverAndKeepEveryByte) {
    TResEditHandle* h = ResEditOpen(os, U16("a.exe"), false);
    ASSERT_NE(h, nullptr) << ResEditLastMessage();
    Write("victim1.bin", Pattern(70000, 8));
    Write("victim2.bin", Pattern(300, 9));
    // Prepared in advance under the names the editor states. For the new section, the root's
    // name: a symbolic link where the system lets anyone make one, else a file.
    const std::filesystem::path rootName = ResEditTempName(os, h->root);
#ifdef _WIN32
    WriteFileBytes(rootName, Pattern(300, 9));
#else
    std::filesystem::create_symlink(PathOf("victim2.bin"), rootName);
#endif
    // For the new leaf's bytes (its name is known only once the leaf exists): its name, a
    // file, and the next one, a hard link to a file elsewhere.
    std::filesystem::path leafName, leafNext;
    os.beforeFirstTry = [&](const std::u16string& path) {
        if (leafName.empty() && path != rootName.u16string()) {
            leafName = path;
            leafNext = path + u"1";
            WriteFileBytes(leafName, Pattern(1000, 7));
            std::filesystem::create_hard_link(PathOf("victim1.bin"), leafNext);
        }
    };
    const Bytes bytes = Pattern(40000, 3);
    ASSERT_TRUE(ResEditUpdate(h, Id(10), Id(1), 1033, bytes.data(), 40000)) << ResEditLastMessage();
    ASSERT_FALSE(leafName.empty());
    const TResItem* leaf = ResFindLeaf(*ResFindEntry(*ResFindEntry(h->root, Id(10)), Id(1)), 1033);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leafName.u16string(), ResEditTempName(os, leaf));
    // The first free name after the stated one: the stated name with "2" appended.
    EXPECT_EQ(leaf->fileName, leafName.u16string() + u"2");
    const auto before = TempFolderFiles();
    ASSERT_TRUE(ResEditClose(h, false)) << ResEditLastMessage();

    // The edit is in the file; whatever was held keeps every byte, and of the files in the
    // temporary folder only the editor's own (the leaf's) is gone.
    TResEditHandle* check = ResEditOpen(U16("a.exe"), false);
    ASSERT_NE(check, nullptr);
    std::vector<std::uint8_t> got;
    ASSERT_TRUE(ResEditGetBytes(check, Id(10), Id(1), 1033, got));
    EXPECT_TRUE(got == bytes);
    EXPECT_TRUE(ResEditClose(check, true));
    const auto after = TempFolderFiles();
    EXPECT_EQ(after.size() + 1, before.size());
    for (const auto& file : after) {
        EXPECT_NE(std::find(before.begin(), before.end(), file), before.end()) << file.first;
    }
    EXPECT_EQ(Read("victim1.bin"), Pattern(70000, 8));
    EXPECT_EQ(Read("victim2.bin"), Pattern(300, 9));
    // A held name was only ever tried as a new file: never opened, replaced or deleted.
    for (const std::u16string& path :
         {leafName.u16string(), leafNext.u16string(), rootName.u16string()}) {
        EXPECT_EQ(std::count(os.openedOrReplaced.begin(), os.openedOrReplaced.end(), path), 0);
        EXPECT_EQ(std::count(os.deleted.begin(), os.deleted.end(), path), 0);
        EXPECT_EQ(std::count(os.triedNew.begin(), os.triedNew.end(), path), 1);
    }
    EXPECT_EQ(os.triedNew.size(), 5u); // three for the leaf, two for the section
}

// The fault-injecting layer answers every creation as another program's prepared name
// would, or with another failure: the editor gives up after the last name it may try (or at
// once when the folder itself is unusable), reports the failure and changes nothing.
class RefusingOs : public RecordingOs {
public:
    using RecordingOs::RecordingOs;
    std::uint32_t code = platform::error::kFileExists;

protected:
    bool Fails(const char* call) override {
        if (std::string(call) == "CreateNew") {
            real_.SetLastError(code);
            return true;
        }
        return false;
    }
};

TEST_F(TempFileTest, WhenNoNameIsFreeTheEditFailsAndChangesNothing) {
    const Bytes original = Read("a.exe");
    struct Case {
        std::uint32_t code;
        std::size_t tries;
    };
    for (const Case c : {Case{platform::error::kFileExists, kMaxTempNameSuffix + 1},
                         Case{platform::error::kAccessDenied, 1}}) {
        SCOPED_TRACE(c.code);
        RefusingOs refusing(platform::SystemOs());
        refusing.folder = os.folder;
        refusing.code = c.code;
        TResEditHandle* h = ResEditOpen(refusing, U16("a.exe"), false);
        ASSERT_NE(h, nullptr);
        const Bytes bytes = Pattern(40000, 3);
        EXPECT_FALSE(ResEditUpdate(h, Id(10), Id(1), 1033, bytes.data(), 40000));
        EXPECT_NE(ResEditLastMessage().find("temporary file"), std::string::npos);
        EXPECT_EQ(refusing.triedNew.size(), c.tries);
        EXPECT_EQ(
            std::set<std::u16string>(refusing.triedNew.begin(), refusing.triedNew.end()).size(),
            c.tries);
        // Small bytes need no temporary file; the new section does.
        ASSERT_TRUE(ResEditUpdate(h, Id(10), Id(1), 1033, bytes.data(), 100));
        refusing.triedNew.clear();
        EXPECT_FALSE(ResEditClose(h, false));
        EXPECT_EQ(refusing.triedNew.size(), c.tries);
        EXPECT_EQ(Read("a.exe"), original);
        EXPECT_TRUE(refusing.deleted.empty());
        EXPECT_TRUE(TempFolderFiles().empty());
    }
}

} // namespace
} // namespace resedit::testing
