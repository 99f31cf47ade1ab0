#include "patch/stringpatch.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace patch {

namespace {

// One read covers this many bytes of candidate positions (plus the tail of the last one).
constexpr std::size_t kBlockBytes = 4u << 20;
constexpr std::uint64_t kRecordBytes = 2;

std::vector<unsigned char> Utf16Le(std::u16string_view text) {
    std::vector<unsigned char> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return bytes;
}

} // namespace

std::u16string StringPatchFailureText(const std::u16string& path) {
    return u"Could not write changes to file:" + path +
           u"\n\rМожет он у вас запущен? проверьте в диспетчере задач \"itools.exe\"";
}

bool RewriteUtf16(platform::Os& os, const std::u16string& path, std::u16string_view search,
                  std::u16string_view replacement, std::size_t blockBytes) {
    if (search.empty() || replacement.size() != search.size()) {
        return false;
    }
    platform::ScopedFile file(
        os, os.OpenExisting(path, platform::Access::ReadWrite, platform::Share::ReadWrite));
    if (!file.IsValid()) {
        return false;
    }
    const std::vector<unsigned char> pattern = Utf16Le(search);
    const std::vector<unsigned char> written = Utf16Le(replacement);
    const std::uint64_t units = search.size();
    const std::uint64_t blockPositions = std::max<std::uint64_t>(1, blockBytes / kRecordBytes);
    const std::boyer_moore_horspool_searcher searcher(pattern.begin(), pattern.end());
    std::vector<unsigned char> buffer;

    // Record 0 is never tested; a candidate p needs p < R - units - 1, so the last one is
    // R - units - 2 and the file's final two records never take part in a match.
    std::uint64_t p = 1;
    for (;;) {
        std::uint64_t length = 0;
        if (!os.GetLength(file.Get(), length)) {
            return false;
        }
        const std::uint64_t records = length / kRecordBytes;
        if (records < units + 2 || p + units + 1 >= records) {
            return true;
        }
        const std::uint64_t last = records - units - 2;
        const std::uint64_t count = std::min(blockPositions, last - p + 1);
        const std::size_t bytes = static_cast<std::size_t>((count + units - 1) * kRecordBytes);
        buffer.resize(bytes);
        std::size_t got = 0;
        if (!os.ReadAt(file.Get(), p * kRecordBytes, buffer.data(), bytes, got) || got != bytes) {
            return false;
        }
        // Matches that start at an even buffer offset below the block's last candidate.
        const auto end = buffer.begin() + static_cast<std::ptrdiff_t>(bytes);
        const std::size_t limit = static_cast<std::size_t>(count * kRecordBytes);
        auto from = buffer.begin();
        for (;;) {
            const auto hit = std::search(from, end, searcher);
            const std::size_t at = static_cast<std::size_t>(hit - buffer.begin());
            if (hit == end || at >= limit) {
                break;
            }
            if (at % kRecordBytes == 0) {
                if (!os.WriteAt(file.Get(), p * kRecordBytes + at, written.data(),
                                written.size())) {
                    return false;
                }
                // Later candidates see the file as it is now.
                std::memcpy(buffer.data() + at, written.data(), written.size());
            }
            from = hit + 1;
        }
        p += count;
    }
}

bool PatchExeString(platform::Os& os, Reporter& reporter, const std::u16string& targetDir,
                    std::u16string_view replacement) {
    const std::u16string path = targetDir + std::u16string(kStringPatchTarget);
    bool ok = false;
    try {
        ok = replacement.size() == kPackNameUnits &&
             RewriteUtf16(os, path, kPackNameInTarget, replacement, kBlockBytes);
    } catch (...) {
        ok = false; // out of memory or any other fault: the same report
    }
    if (!ok) {
        reporter.ShowMessage(StringPatchFailureText(path));
    }
    return ok;
}

bool RevertExeString(platform::Os& os, const std::u16string& targetDir,
                     std::u16string_view replacement) {
    try {
        return replacement.size() == kPackNameUnits &&
               RewriteUtf16(os, targetDir + std::u16string(kStringPatchTarget), replacement,
                            kPackNameInTarget, kBlockBytes);
    } catch (...) {
        return false;
    }
}

} // namespace patch
