// The dialog transplant against stand-ins of the platform's resource functions: its lines,
// its language and each failure's report.
#include "patch/tests/fakes.h"
#include "patch/transplant.h"
#include "resedit/tests/support.h"

#include <gtest/gtest.h>

namespace patch::testing {
namespace {

using platform::ResourceName;

class TransplantTest : public resedit::testing::ScratchTest {
protected:
    Events events;
    RecordingReporter reporter{events};
    FakeResources resources;
    const Bytes dialog101 = Bytes(380, 0x65);
    const Bytes dialog226 = Bytes(668, 0x66);

    void SetUp() override {
        ScratchTest::SetUp();
        resources.own = {
            {ResourceName::Id(5), ResourceName::Id(101), 2052, dialog101},
            {ResourceName::Id(5), ResourceName::Id(226), 2052, dialog226},
            {ResourceName::Id(10), ResourceName::Text(u"PATCHDATA"), 1033, Bytes(100, 1)},
        };
        WriteFileBytes(dir / "TSRes.dll", Bytes(64, 0));
    }
    std::u16string Dir() const { return dir.u16string() + u"/"; }
    // True when the platform accepted the update.
    bool Run(std::uint16_t id) {
        return static_cast<bool>(TransplantDialog(reporter, resources, Dir(), u"TSRes.dll", 5, id));
    }
};

Events SixLines(const std::string& id, const std::vector<std::string>& boxesBeforeAdd = {},
                const std::vector<std::string>& boxesAfterAdd = {},
                const std::vector<std::string>& boxesAtEnd = {}) {
    Events e{"log:Load: TSRes.dll", "log:Find resources in: TSRes.dll"};
    std::size_t box = 0;
    auto take = [&](const std::string& prefix) {
        while (box < boxesBeforeAdd.size() && boxesBeforeAdd[box].rfind(prefix, 0) == 0) {
            e.push_back("box:" + boxesBeforeAdd[box++]);
        }
    };
    take("Could not locate");
    take("Could not load dialog box");
    e.push_back("log:Read resources in: TSRes.dll");
    take("Could not lock");
    e.push_back("log:Open file for writing: TSRes.dll");
    take("Could not open");
    e.push_back("log:Adding patched resources: " + id + " in file:TSRes.dll");
    for (const auto& b : boxesAfterAdd) {
        e.push_back("box:" + b);
    }
    e.push_back("log:Clean up...");
    for (const auto& b : boxesAtEnd) {
        e.push_back("box:" + b);
    }
    return e;
}

TEST_F(TransplantTest, ASuccessfulCallLeavesSixLinesAndOneCommittedUpdate) {
    EXPECT_TRUE(Run(101));
    EXPECT_EQ(events, SixLines("101"));
    ASSERT_EQ(resources.committed.size(), 1u);
    const auto& c = resources.committed[0];
    EXPECT_EQ(c.path, Dir() + u"TSRes.dll");
    EXPECT_FALSE(c.discard);
    ASSERT_EQ(c.updates.size(), 1u);
    EXPECT_EQ(c.updates[0].type, 5);
    EXPECT_EQ(c.updates[0].name, 101);
    EXPECT_EQ(c.updates[0].language, 2052);
    EXPECT_EQ(c.updates[0].bytes, dialog101) << "the whole template, exactly its size";
    EXPECT_EQ(resources.loadedModules, 0) << "the module is freed";
    EXPECT_EQ(resources.calls.front(), "LoadLibrary:" + U8(resources.ownPath))
        << "the own executable, by full path";
    EXPECT_EQ(resources.calls[1], "FindResource:1,101,5");
}

TEST_F(TransplantTest, TheLanguageIsAlways2052) {
    resources.own[1].language = 1033;
    EXPECT_TRUE(Run(226));
    ASSERT_EQ(resources.committed.size(), 1u);
    EXPECT_EQ(resources.committed[0].updates.at(0).language, 2052);
}

// Each failing platform call: the console lines and message boxes, in order, and what
// reaches the target.
TEST_F(TransplantTest, EachFailureReportsItselfAndTheCycleGoesOn) {
    struct Case {
        const char* name;
        bool FakeResources::*knob;
        std::uint16_t id;
        Events expected;
        bool result;
        const char* committed; // "write", "discard" or "" (nothing ended)
    };
    const Case cases[] = {
        {"the own executable does not load", &FakeResources::failLoadLibrary, 101,
         [] {
             Events e = SixLines("101", {}, {}, {"Could not free executable:TSRes.dll"});
             e.insert(e.begin() + 1, "log:Could not load:TSRes.dll");
             return e;
         }(),
         true, "write"},
        {"the template is not found", &FakeResources::failFind, 101,
         SixLines("101",
                  {"Could not locate :101", "Could not load dialog box:101",
                   "Could not lock dialog box:101"},
                  {"Could not add resource:101"}),
         false, "discard"},
        {"the template does not load", &FakeResources::failLoad, 101,
         SixLines("101", {"Could not load dialog box:101", "Could not lock dialog box:101"},
                  {"Could not add resource:101"}),
         false, "discard"},
        {"the template does not lock", &FakeResources::failLock, 101,
         SixLines("101", {"Could not lock dialog box:101"}, {"Could not add resource:101"}), false,
         "discard"},
        {"the target cannot be opened for update", &FakeResources::failBegin, 226,
         SixLines("226", {"Could not open file for writing."},
                  {"Could not add resource:226", "Could not write changes to file:TSRes.dll"}),
         false, ""},
        {"the update is refused", &FakeResources::failUpdate, 101,
         SixLines("101", {}, {"Could not add resource:101"}), false, "write"},
        {"the update is not written", &FakeResources::failEnd, 520,
         SixLines("520", {}, {"Could not write changes to file:TSRes.dll"}), true, ""},
        {"the module is not freed", &FakeResources::failFree, 101,
         SixLines("101", {}, {}, {"Could not free executable:TSRes.dll"}), true, "write"},
    };
    resources.own.push_back({ResourceName::Id(5), ResourceName::Id(520), 2052, Bytes(500, 0x67)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeResources fresh = resources;
        fresh.*c.knob = true;
        events.clear();
        const binary::Status done = TransplantDialog(reporter, fresh, Dir(), u"TSRes.dll", 5, c.id);
        EXPECT_EQ(static_cast<bool>(done), c.result);
        if (!done) {
            // Without a template the update is discarded; otherwise the platform refused it.
            EXPECT_EQ(done.error().code, std::string(c.committed) == "discard"
                                             ? binary::ErrorCode::NotFound
                                             : binary::ErrorCode::Io);
        }
        EXPECT_EQ(events, c.expected);
        for (const std::string& call : fresh.calls) {
            if (call.rfind("UpdateResource:", 0) == 0) {
                EXPECT_FALSE(call.ends_with(",null") || call.ends_with(",0"))
                    << "never null data or size 0: " << call;
            }
        }
        if (std::string(c.committed).empty()) {
            EXPECT_TRUE(fresh.committed.empty());
        } else {
            ASSERT_EQ(fresh.committed.size(), 1u);
            EXPECT_EQ(fresh.committed[0].discard, std::string(c.committed) == "discard");
            if (fresh.committed[0].discard) {
                EXPECT_TRUE(fresh.committed[0].updates.empty())
                    << "nothing handed over without a template";
            }
        }
    }
}

TEST_F(TransplantTest, AMissingTargetGivesThreeBoxesPerCallAndNoFile) {
    std::filesystem::remove(dir / "TSRes.dll");
    for (std::uint16_t id : {101, 226}) {
        events.clear();
        EXPECT_FALSE(Run(id));
        const std::string i = std::to_string(id);
        EXPECT_EQ(events, SixLines(i, {"Could not open file for writing."},
                                   {"Could not add resource:" + i,
                                    "Could not write changes to file:TSRes.dll"}));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "TSRes.dll"));
    EXPECT_TRUE(resources.committed.empty());
}

} // namespace
} // namespace patch::testing
