// The CompareStringW order under the English locale with case ignored, from a generated table.
#include "platform/collation.h"

#include "platform/file.h"

#include <cstdint>
#include <vector>

namespace platform {

namespace {

struct Expansion {
    char16_t code;
    char16_t first;
    char16_t second;
};

#include "platform/collation_table.inc"

constexpr std::uint16_t kSpecialFlag = 0x8000;
constexpr unsigned kDiacriticBits = 5;
constexpr std::uint32_t kUncoveredBase = 0x10000;

// Weight table entry of a covered character, or none.
bool TableEntry(char16_t c, std::uint16_t& entry) {
    if (c < 0x0080) {
        entry = kWeights0000[c];
    } else if (c >= 0x00A0 && c < 0x0180) {
        entry = kWeights00A0[c - 0x00A0];
    } else if (c >= 0x0400 && c < 0x0460) {
        entry = kWeights0400[c - 0x0400];
    } else {
        return false;
    }
    return true;
}

// The three levels that decide the order: primary weights, then diacritic ranks, then the
// characters without primary weight (by position, an earlier one sorting higher, then by
// weight, then by their number).
struct SortKey {
    std::vector<std::uint32_t> primary;
    std::vector<std::uint8_t> diacritic;
    std::vector<std::pair<std::size_t, std::uint16_t>> special;
};

void AddChar(SortKey& key, char16_t c, std::size_t& position) {
    std::uint16_t entry = 0;
    if (!TableEntry(c, entry)) {
        key.primary.push_back(kUncoveredBase + c);
        key.diacritic.push_back(0);
        ++position;
        return;
    }
    if (entry == 0) {
        return; // ignored altogether
    }
    if (entry & kSpecialFlag) {
        key.special.emplace_back(position, static_cast<std::uint16_t>(entry & ~kSpecialFlag));
    } else {
        key.primary.push_back(entry >> kDiacriticBits);
        key.diacritic.push_back(static_cast<std::uint8_t>(entry & ((1u << kDiacriticBits) - 1)));
    }
    ++position;
}

SortKey MakeKey(std::u16string_view s) {
    SortKey key;
    std::size_t position = 0;
    for (char16_t c : s) {
        const Expansion* expansion = nullptr;
        for (const Expansion& e : kExpansions) {
            if (e.code == c) {
                expansion = &e;
            }
        }
        if (expansion) {
            AddChar(key, expansion->first, position);
            AddChar(key, expansion->second, position);
        } else {
            AddChar(key, c, position);
        }
    }
    return key;
}

template <typename T> int CompareSequences(const std::vector<T>& a, const std::vector<T>& b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? kCompareLess : kCompareGreater;
        }
    }
    if (a.size() != b.size()) {
        return a.size() < b.size() ? kCompareLess : kCompareGreater;
    }
    return kCompareEqual;
}

} // namespace

int CollateNoCase(std::u16string_view a, std::u16string_view b) {
    const SortKey ka = MakeKey(a);
    const SortKey kb = MakeKey(b);
    if (int r = CompareSequences(ka.primary, kb.primary); r != kCompareEqual) {
        return r;
    }
    if (int r = CompareSequences(ka.diacritic, kb.diacritic); r != kCompareEqual) {
        return r;
    }
    for (std::size_t i = 0; i < ka.special.size() && i < kb.special.size(); ++i) {
        const auto& x = ka.special[i];
        const auto& y = kb.special[i];
        if (x.first != y.first) {
            return x.first < y.first ? kCompareGreater : kCompareLess;
        }
        if (x.second != y.second) {
            return x.second < y.second ? kCompareLess : kCompareGreater;
        }
    }
    if (ka.special.size() != kb.special.size()) {
        return ka.special.size() < kb.special.size() ? kCompareLess : kCompareGreater;
    }
    return kCompareEqual;
}

} // namespace platform
