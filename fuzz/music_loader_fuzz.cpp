// libFuzzer harness: any bytes through the loader, then one second of rendering of whatever
// loaded. Run under ASan and UBSan by the native-asan build.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "music/engine.h"

namespace {
// A malformed module may ask for gigabytes of samples; the arena refuses past this.
constexpr std::size_t kFuzzArenaLimit = std::size_t{96} << 20;
constexpr int kBlocksPerSecond = 47;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static auto engine = std::make_unique<music::Engine>();
    platform::HeapArena* arena = platform::ArenaCreate(kFuzzArenaLimit);
    if (!arena) {
        return 0;
    }
    *engine = music::Engine{};
    // The no-loop flag follows one input bit, so the song's end is fuzzed as well.
    engine->noLoop = size > 0 && (data[size - 1] & 1);
    if (music::LoadFromMemory(*engine, data, static_cast<std::uint32_t>(size), arena)) {
        std::int16_t block[music::kBlockFrames * 2];
        for (int i = 0; i < kBlocksPerSecond; ++i) {
            if (!music::RenderBlock(*engine, block)) {
                break;
            }
        }
    }
    platform::ArenaDestroy(arena);
    return 0;
}
