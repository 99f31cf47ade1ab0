// The string patch on real files: the positions it tests, its reads, a second run and every
// failure's one message.
#include "patch/stringpatch.h"
#include "patch/tests/fakes.h"
#include "resedit/tests/support.h"

#include <gtest/gtest.h>

#include <random>

namespace patch::testing {
namespace {

using resedit::testing::ScratchTest;

const Bytes kSearch = Utf16Bytes(u"res_cn.data");
const Bytes kReplacement = Utf16Bytes(u"res_ru.data");
constexpr std::uint8_t kFill = 0xAB;

std::string FailureText(const std::u16string& dir) {
    return U8(dir) + "itools.exe";
}

// What the routine must do, position by position: the reference for every case.
Bytes ReferenceScan(Bytes bytes) {
    const std::size_t records = bytes.size() / 2;
    for (std::size_t p = 1; p + 12 < records; ++p) {
        if (std::equal(kSearch.begin(), kSearch.end(), bytes.begin() + 2 * p)) {
            std::copy(kReplacement.begin(), kReplacement.end(), bytes.begin() + 2 * p);
        }
    }
    return bytes;
}

struct Placement {
    std::size_t offset;
    Bytes bytes;
};

struct PositionCase {
    const char* name;
    std::size_t size;
    std::vector<Placement> placed;
    std::vector<std::size_t> rewritten; // offsets expected to read "res_ru.data" afterwards
};

std::vector<PositionCase> Cases() {
    const Bytes ascii = {'r', 'e', 's', '_', 'c', 'n', '.', 'd', 'a', 't', 'a'};
    return {
        {"three at even offsets",
         400,
         {{10, kSearch}, {100, kSearch}, {256, kSearch}},
         {10, 100, 256}},
        {"the first candidate, byte 2", 100, {{2, kSearch}}, {2}},
        {"byte 0 is never tested", 100, {{0, kSearch}}, {}},
        {"an odd offset", 100, {{33, kSearch}}, {}},
        {"ends four bytes before the end", 100, {{74, kSearch}}, {74}},
        {"ends within the last four bytes", 100, {{76, kSearch}}, {}},
        {"ends at the end", 100, {{78, kSearch}}, {}},
        {"odd file size: the last byte is no record", 101, {{74, kSearch}}, {74}},
        {"odd file size, ends within the last four record bytes", 101, {{76, kSearch}}, {}},
        {"8-bit characters", 100, {{10, ascii}}, {}},
        {"capital letters",
         100,
         {{10, Utf16Bytes(u"RES_CN.DATA")}, {40, Utf16Bytes(u"Res_cn.data")}},
         {}},
        {"back to back", 100, {{2, kSearch}, {24, kSearch}, {46, kSearch}}, {2, 24, 46}},
        {"28 bytes: one candidate", 28, {{2, kSearch}}, {2}},
        {"27 bytes: none", 27, {{2, kSearch}}, {}},
        {"already Russian", 100, {{10, kReplacement}}, {}},
    };
}

Bytes Build(const PositionCase& c) {
    Bytes bytes(c.size, kFill);
    for (const Placement& p : c.placed) {
        std::copy(p.bytes.begin(), p.bytes.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(p.offset));
    }
    return bytes;
}

class StringPatchTest : public ScratchTest {
protected:
    Events events;
    RecordingReporter reporter{events};
    std::u16string Dir() const { return dir.u16string() + u"/"; }
    std::filesystem::path Target() const { return dir / "itools.exe"; }
};

TEST_F(StringPatchTest, TestsExactlyTheStatedPositions) {
    for (const PositionCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const Bytes original = Build(c);
        Bytes expected = original;
        for (std::size_t at : c.rewritten) {
            std::copy(kReplacement.begin(), kReplacement.end(),
                      expected.begin() + static_cast<std::ptrdiff_t>(at));
        }
        ASSERT_EQ(expected, ReferenceScan(original)) << "the case table agrees with the reference";

        WriteFileBytes(Target(), original);
        EXPECT_EQ(CountUtf16(platform::SystemOs(), Target().u16string(), u"res_cn.data"),
                  c.rewritten.size())
            << "counting tests the same positions";
        EXPECT_EQ(ReadFileBytes(Target()), original);
        EXPECT_TRUE(PatchExeString(platform::SystemOs(), reporter, Dir(), u"res_ru.data"));
        EXPECT_EQ(ReadFileBytes(Target()), expected);
        // Small blocks put candidates on every side of a block boundary.
        for (std::size_t block : {2u, 6u, 22u, 24u, 64u}) {
            SCOPED_TRACE(block);
            WriteFileBytes(Target(), original);
            EXPECT_TRUE(RewriteUtf16(platform::SystemOs(), Target().u16string(), u"res_cn.data",
                                     u"res_ru.data", block));
            EXPECT_EQ(ReadFileBytes(Target()), expected);
        }
    }
    EXPECT_TRUE(reporter.boxes.empty());
}

TEST_F(StringPatchTest, AgreesWithThePositionByPositionScanOnDenseFiles) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 40; ++round) {
        // Few distinct bytes and many planted names and pieces of names, at any offset.
        Bytes bytes(200 + rng() % 3000);
        for (auto& b : bytes) {
            const std::uint8_t alphabet[] = {0, 'r', 'e', 's', '_', 'c', 'n', '.', 'd', 'a', 't'};
            b = alphabet[rng() % sizeof alphabet];
        }
        for (int k = 0; k < 25; ++k) {
            const std::size_t len = (rng() % 3 == 0) ? 1 + rng() % 21 : 22;
            const std::size_t at = rng() % (bytes.size() - len);
            std::copy(kSearch.begin(), kSearch.begin() + static_cast<std::ptrdiff_t>(len),
                      bytes.begin() + static_cast<std::ptrdiff_t>(at));
        }
        const Bytes expected = ReferenceScan(bytes);
        for (std::size_t block : {2u, 10u, 30u, 4096u}) {
            WriteFileBytes(Target(), bytes);
            ASSERT_TRUE(RewriteUtf16(platform::SystemOs(), Target().u16string(), u"res_cn.data",
                                     u"res_ru.data", block));
            ASSERT_EQ(ReadFileBytes(Target()), expected)
                << "round " << round << ", block " << block;
        }
    }
}

TEST_F(StringPatchTest, SmallFilesAreOpenedAndClosedWithoutARead) {
    for (std::size_t size : {0u, 1u, 26u, 27u, 28u}) {
        SCOPED_TRACE(size);
        WriteFileBytes(Target(), Bytes(size, kFill));
        CountingOs os(platform::SystemOs());
        EXPECT_TRUE(PatchExeString(os, reporter, Dir(), u"res_ru.data"));
        EXPECT_EQ(os.counts["OpenExisting"], 1);
        EXPECT_EQ(os.counts["Close"], 1);
        EXPECT_EQ(os.counts["ReadAt"], size >= 28 ? 1 : 0);
        EXPECT_EQ(os.counts["WriteAt"], 0);
    }
    EXPECT_TRUE(reporter.boxes.empty());
}

TEST_F(StringPatchTest, ASecondRunFindsNothingAndWritesNothing) {
    PositionCase c = Cases()[0];
    WriteFileBytes(Target(), Build(c));
    CountingOs first(platform::SystemOs());
    std::uint64_t rewritten = 0;
    EXPECT_TRUE(PatchExeString(first, reporter, Dir(), u"res_ru.data", &rewritten));
    EXPECT_EQ(first.counts["WriteAt"], 3);
    EXPECT_EQ(rewritten, 3u);
    const Bytes once = ReadFileBytes(Target());
    EXPECT_EQ(CountUtf16(platform::SystemOs(), Target().u16string(), u"res_ru.data"), 3u);
    CountingOs second(platform::SystemOs());
    EXPECT_TRUE(PatchExeString(second, reporter, Dir(), u"res_ru.data", &rewritten));
    EXPECT_EQ(second.counts["WriteAt"], 0);
    EXPECT_EQ(rewritten, 0u);
    EXPECT_EQ(ReadFileBytes(Target()), once);
    EXPECT_EQ(once.size(), c.size);
    EXPECT_TRUE(reporter.boxes.empty());
}

// Every failure gives the same single message box; rewritten matches stay rewritten. The
// error returned names the operation and, for a read or write, the bytes it concerned.
TEST_F(StringPatchTest, AnyFailureGivesOneMessageAndKeepsWhatWasWritten) {
    const std::string message =
        "Could not write changes to file:" + FailureText(Dir()) +
        "\n\rМожет он у вас запущен? проверьте в диспетчере задач \"itools.exe\"";
    const Bytes original = Build(Cases()[0]); // matches at 10, 100, 256
    Bytes firstOnly = original;
    std::copy(kReplacement.begin(), kReplacement.end(), firstOnly.begin() + 10);
    const Bytes all = ReferenceScan(original);

    struct FailureCase {
        const char* name;
        std::string op;
        int at;
        std::uint32_t code;
        const Bytes* after;
        std::uint64_t rewritten;
        const char* error;
        std::uint64_t offset;
    };
    const std::uint64_t nowhere = binary::Error::kNowhere;
    const FailureCase cases[] = {
        {"read-only or access denied", "OpenExisting", 1, platform::error::kAccessDenied, &original,
         0, "cannot open the file", nowhere},
        {"size query", "GetLength", 1, platform::error::kInvalidHandle, &original, 0,
         "cannot get the file's length", nowhere},
        {"read", "ReadAt", 1, platform::error::kReadFault, &original, 0, "cannot read the file", 2},
        {"second write", "WriteAt", 2, platform::error::kDiskFull, &firstOnly, 1,
         "cannot write the file", 100},
        // Closing is where a delayed write can turn out to have failed.
        {"close", "Close", 1, platform::error::kWriteFault, &all, 3, "cannot close the file",
         nowhere},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(Target(), original);
        CountingOs os(platform::SystemOs());
        os.failOp = c.op;
        os.failAt = c.at;
        os.failCode = c.code;
        events.clear();
        std::uint64_t rewritten = 99;
        const binary::Status done = PatchExeString(os, reporter, Dir(), u"res_ru.data", &rewritten);
        EXPECT_EQ(events, Events{"box:" + message});
        EXPECT_EQ(rewritten, c.rewritten);
        ASSERT_FALSE(done);
        EXPECT_EQ(done.error().code, binary::ErrorCode::Io);
        EXPECT_EQ(done.error().message, c.error);
        EXPECT_EQ(done.error().offset, c.offset);
        EXPECT_EQ(ReadFileBytes(Target()), *c.after);
        EXPECT_EQ(os.counts["Close"], os.counts["OpenExisting"] - (c.op == "OpenExisting" ? 1 : 0));
    }

    SCOPED_TRACE("missing file");
    std::filesystem::remove(Target());
    events.clear();
    EXPECT_FALSE(PatchExeString(platform::SystemOs(), reporter, Dir(), u"res_ru.data"));
    EXPECT_EQ(events, Events{"box:" + message});
    EXPECT_FALSE(std::filesystem::exists(Target())) << "never created";

    SCOPED_TRACE("locked by another opener");
    WriteFileBytes(Target(), original);
    {
        platform::ScopedFile holder(platform::SystemOs(),
                                    platform::SystemOs().OpenExisting(Target().u16string(),
                                                                      platform::Access::ReadWrite,
                                                                      platform::Share::Exclusive));
        ASSERT_TRUE(holder.IsValid());
        events.clear();
        EXPECT_FALSE(PatchExeString(platform::SystemOs(), reporter, Dir(), u"res_ru.data"));
        EXPECT_EQ(events, Events{"box:" + message});
    }
    EXPECT_EQ(ReadFileBytes(Target()), original);
}

TEST_F(StringPatchTest, AReplacementOfAnotherLengthIsRefusedUntouched) {
    const Bytes original = Build(Cases()[0]);
    for (std::u16string_view bad : {u"res_ru.dat", u"res_ru.data2", u""}) {
        WriteFileBytes(Target(), original);
        CountingOs os(platform::SystemOs());
        events.clear();
        const binary::Status done = PatchExeString(os, reporter, Dir(), bad);
        ASSERT_FALSE(done);
        EXPECT_EQ(done.error().code, binary::ErrorCode::InvalidArgument);
        EXPECT_EQ(events.size(), 1u);
        EXPECT_EQ(os.counts["OpenExisting"], 0);
        EXPECT_EQ(ReadFileBytes(Target()), original);
    }
}

} // namespace
} // namespace patch::testing
