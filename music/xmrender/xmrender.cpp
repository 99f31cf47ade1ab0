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
#include "music/xmrender/render_song.h"
#include "platform/library_search.h"

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
        // At best: the write's failure is what the user is told, whether or not this works.
        (void)std::filesystem::remove(name, ec);
    }
}

// What the command line asks for.
struct Options {
    double seconds = 0;
    bool noLoop = false;
    long loops = 0;
    std::vector<std::string> files; // the module, the WAV file
};

constexpr int kGoOn = -1; // not an exit code: the command line asks for a render

// The command line into options; an exit code when it asks for help or is wrong.
int ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            char* end = nullptr;
            o.seconds = std::strtod(argv[++i], &end);
            if (!end || *end || !(o.seconds > 0) || o.seconds > kMaxSeconds) {
                std::fprintf(stderr,
                             "xmrender: --seconds wants a number above 0 and up to %g (what a "
                             "WAV file holds)\n",
                             kMaxSeconds);
                return 2;
            }
        } else if (a == "--loops" && i + 1 < argc) {
            char* end = nullptr;
            o.loops = std::strtol(argv[++i], &end, 10);
            if (!end || *end || o.loops < 1 || o.loops > kMaxLoops) {
                std::fprintf(stderr, "xmrender: --loops wants a whole number from 1 to %ld\n",
                             kMaxLoops);
                return 2;
            }
        } else if (a == "--no-loop") {
            o.noLoop = true;
        } else if (a == "-h" || a == "--help") {
            Usage();
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "xmrender: unknown option %s\n", a.c_str());
            Usage();
            return 2;
        } else {
            o.files.push_back(a);
        }
    }
    if (o.noLoop && o.loops > 1) {
        std::fprintf(stderr, "xmrender: --no-loop renders the song once; it takes no --loops\n");
        return 2;
    }
    if (o.files.size() != 2) {
        Usage();
        return 2;
    }
    const bool looping = !o.noLoop && o.loops == 0;
    if (o.seconds == 0) {
        o.seconds = looping ? kLoopingSeconds : kDefaultSeconds;
    }
    if (looping) {
        o.loops = kMaxLoops; // the time limit ends it
    }
    return kGoOn;
}

// The module file through the loader into the engine and the arena (which may be null: no
// memory); false after saying why not.
bool LoadInput(const std::string& name, music::Engine& engine, platform::HeapArena* arena) {
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "xmrender: cannot open %s\n", name.c_str());
        return false;
    }
    const std::vector<unsigned char> module((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
    if (module.size() > 0xFFFFFFFFu) {
        std::fprintf(stderr, "xmrender: %s is larger than 4 GB\n", name.c_str());
        return false;
    }
    const binary::Status loaded =
        arena ? music::LoadFromMemory(engine, module.data(),
                                      static_cast<std::uint32_t>(module.size()), arena)
              : binary::OutOfMemory("out of memory");
    if (!loaded) {
        std::fprintf(stderr, "xmrender: %s is not an XM module the player accepts: %s\n",
                     name.c_str(), loaded.error().Text().c_str());
        return false;
    }
    return true;
}

// The output file, opened with a placeholder header (written in full at the end, with the
// sizes); false after saying why not.
bool OpenOutput(const std::string& name, FileSink& sink) {
    const std::vector<unsigned char> placeholder = WavHeader(0);
    errno = 0;
    sink.file = std::fopen(name.c_str(), "wb");
    if (!sink.file || std::setvbuf(sink.file, nullptr, _IOFBF, kFileBuffer) != 0 ||
        std::fwrite(placeholder.data(), 1, placeholder.size(), sink.file) != placeholder.size()) {
        const int error = errno ? errno : EIO;
        if (sink.file) {
            (void)std::fclose(sink.file); // the file is removed; the first failure is said
            RemoveFile(name);
        }
        std::fprintf(stderr, "xmrender: cannot write %s: %s\n", name.c_str(), std::strerror(error));
        return false;
    }
    return true;
}

// The header with the sizes, and the file closed; false, with the file removed, after saying
// why not.
bool FinishOutput(const std::string& name, const xmrender::Outcome& r, FileSink& sink) {
    int error = sink.error;
    if (!r.sinkFailed) {
        const std::vector<unsigned char> header = WavHeader(static_cast<std::uint32_t>(r.frames));
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
        RemoveFile(name);
        std::fprintf(stderr, "xmrender: cannot write %s: %s\n", name.c_str(), std::strerror(error));
        return false;
    }
    return true;
}

void Report(const xmrender::Outcome& r, std::chrono::steady_clock::duration whole) {
    const std::uint64_t frames = r.frames;
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
}

} // namespace

int main(int argc, char** argv) {
    platform::LimitLibrarySearch();
    const auto runStart = std::chrono::steady_clock::now();
    Options o;
    if (const int rc = ParseOptions(argc, argv, o); rc != kGoOn) {
        return rc;
    }
    auto engine = std::make_unique<music::Engine>();
    platform::HeapArena* arena = platform::ArenaCreate();
    FileSink sink;
    if (!LoadInput(o.files[0], *engine, arena) || !OpenOutput(o.files[1], sink)) {
        platform::ArenaDestroy(arena);
        return 1;
    }
    const std::uint64_t wanted = static_cast<std::uint64_t>(o.seconds * music::kOutputRate + 0.5);
    const xmrender::Outcome r =
        xmrender::RenderSong(*engine, o.loops > 0 ? static_cast<int>(o.loops) : 1, wanted, sink);
    platform::ArenaDestroy(arena);
    if (!FinishOutput(o.files[1], r, sink)) {
        return 1;
    }
    Report(r, std::chrono::steady_clock::now() - runStart);
    return 0;
}
