// The executable resource editor: opens a Windows executable through a mapping of the whole
// file, reads its resource directory into a tree, lets callers add, replace and remove
// resources, and on closing rebuilds the resource section and writes it into the file in
// place, moving whatever follows it.
//
// Operations report through their results only (true/false, a handle or null). The reason of
// a failed open is left in the thread's last-error code; ResEditLastMessage() describes the
// failure of the last operation in words, with its place in the file where it has one.
#pragma once

#include "binary/pe.h"
#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace resedit {

// Resource types used by the icon operations.
constexpr std::uint16_t kTypeIcon = 3;
constexpr std::uint16_t kTypeGroupIcon = 14;

// Bytes up to this size given to the editor are kept in memory, larger ones in a
// temporary file of their leaf.
constexpr std::uint32_t kMaxInMemoryBytes = 32768;

// A resource type or name: an integer id or a text. The text "106" and the id 106 are
// different keys; text is never turned into a number.
class ResKey {
public:
    static ResKey FromId(std::uint16_t id) { return ResKey(true, id, {}); }
    static ResKey FromName(std::u16string_view name) { return ResKey(false, 0, name); }

    bool IsId() const { return isId_; }
    std::uint16_t Id() const { return id_; }
    const std::u16string& Name() const { return name_; }

    friend bool operator==(const ResKey& a, const ResKey& b) {
        return a.isId_ == b.isId_ && a.id_ == b.id_ && a.name_ == b.name_;
    }

private:
    ResKey(bool isId, std::uint16_t id, std::u16string_view name)
        : isId_(isId), id_(id), name_(name) {}
    bool isId_;
    std::uint16_t id_;
    std::u16string name_;
};

struct TResItem;
using TPResItem = TResItem*;

// One node of the resource tree: the root, a type, name or deeper directory, or a leaf (one
// language of a resource). Child lists hold the named children first, then the id children;
// namedItems and idItems count them. Entries read from the file keep its order; inserted ones
// go in ascending order (names case-insensitively, ids and languages numerically).
struct TResItem {
    std::int32_t id = 0;       // id of an id entry; a leaf's language; 0 for names and the root
    std::u16string name;       // name of a named entry, empty for an id entry
    bool named = false;        // a named entry (whose name a file may give as zero-length)
    TPResItem child = nullptr; // first child of a directory
    TPResItem next = nullptr;  // next sibling
    std::vector<std::uint8_t> strBuf; // bytes given to the editor, up to kMaxInMemoryBytes
    bool isDir = false;

    // Directory fields.
    std::uint32_t attr = 0; // Characteristics
    std::uint32_t time = 0; // TimeDateStamp
    std::uint16_t majorVer = 0;
    std::uint16_t minorVer = 0;
    std::uint32_t namedItems = 0;
    std::uint32_t idItems = 0;

    // Leaf fields. At most one holder of the bytes is in use: data (unchanged bytes in the
    // mapped file), strBuf, or fileBuf (the leaf's temporary file, for larger bytes).
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    platform::FileHandle fileBuf;
    std::u16string fileName; // the path of fileBuf's file (ResEditCreateTemp)
    std::uint32_t codePage = 0;
    std::uint32_t reserved = 0;
    // An unchanged leaf whose bytes lie in another section than the resource section (as
    // packers leave them): they stay where they are and its data entry keeps their address.
    // data points at them when the file holds them, and is null when only the loaded
    // program does (a section without bytes in the file, that the program fills itself).
    bool inPlace = false;
    std::uint32_t address = 0;
};

// One open executable: opened for reading and writing without sharing, mapped whole. Its
// headers are parsed once, by the open; the writer keeps their places unchanged.
struct TResEditHandle {
    platform::Os* os = nullptr;
    platform::FileHandle file;
    platform::MappedView view;        // the mapping and the view of the whole file
    std::uint8_t* peHeader = nullptr; // the PE signature inside the view
    TPResItem root = nullptr;
    binary::pe::Layout layout;         // where the header fields are
    std::uint32_t resourceSection = 0; // index of the section at the resource directory
};

// Opening and closing.
// dropExisting false reads the file's resources into the tree; true starts from an empty tree.
// Null on failure: the last-error code is the failing system call's, ERROR_FILE_NOT_FOUND (2)
// when no section starts at the resource directory, ERROR_BAD_EXE_FORMAT (193) for a file that
// is not a well-formed PE file.
[[nodiscard]] TResEditHandle* ResEditOpen(std::u16string_view fileName, bool dropExisting);
[[nodiscard]] TResEditHandle* ResEditOpen(platform::Os& os, std::u16string_view fileName,
                                          bool dropExisting);
// discard false writes the tree back and returns whether the new section is in the file; a
// failure leaves the file with its original bytes and length. discard true leaves the file
// unchanged. Frees the handle in every case; a null handle gives true.
[[nodiscard]] bool ResEditClose(TResEditHandle* handle, bool discard);

// Adds or replaces a resource (data given) or removes it (data null, whatever the size; give
// any other pointer for zero bytes), pruning directories left empty. False on a fault, the
// tree then unchanged.
[[nodiscard]] bool ResEditUpdate(TResEditHandle* handle, const ResKey& resType,
                                 const ResKey& resName, std::uint16_t language, const void* data,
                                 std::uint32_t size);
// True when the resource exists; data points at its unchanged bytes in the file, or is null
// for bytes set since the file was opened (ResEditGetBytes reads those) and for bytes that
// lie in a section the file holds no bytes of.
[[nodiscard]] bool ResEditGet(TResEditHandle* handle, const ResKey& resType, const ResKey& resName,
                              std::uint16_t language, const std::uint8_t*& data,
                              std::uint32_t& size);
// A copy of a resource's bytes from whichever holder has them.
[[nodiscard]] bool ResEditGetBytes(TResEditHandle* handle, const ResKey& resType,
                                   const ResKey& resName, std::uint16_t language,
                                   std::vector<std::uint8_t>& bytes);

// Icon groups (type 14) and their images (type 3).
[[nodiscard]] bool ResEditGetIconGroup(TResEditHandle* handle, const ResKey& groupName,
                                       std::uint16_t language, const std::uint8_t*& data);
[[nodiscard]] bool ResEditDeleteIconGroup(TResEditHandle* handle, const ResKey& groupName,
                                          std::uint16_t language);
// Replaces the group and its images by the images of an .ico file, reusing the old group's
// image ids. False, with the tree unchanged, when the icon file cannot be read or is
// malformed or a copy of its images cannot be made.
[[nodiscard]] bool ResEditReplaceIconGroup(TResEditHandle* handle, const ResKey& groupName,
                                           std::uint16_t language, std::u16string_view icoFileName);
// The smallest icon image id at or above start that no language uses (walking the ids in
// list order); stored back into start.
[[nodiscard]] std::int32_t ResEditNextIconId(TResEditHandle* handle, std::int32_t& start);

// Why the last editor operation on this thread failed, in words; empty after one that
// succeeded (every operation clears it when it starts).
const std::string& ResEditLastMessage();

// Tree operations (used by the operations above; open to callers that walk the tree).

// The link that points at the directory child matching key (ids match id entries, texts
// match names exactly), or the link at the end of the list.
TPResItem* ResFindEntry(TPResItem dir, const ResKey& key);
// The first leaf child with the language, or null.
TPResItem ResFindLeaf(TPResItem dir, std::uint16_t language);
// Creates an empty directory under parent at its ordered place; null when out of memory or
// when the parent cannot take another entry (65535 of a kind) or the name is unusable.
[[nodiscard]] TPResItem ResInsertDir(platform::Os& os, TPResItem parent, const ResKey& key);
// Creates a leaf for language under a name directory, at its ordered place, holding a copy
// of the bytes; null, with the tree unchanged, when the copy cannot be made.
[[nodiscard]] TPResItem ResInsertLeaf(platform::Os& os, TPResItem nameDir, std::uint16_t language,
                                      const void* data, std::uint32_t size);
// Gives a leaf a copy of new bytes, releasing its earlier copy. False when the copy cannot
// be made (the leaf then holds no bytes).
[[nodiscard]] bool ResSetLeafBytes(platform::Os& os, TPResItem leaf, std::uint16_t language,
                                   const void* data, std::uint32_t size);
// A copy of a leaf's bytes from its holder (the file view, strBuf or its temporary file).
[[nodiscard]] bool ResReadLeafBytes(platform::Os& os, const TResItem* leaf,
                                    std::vector<std::uint8_t>& bytes);

// One member of a removal chain: the directory and the link in it that points at the item.
struct ResChainLink {
    TPResItem parent;
    TPResItem* link;
};
// Removes chain[0]'s item with everything below it; each further member is removed too
// while its directory has become empty. The root is never in a chain.
void ResRemovePruned(platform::Os& os, const ResChainLink* chain, std::size_t count);
// Frees an item and everything below it; temporary files are closed and deleted.
void ResReleaseItem(platform::Os& os, TPResItem item);
// The path of an item's temporary file: the temp folder, "$qiv$res", "$", the process id as
// 8 lowercase hex digits, "$", the item's number in lowercase hex, "$".
std::u16string ResEditTempName(platform::Os& os, const TResItem* item);

// The most names ResEditCreateTemp tries after the stated one.
constexpr std::uint32_t kMaxTempNameSuffix = 0xFFF;
// Creates an item's temporary file, only ever as a new file: another program that can write
// to the temporary folder could have put a file or a link under the predictable name, and the
// elevated program must neither write through it nor change it. The stated name
// (ResEditTempName) is taken when nothing holds it; otherwise the first free name of the
// stated name followed by a number from 1 to kMaxTempNameSuffix in lowercase hex
// ("...$1", "...$2", ..., "...$a", ..., "...$fff"). A name held by anything is passed over, left
// as it is. name receives the path of the file created; an invalid handle when none could be
// (the last-error code is the last attempt's: kFileExists when every name was held).
[[nodiscard]] platform::FileHandle ResEditCreateTemp(platform::Os& os, const TResItem* item,
                                                     std::u16string& name);

} // namespace resedit
