// Every platform call of an icon replacement fails in turn, and every write stops halfway in
// turn: the executable is then either exactly as it was or exactly as a good run leaves it
// (its checksum valid), never anything in between, and no temporary file is left behind.
#include "resedit/internal.h"
#include "resedit/tests/support.h"

#include <cstring>
#include <map>

namespace resedit::testing {
namespace {

ResKey Id(std::uint16_t id) {
    return ResKey::FromId(id);
}

std::vector<IconImage> Images(std::initializer_list<std::uint32_t> sizes, std::uint8_t seed) {
    std::vector<IconImage> out;
    for (std::uint32_t size : sizes) {
        out.push_back({32, 32, 0, 0, Pattern(size, static_cast<std::uint8_t>(seed + out.size()))});
    }
    return out;
}

// A FaultyOs whose write number cutAt stops halfway, as a full disk or a lost device leaves it:
// more than half of the bytes are written, then the call fails.
class CutShortOs : public FaultyOs {
public:
    using FaultyOs::FaultyOs;
    int writes = 0;
    int cutAt = 0;
    bool WriteAt(platform::FileHandle file, std::uint64_t offset, const void* data,
                 std::size_t size) override {
        if (++writes == cutAt) {
            real_.WriteAt(file, offset, data, size / 2 + 1);
            real_.SetLastError(platform::error::kDiskFull);
            return false;
        }
        return FaultyOs::WriteAt(file, offset, data, size);
    }
};

struct Scenario {
    const char* label;
    std::vector<IconImage> oldImages;
    std::vector<IconImage> newImages;
};

void PrintTo(const Scenario& s, std::ostream* os) {
    *os << s.label;
}

class FaultTest : public ScratchTest, public ::testing::WithParamInterface<Scenario> {
protected:
    Bytes MakeFile(const Scenario& s) {
        std::vector<Resource> resources = {{Id(10), Id(1), 1033, Pattern(3000, 1)}};
        std::vector<std::uint16_t> ids;
        for (std::size_t i = 0; i < s.oldImages.size(); ++i) {
            ids.push_back(static_cast<std::uint16_t>(1 + i));
            resources.push_back({Id(kTypeIcon), Id(ids.back()), 2052, s.oldImages[i].bytes});
        }
        resources.push_back({Id(kTypeGroupIcon), ResKey::FromName(u"106"), 2052,
                             BuildGroupRecord(s.oldImages, ids)});
        PeRecipe recipe = TypicalRecipe(true, resources);
        recipe.sections.push_back({".debug_info", SectionKind::Debug, Pattern(0x1234, 2), 0});
        recipe.symbolTable = true;
        recipe.certificate = true;
        recipe.debugEntries = 2;
        recipe.appended = Pattern(0x4321, 3);
        PeFile built = BuildPe(recipe);
        // A valid checksum, which the writer keeps valid from the bytes it moves and writes.
        const binary::Reader file(built.bytes);
        const std::uint32_t sum = binary::pe::ComputeCheckSum(file, *binary::pe::ParseLayout(file));
        Put32(built.bytes, OptionalHeader(built) + binary::pe::kCheckSum, sum);
        return built.bytes;
    }

    struct Outcome {
        bool opened = false, replaced = false, closed = false;
    };

    // The patch run's sequence: open, replace the group, close keeping the changes (or,
    // with discardOnFailure, throwing them away when the replacement failed).
    Outcome Run(platform::Os& os, bool discardOnFailure) {
        Outcome o;
        TResEditHandle* h = ResEditOpen(os, U16("a.exe"), false);
        if (!h) {
            return o;
        }
        o.opened = true;
        o.replaced = ResEditReplaceIconGroup(h, ResKey::FromName(u"106"), 2052, U16("new.ico"));
        o.closed = ResEditClose(h, discardOnFailure && !o.replaced);
        return o;
    }
};

TEST_P(FaultTest, EveryCallFailingInTurnLeavesAWholeFile) {
    const Scenario& s = GetParam();
    const Bytes original = MakeFile(s);
    const Bytes ico = BuildIco(s.newImages);
    Write("new.ico", ico);

    // A good run, counting the calls; and the file as an unchanged tree rewrites it.
    Write("a.exe", original);
    CutShortOs counter(platform::SystemOs());
    const Outcome clean = Run(counter, false);
    ASSERT_TRUE(clean.opened && clean.replaced && clean.closed);
    const Bytes good = Read("a.exe");
    ASSERT_NE(good, original);
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe")));
    const std::optional<CheckSums> sums = OutsideCheckSums(PathOf("a.exe"));
    ASSERT_TRUE(sums);
    EXPECT_EQ(sums->stored, sums->computed);
    const int calls = counter.calls;
    Write("a.exe", original);
    TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(ResEditClose(h, false));
    const Bytes rewritten = Read("a.exe");

    std::map<std::string, int> failedCalls;
    const int writes = counter.writes;
    for (bool discardOnFailure : {false, true}) {
        // Each call failing in turn, then each write stopping halfway in turn.
        for (int k = 1; k <= calls + writes; ++k) {
            Write("a.exe", original);
            CutShortOs os(platform::SystemOs());
            if (k <= calls) {
                os.failAt = k;
            } else {
                os.cutAt = k - calls;
            }
            const Outcome outcome = Run(os, discardOnFailure);
            SCOPED_TRACE(
                (k <= calls ? "call " + std::to_string(k) + " (" + os.failedCall + ") failing, "
                            : "write " + std::to_string(k - calls) + " cut short, ") +
                (discardOnFailure ? "discarding" : "keeping") + " after a failed replacement");
            if (k <= calls) {
                ASSERT_FALSE(os.failedCall.empty());
                ++failedCalls[os.failedCall];
            }
            const Bytes now = Read("a.exe");
            // Closed with the changes: the new file (or the unchanged tree rewritten, after a
            // failed replacement). Anything else: the old file, byte for byte.
            const bool kept =
                outcome.opened && outcome.closed && (outcome.replaced || !discardOnFailure);
            const Bytes& expected = !kept ? original : outcome.replaced ? good : rewritten;
            EXPECT_TRUE(now == expected)
                << "opened " << outcome.opened << " replaced " << outcome.replaced << " closed "
                << outcome.closed << ": the file is "
                << (now == original    ? "the original"
                    : now == good      ? "the new one"
                    : now == rewritten ? "rewritten unchanged"
                                       : "damaged");
            EXPECT_EQ(Read("new.ico"), ico);
            auto left = LeftoverTempFiles();
            if (os.failedCall != "Delete") {
                EXPECT_TRUE(left.empty());
            }
            for (const auto& p : left) {
                std::filesystem::remove(p);
            }
        }
    }
    // Every kind of call was made to fail somewhere.
    for (const char* name : {"OpenExisting", "CreateNew", "GetLength", "SetLength", "ReadAt",
                             "WriteAt", "Map", "Delete"}) {
        EXPECT_GT(failedCalls[name], 0) << name;
    }
}

const Scenario kScenarios[] = {
    // Large new images: temporary files for leaves, the file grows.
    {"grows", Images({400, 500}, 1), Images({1128, 4264, 40000, 70000}, 5)},
    // Large old images, small new ones: the file shrinks (its last step, the cut, is undone
    // when it fails).
    {"shrinks", Images({40000, 50000, 60000}, 1), Images({300, 40000}, 5)},
    // The same raw size.
    {"same size", Images({40000, 1000}, 1), Images({40000, 1004}, 5)},
};

INSTANTIATE_TEST_SUITE_P(Cases, FaultTest, ::testing::ValuesIn(kScenarios), [](const auto& param) {
    return std::string(param.param.label) == "same size" ? std::string("same_size")
                                                         : std::string(param.param.label);
});

// The tail moves in blocks of positioned reads and writes. Whichever read or write fails, and
// also a write that stops halfway (over the block's own bytes, when the move is shorter than
// a block), every block already moved goes back and the moved range holds its bytes again.
// (What the move wrote outside that range is the writer's to restore: new space when the file
// grows, a saved copy when it shrinks.)

TEST_F(ScratchTest, TailMoveFailingAnywhereIsPutBack) {
    struct Case {
        const char* label;
        std::uint64_t from, to, length;
    };
    // Blocks of 7 bytes; the file has 100.
    const Case cases[] = {
        {"up by less than a block", 20, 23, 40},   {"up by more than a block", 20, 50, 40},
        {"down by less than a block", 30, 28, 60}, {"down by more than a block", 50, 5, 45},
        {"up, one short block", 90, 93, 5},
    };
    platform::Os& real = platform::SystemOs();
    const Bytes original = Pattern(100, 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bytes moved = original;
        std::memmove(moved.data() + c.to, original.data() + c.from, c.length);
        auto run = [&](CutShortOs& os) {
            Write("f.bin", original);
            platform::FileHandle f = real.OpenExisting(U16("f.bin"), platform::Access::ReadWrite,
                                                       platform::Share::Exclusive);
            EXPECT_TRUE(f.IsValid());
            std::vector<std::uint8_t> buffer(7);
            const detail::Moved result =
                detail::MoveFileBytes(os, f, c.from, c.to, c.length, buffer);
            real.Close(f);
            return result;
        };
        CutShortOs counter(real);
        ASSERT_EQ(run(counter), detail::Moved::All);
        EXPECT_EQ(Read("f.bin"), moved);
        const int calls = counter.calls;
        const int writes = counter.writes;
        EXPECT_GE(writes, static_cast<int>((c.length + 6) / 7));
        for (int k = 1; k <= calls + writes; ++k) {
            CutShortOs os(real);
            if (k <= calls) {
                os.failAt = k;
            } else {
                os.cutAt = k - calls;
            }
            SCOPED_TRACE(k <= calls ? "call " + std::to_string(k) + " failing"
                                    : "write " + std::to_string(k - calls) + " cut short");
            // Failed, and every block that had moved is back.
            EXPECT_EQ(run(os), detail::Moved::Back);
            // The source range and everything outside the destination as they were.
            Bytes now = Read("f.bin");
            ASSERT_EQ(now.size(), original.size());
            for (std::uint64_t i = c.to; i < c.to + c.length; ++i) {
                if (i < c.from || i >= c.from + c.length) {
                    now[i] = original[i];
                }
            }
            EXPECT_EQ(now, original);
        }
    }
}

} // namespace
} // namespace resedit::testing
