// Renders the program's module and real modules with our engine and, in the same run, with
// libxmp and libopenmpt (linear interpolation, 48 kHz stereo 16-bit), and prints the time
// per frame of each, the ratios per module and the worst ratios. Those libraries are called
// as black boxes only.
//
//   music_bench [--runs N] [--seconds S] [--path best|scalar|sse2|avx2|avx512] [FILE.xm ...]
//
// Without files it takes the real-module corpus (music/tests/real_modules.h). The three
// engines take turns, run after run, and each keeps its best: a busy machine slows all
// three alike. Times are the thread's CPU time, so time spent descheduled does not count.
#include <libopenmpt/libopenmpt.h>
#include <xmp.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "music/engine.h"
#include "music/tests/real_modules.h"
#include "music/trackfile.h"

namespace {

struct Options {
    int runs = 5;
    int seconds = 60;
    music::MixPath path = music::MixPath::Best;
};

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// Nanoseconds per frame of one render, or a negative value when the module does not load.
double Ours(const std::vector<unsigned char>& m, const Options& o) {
    auto engine = std::make_unique<music::Engine>();
    engine->mixPath = o.path;
    platform::HeapArena* arena = platform::ArenaCreate();
    if (!music::LoadFromMemory(*engine, m.data(), static_cast<std::uint32_t>(m.size()), arena)) {
        platform::ArenaDestroy(arena);
        return -1;
    }
    const int frames = o.seconds * music::kOutputRate;
    std::int16_t block[music::kBlockFrames * 2];
    const double start = ThreadSeconds();
    for (int done = 0; done < frames; done += music::kBlockFrames) {
        music::RenderBlock(*engine, block);
    }
    const double ns = (ThreadSeconds() - start) * 1e9 / frames;
    platform::ArenaDestroy(arena);
    return ns;
}

double Xmp(const std::vector<unsigned char>& m, const Options& o) {
    xmp_context ctx = xmp_create_context();
    if (xmp_load_module_from_memory(ctx, m.data(), static_cast<long>(m.size())) != 0) {
        xmp_free_context(ctx);
        return -1;
    }
    xmp_start_player(ctx, music::kOutputRate, 0);
    xmp_set_player(ctx, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR);
    const int frames = o.seconds * music::kOutputRate;
    std::vector<std::int16_t> buf(music::kBlockFrames * 2);
    const double start = ThreadSeconds();
    for (int done = 0; done < frames; done += music::kBlockFrames) {
        xmp_play_buffer(ctx, buf.data(), static_cast<int>(buf.size() * 2), 0);
    }
    const double ns = (ThreadSeconds() - start) * 1e9 / frames;
    xmp_end_player(ctx);
    xmp_release_module(ctx);
    xmp_free_context(ctx);
    return ns;
}

double OpenMpt(const std::vector<unsigned char>& m, const Options& o) {
    openmpt_module* mod = openmpt_module_create_from_memory2(
        m.data(), m.size(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!mod) {
        return -1;
    }
    openmpt_module_set_repeat_count(mod, -1);
    openmpt_module_set_render_param(mod, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 2);
    const int frames = o.seconds * music::kOutputRate;
    std::vector<std::int16_t> buf(music::kBlockFrames * 2);
    const double start = ThreadSeconds();
    for (int done = 0; done < frames; done += music::kBlockFrames) {
        openmpt_module_read_interleaved_stereo(mod, music::kOutputRate, music::kBlockFrames,
                                               buf.data());
    }
    const double ns = (ThreadSeconds() - start) * 1e9 / frames;
    openmpt_module_destroy(mod);
    return ns;
}

int Usage() {
    std::fprintf(stderr, "usage: music_bench [--runs N] [--seconds S] "
                         "[--path best|scalar|sse2|avx2|avx512] [FILE.xm ...]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--runs" || a == "--seconds" || a == "--path") && i + 1 < argc) {
            const char* v = argv[++i];
            if (a == "--runs") {
                o.runs = std::max(1, std::atoi(v));
            } else if (a == "--seconds") {
                o.seconds = std::max(1, std::atoi(v));
            } else {
                bool known = false;
                for (music::MixPath p :
                     {music::MixPath::Best, music::MixPath::Scalar, music::MixPath::Sse2,
                      music::MixPath::Avx2, music::MixPath::Avx512}) {
                    if (!std::strcmp(v, music::MixPathName(p))) {
                        o.path = p;
                        known = true;
                    }
                }
                if (!known) {
                    return Usage();
                }
                if (!music::MixPathAvailable(o.path)) {
                    std::fprintf(stderr, "music_bench: this CPU has no %s\n", v);
                    return 1;
                }
            }
        } else if (a.rfind("--", 0) == 0) {
            return Usage();
        } else {
            files.push_back(a);
        }
    }
    std::vector<std::pair<std::string, std::vector<unsigned char>>> modules;
    modules.emplace_back(
        "trackfile.xm (ours)",
        std::vector<unsigned char>(music::kTrackFile, music::kTrackFile + music::kTrackFileSize));
    if (files.empty()) {
        for (const char* path : xmcorpus::kRealModules) {
            files.push_back(path);
        }
    }
    for (const std::string& path : files) {
        std::ifstream f(path, std::ios::binary);
        if (!f) {
            std::fprintf(stderr,
                         "music_bench: cannot open %s (tools/setup.sh installs the "
                         "corpus)\n",
                         path.c_str());
            return 1;
        }
        modules.emplace_back(xmcorpus::ShortName(path.c_str()),
                             std::vector<unsigned char>((std::istreambuf_iterator<char>(f)),
                                                        std::istreambuf_iterator<char>()));
    }

    std::printf("%d s at 48 kHz stereo 16-bit, linear interpolation; ns per frame, thread CPU "
                "time, best of %d alternating runs; ours: %s path\n",
                o.seconds, o.runs, music::MixPathName(music::ResolveMixPath(o.path)));
    std::printf("%-50s %7s %7s %10s %9s %12s\n", "module", "ours", "libxmp", "libopenmpt",
                "xmp/ours", "openmpt/ours");
    struct Worst {
        double ratio = 1e300;
        std::string name;
    } worstXmp, worstMpt;
    std::vector<double> xmpRatios;
    for (const auto& [name, bytes] : modules) {
        double a = 1e300, b = 1e300, c = 1e300;
        for (int run = 0; run < o.runs; ++run) {
            a = std::min(a, Ours(bytes, o));
            b = std::min(b, Xmp(bytes, o));
            c = std::min(c, OpenMpt(bytes, o));
        }
        if (a <= 0 || b <= 0 || c <= 0) {
            std::printf("%-50s not loaded by%s%s%s\n", name.c_str(), a <= 0 ? " ours" : "",
                        b <= 0 ? " libxmp" : "", c <= 0 ? " libopenmpt" : "");
            continue;
        }
        std::printf("%-50s %7.2f %7.2f %10.2f %9.2f %12.2f\n", name.c_str(), a, b, c, b / a, c / a);
        std::fflush(stdout);
        if (b / a < worstXmp.ratio) {
            worstXmp = {b / a, name};
        }
        if (c / a < worstMpt.ratio) {
            worstMpt = {c / a, name};
        }
        xmpRatios.push_back(b / a);
    }
    if (!xmpRatios.empty()) {
        std::sort(xmpRatios.begin(), xmpRatios.end());
        std::printf("worst xmp/ours %.2f (%s), worst openmpt/ours %.2f (%s), median xmp/ours "
                    "%.2f over %zu modules\n",
                    worstXmp.ratio, worstXmp.name.c_str(), worstMpt.ratio, worstMpt.name.c_str(),
                    xmpRatios[xmpRatios.size() / 2], xmpRatios.size());
    }
    return 0;
}
