// xmrender: renders an XM module through the player's engine into a 48 kHz stereo 16-bit
// WAV file: looping as the program plays, or once through the song to its real end (or N times
// through), at most a time limit. Each block goes to the file as it is rendered; the header's
// sizes are filled in at the end.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "music/engine.h"
#include "music/xmrender/render.h"

namespace {

// Without options it plays as the program does: looping, for a minute. A render to the
// song's end (or N times through) stops after an hour at the latest.
constexpr double kLoopingSeconds = 60.0;
constexpr double kDefaultSeconds = 3600.0;
// A WAV file's sizes are 32-bit: 4 bytes a frame after a 44-byte header.
constexpr std::uint64_t kMaxWavFrames = (0xFFFFFFFFull - 36) / 4;
constexpr double kMaxSeconds = static_cast<double>(kMaxWavFrames / music::kOutputRate);
constexpr long kMaxLoops = 1000000;
constexpr std::size_t kFileBuffer = 1 << 20;

void Usage() {
    std::fprintf(stderr,
                 "usage: xmrender [--loops N | --no-loop] [--seconds S] INPUT.xm OUTPUT.wav\n"
                 "  (default)    loop the song as the program does, for %g seconds\n"
                 "  --no-loop    render the song once, to its end: the end of the order list,\n"
                 "               or the first row that would play again as it played before\n"
                 "  --loops N    render the song N times through, following its jump back\n"
                 "  --seconds S  stop after S seconds at the latest (default %g with --no-loop\n"
                 "               or --loops)\n",
                 kLoopingSeconds, kDefaultSeconds);
}

const char* EndText(xmrender::End end) {
    switch (end) {
    case xmrender::End::OrderList:
        return "the end of the order list";
    case xmrender::End::Repeat:
        return "a repeat";
    case xmrender::End::TimeLimit:
        break;
    }
    return "the time limit";
}

// Writes the frames to the file as they come; the first failure stops the render.
struct FileSink final : xmrender::FrameSink {
    std::FILE* file = nullptr;
    int error = 0;
    bool Take(const std::int16_t* values, std::size_t frames) override {
        errno = 0;
        if (std::fwrite(values, 4, frames, file) != frames) {
            error = errno ? errno : EIO;
            return false;
        }
        return true;
    }
};

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

// Removes what was written of the output, unless it is no plain file (a device).
void RemoveFile(const std::string& name) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(name, ec)) {
        std::filesystem::remove(name, ec);
    }
}

} // namespace

int main(int argc, char** argv) {
    const auto runStart = std::chrono::steady_clock::now();
    double seconds = 0;
    bool noLoop = false;
    long loops = 0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            char* end = nullptr;
            seconds = std::strtod(argv[++i], &end);
            if (!end || *end || !(seconds > 0) || seconds > kMaxSeconds) {
                std::fprintf(stderr,
                             "xmrender: --seconds wants a number above 0 and up to %g (what a "
                             "WAV file holds)\n",
                             kMaxSeconds);
                return 2;
            }
        } else if (a == "--loops" && i + 1 < argc) {
            char* end = nullptr;
            loops = std::strtol(argv[++i], &end, 10);
            if (!end || *end || loops < 1 || loops > kMaxLoops) {
                std::fprintf(stderr, "xmrender: --loops wants a whole number from 1 to %ld\n",
                             kMaxLoops);
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
    if (noLoop && loops > 1) {
        std::fprintf(stderr, "xmrender: --no-loop renders the song once; it takes no --loops\n");
        return 2;
    }
    if (files.size() != 2) {
        Usage();
        return 2;
    }
    const bool looping = !noLoop && loops == 0;
    if (seconds == 0) {
        seconds = looping ? kLoopingSeconds : kDefaultSeconds;
    }
    if (looping) {
        loops = kMaxLoops; // the time limit ends it
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
    platform::HeapArena* arena = platform::ArenaCreate();
    const binary::Status loaded =
        arena ? music::LoadFromMemory(*engine, module.data(),
                                      static_cast<std::uint32_t>(module.size()), arena)
              : binary::OutOfMemory("out of memory");
    if (!loaded) {
        std::fprintf(stderr, "xmrender: %s is not an XM module the player accepts: %s\n",
                     files[0].c_str(), loaded.error().Text().c_str());
        platform::ArenaDestroy(arena);
        return 1;
    }

    const std::uint64_t wanted = static_cast<std::uint64_t>(seconds * music::kOutputRate + 0.5);
    FileSink sink;
    const char* outName = files[1].c_str();
    // Written in full at the end, with the sizes; what stands here first only keeps the place.
    const std::vector<unsigned char> placeholder = WavHeader(0);
    errno = 0;
    sink.file = std::fopen(outName, "wb");
    if (!sink.file || std::setvbuf(sink.file, nullptr, _IOFBF, kFileBuffer) != 0 ||
        std::fwrite(placeholder.data(), 1, placeholder.size(), sink.file) != placeholder.size()) {
        const int error = errno ? errno : EIO;
        if (sink.file) {
            std::fclose(sink.file);
            RemoveFile(files[1]);
        }
        std::fprintf(stderr, "xmrender: cannot write %s: %s\n", outName, std::strerror(error));
        platform::ArenaDestroy(arena);
        return 1;
    }
    const xmrender::Outcome r =
        xmrender::RenderSong(*engine, loops > 0 ? static_cast<int>(loops) : 1, wanted, sink);
    platform::ArenaDestroy(arena);
    const std::uint64_t frames = r.frames;

    int error = sink.error;
    if (!r.sinkFailed) {
        const std::vector<unsigned char> header = WavHeader(static_cast<std::uint32_t>(frames));
        errno = 0;
        if (std::fflush(sink.file) != 0 || std::fseek(sink.file, 0, SEEK_SET) != 0 ||
            std::fwrite(header.data(), 1, header.size(), sink.file) != header.size() ||
            std::fflush(sink.file) != 0) {
            error = errno ? errno : EIO;
        }
    }
    errno = 0;
    if (std::fclose(sink.file) != 0 && error == 0) {
        error = errno ? errno : EIO;
    }
    if (error != 0) {
        // A cut file would pass for the whole render.
        RemoveFile(files[1]);
        std::fprintf(stderr, "xmrender: cannot write %s: %s\n", outName, std::strerror(error));
        return 1;
    }

    const auto whole = std::chrono::steady_clock::now() - runStart;
    const double rate = music::kOutputRate;
    const double ns = std::chrono::duration<double, std::nano>(r.engineTime).count();
    std::printf("%llu frames rendered (%.3f s), %d pass%s, ended by %s\n",
                static_cast<unsigned long long>(frames), frames / rate, r.passes,
                r.passes == 1 ? "" : "es", EndText(r.end));
    if (r.songKnown) {
        std::printf("song length: %.3f s, ended by %s", r.songFrames / rate, EndText(r.songEnd));
        if (r.songEnd == xmrender::End::Repeat) {
            std::printf(" (order position %u, row %u would play again)", r.endOrder, r.endRow);
        }
        std::printf("\n");
    } else {
        std::printf("song length: more than %.3f s (the time limit came first)\n", frames / rate);
    }
    std::printf("engine: %.1f ns per frame; whole run: %.3f s\n", frames ? ns / frames : 0.0,
                std::chrono::duration<double>(whole).count());
    return 0;
}
