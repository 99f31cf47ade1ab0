// An embedded payload written out: an existing file replaced whole, and the three errors.
#include "patch/payload.h"
#include "patch/tests/fakes.h"
#include "patch/user_error.h"
#include "resedit/tests/support.h"

#include <gtest/gtest.h>

namespace patch::testing {
namespace {

using platform::ResourceName;

class SaveResourceTest : public resedit::testing::ScratchTest {
protected:
    FakeResources resources;
    const Bytes icon = resedit::testing::Pattern(5000, 7);

    void SetUp() override {
        ScratchTest::SetUp();
        resources.own = {{ResourceName::Id(10), ResourceName::Text(u"PATCHDATA"), 1033, icon},
                         {ResourceName::Id(10), ResourceName::Text(u"EMPTY"), 1033, {}}};
    }
    std::u16string Path(const char* name) const { return (dir / name).u16string(); }

    // The error's text, or "" when there was none.
    std::string Save(platform::Os& os, std::u16string_view name, const std::u16string& file) {
        const binary::Status saved = SaveResourceToFile(resources, os, name, file);
        return saved ? "" : U8(UserText(saved.error()));
    }
};

TEST_F(SaveResourceTest, ReplacesAndTruncatesAnExistingFile) {
    WriteFileBytes(dir / "patchdata.data", Bytes(20000, 0xEE));
    EXPECT_EQ(Save(platform::SystemOs(), u"patchdata", Path("patchdata.data")), "");
    EXPECT_EQ(ReadFileBytes(dir / "patchdata.data"), icon);
    EXPECT_EQ(resources.calls.front(), "FindResource:0,patchdata,10")
        << "RT_RCDATA of the own module, by text";

    EXPECT_EQ(Save(platform::SystemOs(), u"EMPTY", Path("patchdata.data")), "");
    EXPECT_EQ(std::filesystem::file_size(dir / "patchdata.data"), 0u);
}

TEST_F(SaveResourceTest, RaisesItsThreeErrors) {
    EXPECT_EQ(Save(platform::SystemOs(), u"res_ru", Path("res_ru.data")),
              "Resource res_ru not found");
    EXPECT_FALSE(std::filesystem::exists(dir / "res_ru.data"));

    const std::u16string missing = (dir / "no such folder" / "patchdata.data").u16string();
    const std::string created = Save(platform::SystemOs(), u"patchdata", missing);
    const std::string prefix = "Cannot create file \"" + U8(missing) + "\". ";
    EXPECT_EQ(created.substr(0, prefix.size()), prefix);
    EXPECT_GT(created.size(), prefix.size()) << "the system's error text follows";
    EXPECT_FALSE(std::filesystem::exists(dir / "no such folder"));

    CountingOs os(platform::SystemOs());
    os.failOp = "WriteAt";
    os.failAt = 1;
    os.failCode = platform::error::kDiskFull;
    EXPECT_EQ(Save(os, u"patchdata", Path("patchdata.data")), "Stream write error");
    EXPECT_EQ(os.counts["Close"], 1) << "closed after the failed write";
}

} // namespace
} // namespace patch::testing
