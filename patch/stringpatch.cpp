// The string patch: the resource-pack name inside the target executable found and rewritten
// in place, block by block.
#include "patch/stringpatch.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <vector>

namespace patch {

namespace {

// One read covers this many bytes of candidate positions (plus the tail of the last one).
constexpr std::size_t kBlockBytes = 4u << 20;
constexpr std::uint64_t kRecordBytes = 2;

using binary::ErrorCode;
using Searcher = std::boyer_moore_horspool_searcher<std::vector<unsigned char>::const_iterator>;

std::vector<unsigned char> Utf16Le(std::u16string_view text) {
    std::vector<unsigned char> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return bytes;
}

// Counts the matches in one block read from the file at record p, those that start at an even
// offset below `limit` (the block's last candidate), and rewrites each when `written` holds a
// replacement. Later candidates see the file as it is after each write.
binary::Status RewriteBlock(platform::Os& os, platform::FileHandle file, std::uint64_t p,
                            std::vector<unsigned char>& buffer, std::size_t limit,
                            const Searcher& searcher, const std::vector<unsigned char>& written,
                            std::uint64_t& found) {
    auto from = buffer.begin();
    for (;;) {
        const auto hit = std::search(from, buffer.end(), searcher);
        const std::size_t at = static_cast<std::size_t>(hit - buffer.begin());
        if (hit == buffer.end() || at >= limit) {
            return binary::Ok();
        }
        if (at % kRecordBytes == 0) {
            if (!written.empty()) {
                const std::uint64_t offset = p * kRecordBytes + at;
                if (!os.WriteAt(file, offset, written.data(), written.size())) {
                    return binary::Fault(ErrorCode::Io, "cannot write the file", offset,
                                         written.size());
                }
                std::memcpy(buffer.data() + at, written.data(), written.size());
            }
            ++found;
        }
        from = hit + 1;
    }
}

// The scan, block by block, over the file as it is at each block. Without a replacement the
// file is only read.
binary::Status Scan(platform::Os& os, const std::u16string& path, std::u16string_view search,
                    std::optional<std::u16string_view> replacement, std::size_t blockBytes,
                    std::uint64_t& found) {
    platform::ScopedFile file(
        os,
        os.OpenExisting(path, replacement ? platform::Access::ReadWrite : platform::Access::Read,
                        platform::Share::ReadWrite));
    if (!file.IsValid()) {
        return binary::Fault(ErrorCode::Io, "cannot open the file");
    }
    const std::vector<unsigned char> pattern = Utf16Le(search);
    const std::vector<unsigned char> written =
        replacement ? Utf16Le(*replacement) : std::vector<unsigned char>{};
    const std::uint64_t units = search.size();
    const std::uint64_t blockPositions = std::max<std::uint64_t>(1, blockBytes / kRecordBytes);
    const Searcher searcher(pattern.begin(), pattern.end());
    std::vector<unsigned char> buffer;

    // Record 0 is never tested; a candidate p needs p < R - units - 1, so the last one is
    // R - units - 2 and the file's final two records never take part in a match.
    std::uint64_t p = 1;
    for (;;) {
        std::uint64_t length = 0;
        if (!os.GetLength(file.Get(), length)) {
            return binary::Fault(ErrorCode::Io, "cannot get the file's length");
        }
        const std::uint64_t records = length / kRecordBytes;
        if (records < units + 2 || p + units + 1 >= records) {
            break;
        }
        const std::uint64_t last = records - units - 2;
        const std::uint64_t count = std::min(blockPositions, last - p + 1);
        const std::size_t bytes = static_cast<std::size_t>((count + units - 1) * kRecordBytes);
        buffer.resize(bytes);
        std::size_t got = 0;
        if (!os.ReadAt(file.Get(), p * kRecordBytes, buffer.data(), bytes, got) || got != bytes) {
            return binary::Fault(ErrorCode::Io, "cannot read the file", p * kRecordBytes, bytes);
        }
        binary::Status block =
            RewriteBlock(os, file.Get(), p, buffer, static_cast<std::size_t>(count * kRecordBytes),
                         searcher, written, found);
        if (!block) {
            return block;
        }
        p += count;
    }
    // Closing can be where a write turns out to have failed; it counts like the others.
    if (!file.Close()) {
        return binary::Fault(ErrorCode::Io, "cannot close the file");
    }
    return binary::Ok();
}

binary::Status ScanChecked(platform::Os& os, const std::u16string& path, std::u16string_view search,
                           std::optional<std::u16string_view> replacement, std::size_t blockBytes,
                           std::uint64_t& found) {
    found = 0;
    if (search.empty() || (replacement && replacement->size() != search.size())) {
        return binary::Fault(ErrorCode::InvalidArgument,
                             "the replacement is not as long as the text it replaces");
    }
    try {
        return Scan(os, path, search, replacement, blockBytes, found);
    } catch (const std::bad_alloc&) {
        return binary::OutOfMemory("no memory for the string patch's buffers");
    }
}

} // namespace

std::u16string StringPatchFailureText(const std::u16string& path) {
    return u"Could not write changes to file:" + path +
           u"\n\rМожет он у вас запущен? проверьте в диспетчере задач \"itools.exe\"";
}

binary::Status RewriteUtf16(platform::Os& os, const std::u16string& path,
                            std::u16string_view search, std::u16string_view replacement,
                            std::size_t blockBytes, std::uint64_t* rewritten) {
    std::uint64_t found = 0;
    binary::Status done = ScanChecked(os, path, search, replacement, blockBytes, found);
    if (rewritten) {
        *rewritten = found;
    }
    return done;
}

binary::Expected<std::uint64_t> CountUtf16(platform::Os& os, const std::u16string& path,
                                           std::u16string_view search) {
    std::uint64_t found = 0;
    binary::Status done = ScanChecked(os, path, search, std::nullopt, kBlockBytes, found);
    if (!done) {
        return done.TakeError();
    }
    return found;
}

binary::Status PatchExeString(platform::Os& os, MessageBoxes& boxes,
                              const std::u16string& targetDir, std::u16string_view replacement,
                              std::uint64_t* rewritten) {
    const std::u16string path = targetDir + std::u16string(kStringPatchTarget);
    if (rewritten) {
        *rewritten = 0;
    }
    binary::Status done =
        replacement.size() == kPackNameUnits
            ? RewriteUtf16(os, path, kPackNameInTarget, replacement, kBlockBytes, rewritten)
            : binary::Fault(ErrorCode::InvalidArgument, "the replacement is not 11 code units");
    if (!done) {
        // The same report whatever the cause: a missing file, no access, no memory.
        boxes.ShowMessage(StringPatchFailureText(path));
    }
    return done;
}

binary::Status RevertExeString(platform::Os& os, const std::u16string& targetDir,
                               std::u16string_view replacement) {
    if (replacement.size() != kPackNameUnits) {
        return binary::Fault(ErrorCode::InvalidArgument, "the replacement is not 11 code units");
    }
    return RewriteUtf16(os, targetDir + std::u16string(kStringPatchTarget), replacement,
                        kPackNameInTarget, kBlockBytes);
}

} // namespace patch
