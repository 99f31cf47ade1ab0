// Renders 60 s of the program's module and of real modules with our engine and, in the same
// run, with libxmp and libopenmpt (linear interpolation, 48 kHz stereo 16-bit), and prints
// nanoseconds per frame and the ratios. Those libraries are called as black boxes only.
#include <libopenmpt/libopenmpt.h>
#include <xmp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "music/engine.h"
#include "music/trackfile.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSeconds = 60;
constexpr int kFrames = kSeconds * 48000;
constexpr int kRuns = 3;

double Ours(const std::vector<unsigned char>& m) {
    double best = 1e300;
    for (int run = 0; run < kRuns; ++run) {
        auto engine = std::make_unique<music::Engine>();
        platform::HeapArena* arena = platform::ArenaCreate();
        if (!music::LoadFromMemory(*engine, m.data(), static_cast<std::uint32_t>(m.size()),
                                   arena)) {
            platform::ArenaDestroy(arena);
            return -1;
        }
        std::int16_t block[music::kBlockFrames * 2];
        const auto start = Clock::now();
        for (int done = 0; done < kFrames; done += music::kBlockFrames) {
            music::RenderBlock(*engine, block);
        }
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        best = std::min(best, ns / kFrames);
        platform::ArenaDestroy(arena);
    }
    return best;
}

double Xmp(const std::vector<unsigned char>& m) {
    double best = 1e300;
    for (int run = 0; run < kRuns; ++run) {
        xmp_context ctx = xmp_create_context();
        if (xmp_load_module_from_memory(ctx, m.data(), static_cast<long>(m.size())) != 0) {
            xmp_free_context(ctx);
            return -1;
        }
        xmp_start_player(ctx, 48000, 0);
        xmp_set_player(ctx, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR);
        std::vector<std::int16_t> buf(music::kBlockFrames * 2);
        const auto start = Clock::now();
        for (int done = 0; done < kFrames; done += music::kBlockFrames) {
            xmp_play_buffer(ctx, buf.data(), static_cast<int>(buf.size() * 2), 0);
        }
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        best = std::min(best, ns / kFrames);
        xmp_end_player(ctx);
        xmp_release_module(ctx);
        xmp_free_context(ctx);
    }
    return best;
}

double OpenMpt(const std::vector<unsigned char>& m) {
    double best = 1e300;
    for (int run = 0; run < kRuns; ++run) {
        openmpt_module* mod = openmpt_module_create_from_memory2(
            m.data(), m.size(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (!mod) {
            return -1;
        }
        openmpt_module_set_repeat_count(mod, -1);
        openmpt_module_set_render_param(mod, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 2);
        std::vector<std::int16_t> buf(music::kBlockFrames * 2);
        const auto start = Clock::now();
        for (int done = 0; done < kFrames; done += music::kBlockFrames) {
            openmpt_module_read_interleaved_stereo(mod, 48000, music::kBlockFrames, buf.data());
        }
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        best = std::min(best, ns / kFrames);
        openmpt_module_destroy(mod);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::pair<std::string, std::vector<unsigned char>>> modules;
    modules.emplace_back(
        "trackfile.xm (ours)",
        std::vector<unsigned char>(music::kTrackFile, music::kTrackFile + music::kTrackFileSize));
    for (int i = 1; i < argc; ++i) {
        std::ifstream f(argv[i], std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "music_bench: cannot open %s\n", argv[i]);
            return 1;
        }
        std::string name = argv[i];
        name = name.substr(name.find_last_of('/') + 1);
        modules.emplace_back(name, std::vector<unsigned char>((std::istreambuf_iterator<char>(f)),
                                                              std::istreambuf_iterator<char>()));
    }
    std::printf(
        "%d s at 48 kHz stereo 16-bit, linear interpolation, best of %d runs, ns per frame\n",
        kSeconds, kRuns);
    std::printf("%-26s %10s %10s %12s %10s %12s\n", "module", "ours", "libxmp", "libopenmpt",
                "xmp/ours", "openmpt/ours");
    for (const auto& [name, bytes] : modules) {
        const double a = Ours(bytes), b = Xmp(bytes), c = OpenMpt(bytes);
        std::printf("%-26s %10.1f %10.1f %12.1f %10.2f %12.2f\n", name.c_str(), a, b, c, b / a,
                    c / a);
    }
    return 0;
}
