// Pieces shared by the editor's source files.
#pragma once

#include "resedit/resedit.h"

#include <cstdint>
#include <string>
#include <vector>

namespace resedit::detail {

// The largest resource section the editor reads or writes: offsets in its entries keep the
// high bit free, and no image section is larger.
constexpr std::uint64_t kMaxSectionSize = 0x7FFFFFFF;

// Records why an operation failed (ResEditLastMessage).
void SetMessage(std::string message);

// Reads the resource tree of an opened file into handle.root.
bool ReadTree(TResEditHandle& handle, std::string& why);
// Rebuilds the resource section from the tree and writes it into the file.
bool WriteTree(TResEditHandle& handle, std::string& why);

// Moves length bytes of an open file from offset `from` to offset `to` (the ranges may
// overlap) with positioned reads and writes of buffer.size() bytes at a time, in the order
// that never overwrites bytes not yet read. On a failure the blocks already moved are moved
// back, so that [from, from + length) holds its bytes again (what was written outside it is
// not), and the result is false; `restored` is false when even that failed.
bool MoveFileBytes(platform::Os& os, platform::FileHandle file, std::uint64_t from,
                   std::uint64_t to, std::uint64_t length, std::vector<std::uint8_t>& buffer,
                   bool& restored);

// A directory item for key, not yet in the tree; null when out of memory or the name is
// unusable (empty or longer than 65535).
TPResItem NewDir(const ResKey& key);
// Puts a directory (its id or name set) or a leaf (its language in id) at its ordered place.
void LinkDir(platform::Os& os, TPResItem parent, TPResItem item);
void LinkLeaf(TPResItem nameDir, TPResItem leaf);

// A fresh item, zero-filled.
TPResItem NewItem(bool isDir);

// Hex digits, lowercase, at least minDigits of them.
std::u16string Hex(std::uint64_t value, int minDigits);

} // namespace resedit::detail
