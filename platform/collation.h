// A portable copy of the order CompareStringW gives under locale 9 (English) with
// NORM_IGNORECASE, so that names are sorted the same way natively and on Windows.
//
// Exact for ASCII, Latin-1, Latin Extended-A and basic Cyrillic (checked against
// CompareStringW under Wine); other characters sort after those by code point, without
// case folding.
#pragma once

#include <string_view>

namespace platform {

// kCompareLess (1), kCompareEqual (2) or kCompareGreater (3), as CompareStringW.
int CollateNoCase(std::u16string_view a, std::u16string_view b);

} // namespace platform
