// Pieces shared by the editor's source files.
#pragma once

#include "binary/error.h"
#include "binary/pe.h"
#include "resedit/resedit.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace resedit::detail {

// The largest resource section the editor reads or writes: offsets in its entries keep the
// high bit free, and no image section is larger.
constexpr std::uint64_t kMaxSectionSize = 0x7FFFFFFF;

// The edge of every operation: it starts with the message cleared and, when it fails, leaves
// the error's text (with its place in the file) as the message (ResEditLastMessage).
void ClearMessage();
void SetMessage(const binary::Error& error);
// True when done; otherwise the error becomes the message.
template <typename T> [[nodiscard]] bool Report(const binary::Expected<T>& result) {
    if (!result) {
        SetMessage(result.error());
        return false;
    }
    return true;
}

// Opens and maps the file, finds its layout and resource section (kept in the handle) and
// reads the tree (or starts an empty one).
[[nodiscard]] binary::Status OpenFile(TResEditHandle& handle, std::u16string_view fileName,
                                      bool dropExisting);
// Reads the resource tree of an opened file into handle.root.
[[nodiscard]] binary::Status ReadTree(TResEditHandle& handle);
// Rebuilds the resource section from the tree and writes it into the file.
[[nodiscard]] binary::Status WriteTree(TResEditHandle& handle);

// Removes a resource as ResEditUpdate does without data (which cannot fail).
void RemoveResource(TResEditHandle& handle, const ResKey& resType, const ResKey& resName,
                    std::uint16_t language);

// Word sums of the bytes a transfer carries, for the PE checksum: at the place they are read
// from and at the place they are written to (either may be left out).
struct Sums {
    binary::pe::WordSum* source = nullptr;
    binary::pe::WordSum* destination = nullptr;
};

// How a move of file bytes ended.
enum class Moved {
    All,     // every byte is at its new place
    Back,    // a step failed; what had moved is back at its old place
    Damaged, // a step failed, and so did moving back
};
// Moves length bytes of an open file from offset `from` to offset `to` (the ranges may
// overlap) with positioned reads and writes of buffer.size() bytes at a time, in the order
// that never overwrites bytes not yet read. On a failure the blocks already moved are moved
// back, so that [from, from + length) holds its bytes again (what was written outside it is
// not); the thread's last-error code is the failing call's. The sums take the bytes as they
// pass (complete only when every byte moved).
[[nodiscard]] Moved MoveFileBytes(platform::Os& os, platform::FileHandle file, std::uint64_t from,
                                  std::uint64_t to, std::uint64_t length,
                                  std::vector<std::uint8_t>& buffer, Sums sums = {});
// Copies length bytes from offset `fromOffset` of one open file to offset `toOffset` of another
// with positioned reads and writes of buffer.size() bytes at a time. False when a read, a
// write or the source's end stops it (the last-error code says which); the destination may
// then hold part of the bytes. The sums take the bytes as they pass.
[[nodiscard]] bool CopyFileBytes(platform::Os& os, platform::FileHandle from,
                                 std::uint64_t fromOffset, platform::FileHandle to,
                                 std::uint64_t toOffset, std::uint64_t length,
                                 std::vector<std::uint8_t>& buffer, Sums sums = {});
// Adds the word sum of length bytes of an open file from offset on, read in blocks of
// buffer.size(). False when a read or the file's end stops it.
[[nodiscard]] bool SumFileBytes(platform::Os& os, platform::FileHandle file, std::uint64_t offset,
                                std::uint64_t length, std::vector<std::uint8_t>& buffer,
                                binary::pe::WordSum& sum);

// A directory item for key, not yet in the tree; null when out of memory or the name is
// unusable (empty or longer than 65535).
TPResItem NewDir(const ResKey& key);
// Puts a directory (its id or name set) or a leaf (its language in id) at its ordered place.
void LinkDir(platform::Os& os, TPResItem parent, TPResItem item);
void LinkLeaf(TPResItem nameDir, TPResItem leaf);

// A fresh item, zero-filled.
TPResItem NewItem(bool isDir);

// The tree operations behind the public ones, reporting why they fail.
[[nodiscard]] binary::Expected<TPResItem> InsertDir(platform::Os& os, TPResItem parent,
                                                    const ResKey& key);
[[nodiscard]] binary::Expected<TPResItem> InsertLeaf(platform::Os& os, TPResItem nameDir,
                                                     std::uint16_t language, const void* data,
                                                     std::uint32_t size);
[[nodiscard]] binary::Status SetLeafBytes(platform::Os& os, TPResItem leaf, std::uint16_t language,
                                          const void* data, std::uint32_t size);
[[nodiscard]] binary::Status ReadLeafBytes(platform::Os& os, const TResItem* leaf,
                                           std::vector<std::uint8_t>& bytes);

// Hex digits, lowercase, at least minDigits of them.
std::u16string Hex(std::uint64_t value, int minDigits);

} // namespace resedit::detail
