// xmrender: renders an XM module through the player's engine into a 48 kHz stereo 16-bit
// WAV file, for a number of seconds or (--no-loop) to the song's end.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "music/engine.h"

namespace {

constexpr double kDefaultSeconds = 60.0;
constexpr double kMaxSeconds = 24 * 3600.0;
constexpr double kNoLoopCapSeconds = 3600.0; // a song that jumps back never ends by itself

void Usage() {
    std::fprintf(stderr,
                 "usage: xmrender [--seconds S | --no-loop] INPUT.xm OUTPUT.wav\n"
                 "  --seconds S  render S seconds (default %g); the song loops as in the program\n"
                 "  --no-loop    render to the end of the order list and stop there (at most\n"
                 "               --seconds if given, else an hour: a song may jump back forever)\n",
                 kDefaultSeconds);
}

void Put16(std::vector<unsigned char>& o, unsigned v) {
    o.push_back(v & 0xFF);
    o.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<unsigned char>& o, std::uint32_t v) {
    Put16(o, v & 0xFFFF);
    Put16(o, v >> 16);
}

std::vector<unsigned char> WavHeader(std::uint32_t frames) {
    std::vector<unsigned char> h;
    const std::uint32_t data = frames * 4;
    for (char c : std::string("RIFF"))
        h.push_back(static_cast<unsigned char>(c));
    Put32(h, 36 + data);
    for (char c : std::string("WAVEfmt "))
        h.push_back(static_cast<unsigned char>(c));
    Put32(h, 16);
    Put16(h, 1); // PCM
    Put16(h, 2);
    Put32(h, music::kOutputRate);
    Put32(h, music::kOutputRate * 4);
    Put16(h, 4);
    Put16(h, 16);
    for (char c : std::string("data"))
        h.push_back(static_cast<unsigned char>(c));
    Put32(h, data);
    return h;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = kDefaultSeconds;
    bool secondsGiven = false;
    bool noLoop = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            char* end = nullptr;
            seconds = std::strtod(argv[++i], &end);
            secondsGiven = true;
            if (!end || *end || !(seconds > 0) || seconds > kMaxSeconds) {
                std::fprintf(stderr, "xmrender: --seconds wants a number above 0 and up to %g\n",
                             kMaxSeconds);
                return 2;
            }
        } else if (a == "--no-loop") {
            noLoop = true;
        } else if (a == "-h" || a == "--help") {
            Usage();
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "xmrender: unknown option %s\n", a.c_str());
            Usage();
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) {
        Usage();
        return 2;
    }

    std::ifstream in(files[0], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "xmrender: cannot open %s\n", files[0].c_str());
        return 1;
    }
    std::vector<unsigned char> module((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
    if (module.size() > 0xFFFFFFFFu) {
        std::fprintf(stderr, "xmrender: %s is larger than 4 GB\n", files[0].c_str());
        return 1;
    }

    auto engine = std::make_unique<music::Engine>();
    engine->noLoop = noLoop ? 1 : 0;
    platform::HeapArena* arena = platform::ArenaCreate();
    const char* reason = nullptr;
    if (!arena ||
        !music::LoadFromMemory(*engine, module.data(), static_cast<std::uint32_t>(module.size()),
                               arena, &reason)) {
        std::fprintf(stderr, "xmrender: %s is not an XM module the player accepts: %s\n",
                     files[0].c_str(), reason ? reason : "out of memory");
        platform::ArenaDestroy(arena);
        return 1;
    }

    if (noLoop && !secondsGiven) {
        seconds = kNoLoopCapSeconds;
    }
    const std::uint64_t wanted = static_cast<std::uint64_t>(seconds * music::kOutputRate + 0.5);
    bool ended = false;
    std::vector<std::int16_t> pcm;
    std::int16_t block[music::kBlockFrames * 2];
    std::uint64_t frames = 0;
    const auto start = std::chrono::steady_clock::now();
    while (frames < wanted) {
        if (!music::RenderBlock(*engine, block)) {
            ended = true; // the song ended (--no-loop)
            break;
        }
        const std::uint64_t take =
            wanted - frames < music::kBlockFrames ? wanted - frames : music::kBlockFrames;
        pcm.insert(pcm.end(), block, block + 2 * take);
        frames += take;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    platform::ArenaDestroy(arena);

    std::ofstream out(files[1], std::ios::binary);
    std::vector<unsigned char> header = WavHeader(static_cast<std::uint32_t>(frames));
    out.write(reinterpret_cast<const char*>(header.data()),
              static_cast<std::streamsize>(header.size()));
    out.write(reinterpret_cast<const char*>(pcm.data()),
              static_cast<std::streamsize>(pcm.size() * sizeof(std::int16_t)));
    out.close();
    if (!out) {
        std::fprintf(stderr, "xmrender: cannot write %s\n", files[1].c_str());
        return 1;
    }
    if (noLoop && !ended) {
        std::fprintf(stderr, "xmrender: the song did not end within %g s; stopped there\n",
                     seconds);
    }
    const double ns = std::chrono::duration<double, std::nano>(elapsed).count();
    std::printf("%llu frames rendered (%.2f s), %.1f ns per frame\n",
                static_cast<unsigned long long>(frames), frames / double(music::kOutputRate),
                frames ? ns / frames : 0.0);
    return 0;
}
