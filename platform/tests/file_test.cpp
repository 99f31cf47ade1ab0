// The file services on real files and folders, and the transfer loop in pieces.
#include "platform/file.h"
#include "platform/file_pieces.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using platform::Access;
using platform::FileHandle;
using platform::MappedView;
using platform::Share;
namespace error = platform::error;

class FileTest : public ::testing::Test {
protected:
    platform::Os& os = platform::SystemOs();
    std::filesystem::path dir;

    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("itr-file-test-" + std::to_string(os.ProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::u16string PathOf(const std::string& name) const { return (dir / name).u16string(); }
    void WriteFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir / name, std::ios::binary) << bytes;
    }
    std::string ReadFile(const std::string& name) const {
        std::ifstream in(dir / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(FileTest, OpenReportsMissingFilesAndFolders) {
    FileHandle f = os.OpenExisting(PathOf("missing.bin"), Access::ReadWrite, Share::Exclusive);
    EXPECT_FALSE(f.IsValid());
    EXPECT_EQ(os.LastError(), error::kFileNotFound);
    EXPECT_FALSE(os.Delete(PathOf("missing.bin")));
    EXPECT_EQ(os.LastError(), error::kFileNotFound);
    // A folder is not a file.
    f = os.OpenExisting(dir.u16string(), Access::ReadWrite, Share::Exclusive);
    EXPECT_FALSE(f.IsValid());
}

TEST_F(FileTest, ExclusiveOpenKeepsOthersOut) {
    WriteFile("a.bin", "abc");
    FileHandle first = os.OpenExisting(PathOf("a.bin"), Access::ReadWrite, Share::Exclusive);
    ASSERT_TRUE(first.IsValid());
    for (Share share : {Share::Exclusive, Share::ReadWrite}) {
        FileHandle second = os.OpenExisting(PathOf("a.bin"), Access::Read, share);
        EXPECT_FALSE(second.IsValid());
        EXPECT_EQ(os.LastError(), error::kSharingViolation);
    }
    os.Close(first);
    EXPECT_FALSE(first.IsValid());

    // Two sharing openers get along, and they keep an exclusive one out.
    FileHandle r1 = os.OpenExisting(PathOf("a.bin"), Access::ReadWrite, Share::ReadWrite);
    FileHandle r2 = os.OpenExisting(PathOf("a.bin"), Access::Read, Share::ReadWrite);
    EXPECT_TRUE(r1.IsValid());
    EXPECT_TRUE(r2.IsValid());
    EXPECT_FALSE(os.OpenExisting(PathOf("a.bin"), Access::ReadWrite, Share::Exclusive).IsValid());
    os.Close(r1);
    os.Close(r2);
}

TEST_F(FileTest, PositionedReadsAndWritesAndLength) {
    FileHandle f = os.CreateAlways(PathOf("b.bin"));
    ASSERT_TRUE(f.IsValid());
    ASSERT_TRUE(os.WriteAt(f, 0, "hello world", 11));
    ASSERT_TRUE(os.WriteAt(f, 6, "WORLD", 5));
    std::uint64_t length = 0;
    ASSERT_TRUE(os.GetLength(f, length));
    EXPECT_EQ(length, 11u);

    char buffer[16] = {};
    std::size_t got = 0;
    ASSERT_TRUE(os.ReadAt(f, 3, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 8u); // short only at the end of the file
    EXPECT_EQ(std::string(buffer, got), "lo WORLD");
    ASSERT_TRUE(os.ReadAt(f, 100, buffer, 4, got));
    EXPECT_EQ(got, 0u);

    // Growing fills with zeros, shrinking cuts.
    ASSERT_TRUE(os.SetLength(f, 14));
    ASSERT_TRUE(os.ReadAt(f, 9, buffer, 5, got));
    EXPECT_EQ(std::string(buffer, got), std::string("LD\0\0\0", 5));
    ASSERT_TRUE(os.SetLength(f, 5));
    ASSERT_TRUE(os.GetLength(f, length));
    EXPECT_EQ(length, 5u);
    os.Close(f);
    EXPECT_EQ(ReadFile("b.bin"), "hello");

    // Created anew: an existing file is truncated.
    f = os.CreateAlways(PathOf("b.bin"));
    ASSERT_TRUE(f.IsValid());
    ASSERT_TRUE(os.GetLength(f, length));
    EXPECT_EQ(length, 0u);
    os.Close(f);
    EXPECT_TRUE(os.Delete(PathOf("b.bin")));
    EXPECT_FALSE(std::filesystem::exists(dir / "b.bin"));
}

// Only a name that nothing holds is created: whatever another program put there beforehand
// (a file, a folder, a link to its own file, a link that leads nowhere) is refused untouched.
TEST_F(FileTest, CreateNewTakesOnlyAFreeName) {
    FileHandle f = os.CreateNew(PathOf("new.bin"));
    ASSERT_TRUE(f.IsValid());
    ASSERT_TRUE(os.WriteAt(f, 0, "fresh", 5));
    // Held without sharing.
    EXPECT_FALSE(os.OpenExisting(PathOf("new.bin"), Access::Read, Share::ReadWrite).IsValid());
    os.Close(f);
    EXPECT_EQ(ReadFile("new.bin"), "fresh");

    WriteFile("victim.bin", "keep me");
    std::filesystem::create_directory(dir / "folder");
    std::filesystem::create_hard_link(dir / "victim.bin", dir / "hard.bin");
    std::vector<std::string> taken = {"new.bin", "victim.bin", "folder", "hard.bin"};
#ifndef _WIN32
    std::filesystem::create_symlink(dir / "victim.bin", dir / "link.bin");
    std::filesystem::create_symlink(dir / "nowhere.bin", dir / "dangling.bin");
    taken.insert(taken.end(), {"link.bin", "dangling.bin"});
#endif
    for (const std::string& name : taken) {
        SCOPED_TRACE(name);
        os.SetLastError(0);
        EXPECT_FALSE(os.CreateNew(PathOf(name)).IsValid());
        EXPECT_EQ(os.LastError(), error::kFileExists);
    }
    EXPECT_EQ(ReadFile("new.bin"), "fresh");
    EXPECT_EQ(ReadFile("victim.bin"), "keep me");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere.bin"));
    // A missing folder is not a taken name.
    EXPECT_FALSE(os.CreateNew(PathOf("missing/a.bin")).IsValid());
    EXPECT_NE(os.LastError(), error::kFileExists);
}

TEST_F(FileTest, MappingWritesThroughAndRefusesEmptyFiles) {
    WriteFile("c.bin", "0123456789");
    FileHandle f = os.OpenExisting(PathOf("c.bin"), Access::ReadWrite, Share::Exclusive);
    ASSERT_TRUE(f.IsValid());
    MappedView view;
    ASSERT_TRUE(os.Map(f, view));
    EXPECT_EQ(view.size, 10u);
    EXPECT_EQ(std::memcmp(view.base, "0123456789", 10), 0);
    std::memcpy(view.base + 2, "ab", 2);
    os.Unmap(view);
    EXPECT_FALSE(view.IsMapped());
    // The length can change only once the mapping is gone.
    ASSERT_TRUE(os.SetLength(f, 4));
    os.Close(f);
    EXPECT_EQ(ReadFile("c.bin"), "01ab");

    WriteFile("empty.bin", "");
    f = os.OpenExisting(PathOf("empty.bin"), Access::ReadWrite, Share::Exclusive);
    ASSERT_TRUE(f.IsValid());
    EXPECT_FALSE(os.Map(f, view));
    EXPECT_EQ(os.LastError(), error::kFileInvalid);
    os.Close(f);
}

TEST_F(FileTest, ProcessServices) {
    const std::u16string temp = os.TempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_TRUE(temp.back() == u'/' || temp.back() == u'\\');
    EXPECT_NE(os.ProcessId(), 0u);
    os.SetLastError(1234);
    EXPECT_EQ(os.LastError(), 1234u);
    {
        platform::PreserveLastError keep(os);
        os.SetLastError(5);
    }
    EXPECT_EQ(os.LastError(), 1234u);
}

// The calls that keep copies of files: flush, close with its result, rename over a file, and
// folders, with the error codes Windows gives.
TEST_F(FileTest, FoldersRenamesAndAClosedHandle) {
    platform::PathKind kind = platform::PathKind::File;
    ASSERT_TRUE(os.Kind(PathOf("sub"), kind));
    EXPECT_EQ(kind, platform::PathKind::Missing);
    ASSERT_TRUE(os.Kind(PathOf("sub") + u"/deeper", kind)) << "below a missing folder";
    EXPECT_EQ(kind, platform::PathKind::Missing);
    ASSERT_TRUE(os.CreateFolder(PathOf("sub")));
    ASSERT_TRUE(os.Kind(PathOf("sub"), kind));
    EXPECT_EQ(kind, platform::PathKind::Folder);
    EXPECT_FALSE(os.CreateFolder(PathOf("sub")));
    EXPECT_EQ(os.LastError(), error::kAlreadyExists);

    WriteFile("sub/old.bin", "old");
    FileHandle f = os.CreateAlways(PathOf("sub/new.bin"));
    ASSERT_TRUE(f.IsValid());
    ASSERT_TRUE(os.WriteAt(f, 0, "new", 3));
    EXPECT_TRUE(os.Flush(f));
    EXPECT_TRUE(os.Close(f));
    EXPECT_FALSE(f.IsValid());
    os.SetLastError(error::kDiskFull);
    EXPECT_TRUE(os.Close(f)) << "a closed handle: nothing to do";
    EXPECT_EQ(os.LastError(), error::kDiskFull) << "and the reason of an earlier failure stays";
    ASSERT_TRUE(os.Kind(PathOf("sub/new.bin"), kind));
    EXPECT_EQ(kind, platform::PathKind::File);
    // What the patch run asks of a target's file: a file, not a folder of its name.
    EXPECT_TRUE(platform::IsExistingFile(os, PathOf("sub/new.bin")));
    EXPECT_FALSE(platform::IsExistingFile(os, PathOf("sub")));
    EXPECT_FALSE(platform::IsExistingFile(os, PathOf("sub/none.bin")));

    // A rename replaces the file of the new name.
    ASSERT_TRUE(os.Rename(PathOf("sub/new.bin"), PathOf("sub/old.bin")));
    EXPECT_EQ(ReadFile("sub/old.bin"), "new");
    EXPECT_FALSE(std::filesystem::exists(dir / "sub" / "new.bin"));
    EXPECT_FALSE(os.Rename(PathOf("sub/new.bin"), PathOf("sub/other.bin")));
    EXPECT_EQ(os.LastError(), error::kFileNotFound);

    EXPECT_FALSE(os.RemoveFolder(PathOf("sub")));
    EXPECT_EQ(os.LastError(), error::kDirNotEmpty);
    ASSERT_TRUE(os.Delete(PathOf("sub/old.bin")));
    EXPECT_TRUE(os.RemoveFolder(PathOf("sub")));
    EXPECT_FALSE(std::filesystem::exists(dir / "sub"));
}

// The transfer loop of both platforms' files: what the system moved per call, in order.
TEST(FilePieces, ReadsEndAtAPieceThatMovesNothingAndWritesFailThere) {
    struct Case {
        const char* name;
        std::vector<int> moves; // bytes per call; -1: the system refuses
        bool read;              // ReadAt's result
        std::size_t got;
        bool written; // WriteAt's result
    };
    const Case cases[] = {
        {"whole in one", {20}, true, 20, true},
        {"in pieces", {8, 8, 4}, true, 20, true},
        {"the end of the file", {8, 4, 0}, true, 12, false},
        {"refused", {8, -1}, false, 8, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char memory[20] = {};
        std::size_t call = 0;
        auto piece = [&](std::uint64_t at, const char* bytes, std::size_t count, std::size_t& n) {
            EXPECT_EQ(at, 1000 + static_cast<std::uint64_t>(bytes - memory));
            EXPECT_EQ(bytes + count, memory + 20);
            const int m = call < c.moves.size() ? c.moves[call] : 0;
            ++call;
            n = m > 0 ? static_cast<std::size_t>(m) : 0;
            return m >= 0;
        };
        std::size_t got = 0;
        const char* from = memory;
        EXPECT_EQ(platform::MoveInPieces(1000, from, 20, got, piece), c.read);
        if (c.read) {
            EXPECT_EQ(got, c.got);
        }
        EXPECT_EQ(call, c.moves.size());

        call = 0;
        int stalls = 0;
        EXPECT_EQ(platform::WriteInPieces(1000, memory, 20, piece, [&] { ++stalls; }), c.written);
        EXPECT_EQ(call, c.moves.size()) << "no call after one that moved nothing";
        EXPECT_EQ(stalls, c.read && !c.written ? 1 : 0);
    }
}

} // namespace
