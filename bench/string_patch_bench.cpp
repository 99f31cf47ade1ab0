// Throughput of the string patch on a large page-cached file, and of the naive scan it
// replaces (one positioned 22-byte read per 2-byte step).
//
//   string_patch_bench [MEGABYTES [FOLDER]]      (default 200 MB in the temporary folder)
#include "patch/stringpatch.h"
#include "platform/file.h"
#include "platform/text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The position-by-position scan: what the patch must match, at its cost.
bool NaiveScan(platform::Os& os, platform::FileHandle file, std::uint64_t limitBytes,
               std::uint64_t& found) {
    static const char16_t kName[] = u"res_cn.data";
    std::uint64_t length = 0;
    if (!os.GetLength(file, length)) {
        return false;
    }
    const std::uint64_t records = std::min(length, limitBytes) / 2;
    unsigned char buffer[22];
    for (std::uint64_t p = 1; p + 12 < records; ++p) {
        std::size_t got = 0;
        if (!os.ReadAt(file, 2 * p, buffer, sizeof buffer, got) || got != sizeof buffer) {
            return false;
        }
        bool match = true;
        for (int i = 0; i < 11 && match; ++i) {
            match = buffer[2 * i] == static_cast<unsigned char>(kName[i]) && buffer[2 * i + 1] == 0;
        }
        found += match;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    platform::Os& os = platform::SystemOs();
    std::u16string folder = argc > 2 ? platform::Utf16(argv[2]) : os.TempFolder();
    if (!folder.empty() && folder.back() != u'/' && folder.back() != u'\\') {
        folder += u'/';
    }
    const std::u16string path = folder + u"itools.exe";
    const std::uint64_t size = megabytes << 20;

    // A file of executable-like bytes with the name in it every 16 MB, at even offsets.
    {
        platform::ScopedFile f(os, os.CreateAlways(path));
        if (!f.IsValid()) {
            std::fprintf(stderr, "cannot create %s\n", platform::Utf8(path).c_str());
            return 1;
        }
        std::vector<unsigned char> chunk(1 << 20);
        std::uint32_t x = 12345;
        for (auto& b : chunk) {
            x = x * 1664525 + 1013904223;
            b = static_cast<unsigned char>(x >> 24);
        }
        const char16_t name[] = u"res_cn.data";
        for (std::uint64_t at = 0; at < size; at += chunk.size()) {
            std::vector<unsigned char> c = chunk;
            if ((at >> 20) % 16 == 5) {
                for (int i = 0; i < 11; ++i) {
                    c[1000 + 2 * i] = static_cast<unsigned char>(name[i]);
                    c[1001 + 2 * i] = 0;
                }
            }
            if (!os.WriteAt(f.Get(), at, c.data(), c.size())) {
                std::fprintf(stderr, "cannot write the file\n");
                return 1;
            }
        }
    }

    // The first run rewrites the matches; later runs scan and find nothing.
    std::vector<double> runs;
    for (int i = 0; i < 4; ++i) {
        const auto t0 = Clock::now();
        const binary::Status done =
            patch::RewriteUtf16(os, path, u"res_cn.data", u"res_ru.data", 4u << 20);
        if (!done) {
            std::fprintf(stderr, "the patch failed: %s\n", done.error().Text().c_str());
            return 1;
        }
        runs.push_back(Seconds(Clock::now() - t0));
    }
    const double best = *std::min_element(runs.begin() + 1, runs.end());
    std::printf("file: %llu MB\n", static_cast<unsigned long long>(megabytes));
    std::printf("block-wise patch, first run (rewrites %llu names): %.3f s, %.0f MB/s\n",
                static_cast<unsigned long long>(megabytes > 5 ? (megabytes - 6) / 16 + 1 : 0),
                runs[0], megabytes / runs[0]);
    std::printf("block-wise patch, page-cached rescan: %.3f s, %.2f GB/s\n", best,
                megabytes / 1024.0 / best);

    // The naive scan over a part of the file, extrapolated to the whole.
    const std::uint64_t naiveBytes = std::min<std::uint64_t>(size, 16u << 20);
    platform::ScopedFile f(
        os, os.OpenExisting(path, platform::Access::Read, platform::Share::ReadWrite));
    std::uint64_t found = 0;
    const auto t0 = Clock::now();
    if (!f.IsValid() || !NaiveScan(os, f.Get(), naiveBytes, found)) {
        std::fprintf(stderr, "the naive scan failed\n");
        return 1;
    }
    const double naive = Seconds(Clock::now() - t0);
    const double whole = naive * static_cast<double>(size) / static_cast<double>(naiveBytes);
    std::printf("naive scan (one 22-byte read per position): %.3f s for %llu MB, about %.1f s for "
                "the whole "
                "file (%.1f MB/s)\n",
                naive, static_cast<unsigned long long>(naiveBytes >> 20), whole, megabytes / whole);
    os.Delete(path);
    return 0;
}
