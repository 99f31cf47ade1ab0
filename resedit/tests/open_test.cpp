// Opening files: the tree read from well-formed PE32 and PE32+ files, and every kind of
// malformed file refused without being read past its end or changed.
#include "resedit/tests/support.h"

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
        const PeFile pe = BuildPe(TypicalSpec(plus, SomeResources()));
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
