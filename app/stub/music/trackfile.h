#pragma once
#include <cstdint>
namespace music {
inline constexpr unsigned char kTrackFile[1] = {0};
inline constexpr std::uint32_t kTrackFileSize = 0;
} // namespace music
