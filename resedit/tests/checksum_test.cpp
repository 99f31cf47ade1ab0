// The PE checksum across edits: a valid one stays valid, 0 stays 0 and an invalid one is left
// as it is, whichever way the tail moves (up, down, not at all, by an odd distance) and
// whatever else changes with it (debug entries, the symbol and certificate tables, sections
// given bytes of their own). Checked against an outside computation: pefile's natively, the
// system's under Windows.
#include "resedit/tests/support.h"

#include <algorithm>
#include <cctype>
#include <functional>

namespace resedit::testing {
namespace {

namespace pe = binary::pe;

enum class Field { Valid, Zero, Invalid };

struct Shape {
    const char* label;
    std::uint32_t oldBytes; // of the one resource
    std::uint32_t newBytes;
    std::function<void(PeRecipe&)> recipe;
};

void PrintTo(const Shape& s, std::ostream* os) {
    *os << s.label;
}

const std::vector<Shape>& Shapes() {
    static const std::vector<Shape> shapes = {
        {"grows, everything behind it", 700, 5000,
         [](PeRecipe& r) {
             r.sections.push_back({".debug_line", SectionKind::Debug, Pattern(0x345, 4), 0});
             r.debugEntries = 2;
             r.symbolTable = true;
             r.certificate = true;
             r.appended = Pattern(0x777, 5);
         }},
        {"shrinks", 5000, 100, nullptr},
        {"same size in the file", 700, 600, nullptr},
        {"odd file length", 3000, 9000, [](PeRecipe& r) { r.appended = Pattern(0x101, 6); }},
        // File alignment 1 and a section of odd size: the tail moves by an odd distance, so
        // each of its bytes changes place in its word.
        {"tail moves by an odd distance", 700, 2000,
         [](PeRecipe& r) {
             r.fileAlignment = 1;
             r.sections[2].rawPadding = 1;
             r.appended = Pattern(0x333, 7);
         }},
        {"a section in the resource slack", 1500, 5000,
         [](PeRecipe& r) {
             r.sections[2].rawPadding = 0x300;
             r.sections[3].inPreviousSlack = true;
         }},
    };
    return shapes;
}

class CheckSumTest : public ScratchTest,
                     public ::testing::WithParamInterface<std::tuple<Shape, bool>> {};

TEST_P(CheckSumTest, AValidOneStaysValidAndOthersAreLeftAlone) {
    const auto& [shape, plus] = GetParam();
    PeRecipe recipe = TypicalRecipe(plus, {{Id(10), Id(1), 1033, Pattern(shape.oldBytes, 1)}});
    if (shape.recipe) {
        shape.recipe(recipe);
    }
    const PeFile built = BuildPe(recipe);
    Write("built.exe", built.bytes);
    const std::optional<CheckSums> outside = OutsideCheckSums(PathOf("built.exe"));
    ASSERT_TRUE(outside) << "no outside computation of the checksum";
    const std::uint32_t field = OptionalHeader(built) + pe::kCheckSum;
    const Resource added = {Id(10), Id(1), 1033, Pattern(shape.newBytes, 2)};
    for (Field f : {Field::Valid, Field::Zero, Field::Invalid}) {
        SCOPED_TRACE(f == Field::Valid ? "valid" : f == Field::Zero ? "zero" : "invalid");
        Bytes bytes = built.bytes;
        const std::uint32_t stored = f == Field::Valid  ? outside->computed
                                     : f == Field::Zero ? 0
                                                        : outside->computed ^ 0x10;
        Put32(bytes, field, stored);
        Write("a.exe", bytes);
        TResEditHandle* h = ResEditOpen(U16("a.exe"), false);
        ASSERT_NE(h, nullptr) << ResEditLastMessage();
        ASSERT_TRUE(ResEditUpdate(h, added.type, added.name, added.language, added.bytes.data(),
                                  static_cast<std::uint32_t>(added.bytes.size())));
        ASSERT_TRUE(ResEditClose(h, false)) << ResEditLastMessage();
        ASSERT_NE(Read("a.exe"), bytes);
        const std::optional<CheckSums> after = OutsideCheckSums(PathOf("a.exe"));
        ASSERT_TRUE(after);
        if (f == Field::Valid) {
            EXPECT_EQ(after->stored, after->computed);
        } else {
            EXPECT_EQ(after->stored, stored);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, CheckSumTest,
                         ::testing::Combine(::testing::ValuesIn(Shapes()), ::testing::Bool()),
                         [](const auto& param) {
                             std::string s = std::get<0>(param.param).label;
                             s += std::get<1>(param.param) ? "_pe32plus" : "_pe32";
                             std::replace_if(
                                 s.begin(), s.end(), [](char ch) { return !std::isalnum(ch); },
                                 '_');
                             return s;
                         });

// The editor's own computation of a whole file agrees with the outside one.
TEST_F(ScratchTest, TheCheckSumOfAWholeFileAgreesWithTheOutsideOne) {
    for (bool plus : {false, true}) {
        PeRecipe recipe = TypicalRecipe(plus, {{Id(10), Id(1), 1033, Pattern(777, 1)}});
        recipe.appended = Pattern(plus ? 0x33 : 0x34, 2);
        const PeFile built = BuildPe(recipe);
        Write("a.exe", built.bytes);
        const std::optional<CheckSums> outside = OutsideCheckSums(PathOf("a.exe"));
        ASSERT_TRUE(outside);
        const binary::Reader file(built.bytes);
        const binary::Expected<pe::Layout> layout = pe::ParseLayout(file);
        ASSERT_TRUE(layout);
        EXPECT_EQ(pe::ComputeCheckSum(file, *layout), outside->computed);
        EXPECT_EQ(outside->stored, recipe.checkSum);
    }
}

} // namespace
} // namespace resedit::testing
