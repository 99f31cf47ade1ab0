// The CompareStringW order: known orders, and the table against the system's function.
#include "platform/collation.h"
#include "platform/file.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr int L = platform::kCompareLess;
constexpr int E = platform::kCompareEqual;
constexpr int G = platform::kCompareGreater;

struct Case {
    std::u16string a;
    std::u16string b;
    int expected;
};

// Orders observed from CompareStringW(9, NORM_IGNORECASE, ...).
const std::vector<Case> kCases = {
    {u"ICON", u"icon", E},
    {u"Ab", u"aB", E},
    {u"a", u"b", L},
    {u"MAINICON", u"PATCHDATA", L},
    {u"106", u"99", L},
    {u"9", u"A", L},
    {u"a_b", u"ab", L},
    {u"a b", u"ab", L},
    {u"_", u"0", L},
    {u"+", u"0", L},
    {u"~", u"+", L},
    {u"a-b", u"ab", G},
    {u"ab", u"a-c", L},
    {u"a'b", u"ab", G},
    {u"a-b", u"a'b", G},
    {u"co-op", u"coop", G},
    {u"co-op", u"cop", L},
    {u"a-b", u"-ab", L},
    {u"ab-", u"a-b", L},
    {u"a--b", u"a-b", G},
    {u"-", u"", G},
    {u"\u00e9", u"e", G},
    {u"\u00e9", u"f", L},
    {u"\u00c9", u"\u00e9", E},
    {u"e\u00e9", u"\u00e9e", L},
    {u"a-\u00e9", u"\u00e9-a", L},
    {u"ss", u"\u00df", E},
    {u"\u00e6", u"ae", E},
    {u"\u0451", u"\u0401", E},
    {u"\u0451", u"\u0435", G},
    {u"\u0451", u"\u0436", L},
    {u"\u0430", u"z", G},
    {u"\u042f", u"\u044f", E},
    {u"a\u0001", u"a", G},
    {u"\u0001", u"'", L},
    {std::u16string(u"a\0b", 3), u"ab", E},
    {u"\u00ad", u"", E},
    {u"", u"", E},
};

TEST(Collation, KnownOrders) {
    for (const Case& c : kCases) {
        EXPECT_EQ(platform::CollateNoCase(c.a, c.b), c.expected) << "case " << (&c - kCases.data());
        // The order is antisymmetric.
        EXPECT_EQ(platform::CollateNoCase(c.b, c.a), 4 - c.expected);
    }
}

TEST(Collation, SystemOsUsesTheSameOrder) {
    platform::Os& os = platform::SystemOs();
    for (const Case& c : kCases) {
        EXPECT_EQ(os.CompareNoCase(c.a, c.b), c.expected) << "case " << (&c - kCases.data());
    }
}

#ifdef _WIN32
std::vector<char16_t> CoveredChars() {
    std::vector<char16_t> chars;
    for (int c = 0x0000; c < 0x0080; ++c)
        chars.push_back(static_cast<char16_t>(c));
    for (int c = 0x00A0; c < 0x0180; ++c)
        chars.push_back(static_cast<char16_t>(c));
    for (int c = 0x0400; c < 0x0460; ++c)
        chars.push_back(static_cast<char16_t>(c));
    return chars;
}

int Windows(const std::u16string& a, const std::u16string& b) {
    return CompareStringW(9, NORM_IGNORECASE, reinterpret_cast<const wchar_t*>(a.data()),
                          static_cast<int>(a.size()), reinterpret_cast<const wchar_t*>(b.data()),
                          static_cast<int>(b.size()));
}

// The portable order agrees with the platform's for every pair of covered characters and
// for random strings built from them (near-equal pairs, where the later levels decide).
TEST(Collation, MatchesCompareStringW) {
    const std::vector<char16_t> chars = CoveredChars();
    int mismatches = 0;
    for (char16_t x : chars) {
        for (char16_t y : chars) {
            const std::u16string a(1, x), b(1, y);
            if (platform::CollateNoCase(a, b) != Windows(a, b) && ++mismatches < 20) {
                ADD_FAILURE() << std::hex << "U+" << int(x) << " vs U+" << int(y);
            }
        }
    }
    std::mt19937 rng(20240607);
    auto pick = [&] { return chars[rng() % chars.size()]; };
    for (int i = 0; i < 100000; ++i) {
        std::u16string a;
        for (unsigned n = rng() % 6; n > 0; --n)
            a.push_back(pick());
        std::u16string b = a;
        for (unsigned n = 1 + rng() % 2; n > 0; --n) {
            if (!b.empty() && rng() % 2) {
                b[rng() % b.size()] = pick();
            } else {
                b.insert(b.begin() + static_cast<long>(rng() % (b.size() + 1)), pick());
            }
        }
        if (platform::CollateNoCase(a, b) != Windows(a, b) && ++mismatches < 20) {
            ADD_FAILURE() << "random pair " << i;
        }
    }
    EXPECT_EQ(mismatches, 0);
}
#endif

} // namespace
