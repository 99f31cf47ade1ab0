// The resource section writer: builds the new section from the tree in a mapped temporary
// file, then puts it into the executable in place, moving what follows it and updating the
// headers. Bytes move between the files with positioned reads and writes in blocks (the
// leaves' bytes into the image, the tail, the image into the executable): through a mapping,
// every page would cost a fault of its own.
//
// Everything that can be checked is checked before the executable changes: the layout is
// checked and every header change is planned on a copy, the image is complete beside a copy
// of the old section, and growing the file reserves its disk space. A failure after the
// executable has changed (moving the tail, writing the section, or cutting the file when it
// shrinks) is undone: moved bytes are moved back, and overwritten ones come back from a copy.
#include "binary/pe.h"
#include "resedit/internal.h"

#include <algorithm>
#include <cstring>

namespace resedit {

namespace {

using namespace binary::pe;
using binary::ErrorCode;
using binary::Load32;
using binary::Store16;
using binary::Store32;
constexpr std::uint64_t kMaxSection = detail::kMaxSectionSize;
constexpr std::uint32_t kMaxFileAlignment = 0x10000;

std::uint64_t RoundUp(std::uint64_t x, std::uint64_t a) {
    return (x + a - 1) / a * a;
}

struct Sizes {
    std::uint64_t dirSize = 0;
    std::uint64_t strSize = 0;
    std::uint64_t dataSize = 0;
};

// Measures the tree, refusing what the format cannot hold (more than 65535 entries of a kind,
// names longer than 65535) and child lists that break the named-first invariant.
binary::Status Measure(const TResItem* item, Sizes& sizes) {
    if (!item->isDir) {
        sizes.dirSize += kDataEntrySize;
        sizes.dataSize += RoundUp(item->size, 4);
        return binary::Ok();
    }
    if (item->namedItems > 0xFFFF || item->idItems > 0xFFFF) {
        return binary::Fault(ErrorCode::Unsupported,
                             "a resource directory has more than 65535 entries of a kind");
    }
    sizes.dirSize += kDirTableSize + kEntrySize * (std::uint64_t{item->namedItems} + item->idItems);
    std::uint64_t j = 0;
    for (const TResItem* child = item->child; child; child = child->next, ++j) {
        if (child->named != (j < item->namedItems)) {
            return binary::Fault(ErrorCode::Malformed,
                                 "a resource directory's named entries are not first");
        }
        if (child->named) {
            if (child->name.size() > 0xFFFF) {
                return binary::Fault(ErrorCode::Unsupported,
                                     "a resource name is longer than 65535 characters");
            }
            sizes.strSize += 2 + 2 * std::uint64_t{child->name.size()};
        }
        binary::Status measured = Measure(child, sizes);
        if (!measured) {
            return measured;
        }
    }
    if (j != std::uint64_t{item->namedItems} + item->idItems) {
        return binary::Fault(ErrorCode::Malformed,
                             "a resource directory's entry counts do not match its entries");
    }
    return binary::Ok();
}

// Bytes of a leaf that a file holds (the executable, for an unchanged leaf, or the leaf's own
// temporary file): copied into the image with positioned transfers once the tree is written.
struct LeafCopy {
    platform::FileHandle from;
    std::uint64_t fromOffset = 0;
    std::uint64_t toOffset = 0;
    std::uint64_t size = 0;
    const char* failure; // what a failed copy reports
};

// Writes the directory area, the string area and the data area, depth first: tables, names
// and bytes held in memory into the image's view, bytes held in files as copies to make.
struct ImageWriter {
    std::uint8_t* image;
    std::uint32_t va;
    std::uint64_t dirPos;
    std::uint64_t strPos;
    std::uint64_t dataPos;
    const platform::MappedView& source; // the executable's view, where unchanged leaves lie
    platform::FileHandle sourceFile;
    std::vector<LeafCopy>& copies;

    void Write(const TResItem* item) { item->isDir ? WriteDirectory(item) : WriteLeaf(item); }

    void WriteLeaf(const TResItem* item) {
        std::uint8_t* at = image + dirPos;
        Store32(at + kDataOffsetToData, static_cast<std::uint32_t>(va + dataPos));
        Store32(at + kDataSize, item->size);
        Store32(at + kDataCodePage, item->codePage);
        Store32(at + kDataReserved, item->reserved);
        dirPos += kDataEntrySize;
        if (item->data) {
            // Open points every unchanged leaf into the view: its bytes lie at the same
            // offset of the file.
            copies.push_back({sourceFile, static_cast<std::uint64_t>(item->data - source.base),
                              dataPos, item->size,
                              "cannot copy a resource's bytes into the temporary file"});
        } else if (!item->strBuf.empty()) {
            std::memcpy(image + dataPos, item->strBuf.data(),
                        std::min<std::size_t>(item->strBuf.size(), item->size));
        } else if (item->fileBuf.IsValid()) {
            copies.push_back({item->fileBuf, 0, dataPos, item->size,
                              "cannot read back the temporary file of a resource"});
        }
        dataPos += RoundUp(item->size, 4);
    }

    void WriteDirectory(const TResItem* item) {
        std::uint8_t* at = image + dirPos;
        Store32(at + kDirCharacteristics, item->attr);
        Store32(at + kDirTimeDateStamp, item->time);
        Store16(at + kDirMajorVersion, item->majorVer);
        Store16(at + kDirMinorVersion, item->minorVer);
        Store16(at + kDirNamedEntries, static_cast<std::uint16_t>(item->namedItems));
        Store16(at + kDirIdEntries, static_cast<std::uint16_t>(item->idItems));
        std::uint8_t* entry = at + kDirTableSize;
        dirPos += kDirTableSize + kEntrySize * (std::uint64_t{item->namedItems} + item->idItems);
        std::uint32_t j = 0;
        for (const TResItem* child = item->child; child;
             child = child->next, ++j, entry += kEntrySize) {
            if (j < item->namedItems) {
                Store32(entry + kEntryName, kNameFlag | static_cast<std::uint32_t>(strPos));
                WriteName(child->name);
            } else {
                Store32(entry + kEntryName, static_cast<std::uint32_t>(child->id));
            }
            Store32(entry + kEntryOffsetToData,
                    static_cast<std::uint32_t>(dirPos) | (child->isDir ? kSubdirectoryFlag : 0));
            Write(child);
        }
    }

    void WriteName(const std::u16string& name) {
        std::uint8_t* s = image + strPos;
        Store16(s, static_cast<std::uint16_t>(name.size()));
        for (std::size_t k = 0; k < name.size(); ++k) {
            Store16(s + 2 + 2 * k, name[k]);
        }
        strPos += 2 + 2 * std::uint64_t{name.size()};
    }
};

// Everything the writer will do, worked out before anything is changed.
struct Plan {
    std::uint32_t raw = 0;        // file offset of the resource section
    std::uint32_t rva = 0;        // its address
    std::uint32_t newSize = 0;    // bytes of the new section
    std::uint32_t newRaw = 0;     // its size in the file
    std::uint64_t newVirtual = 0; // its size in memory
    std::int64_t rawDelta = 0;
    std::int64_t virtualDelta = 0;
    std::uint64_t tailStart = 0;
    std::uint64_t tailLength = 0;
    std::uint64_t fileLength = 0;
    std::uint64_t newLength = 0;
    std::vector<std::uint8_t> headers; // [0, end of the section table) as they will be
    bool hasDebug = false;
    std::uint64_t debugOffset = 0; // after the move
    std::uint64_t debugCount = 0;

    bool MovesWithTail(std::uint32_t pointer) const { return pointer >= tailStart; }
    bool InsideResources(std::uint32_t pointer) const {
        return pointer >= raw && pointer < tailStart;
    }
    void Update(std::uint32_t at, std::uint32_t value) { Store32(headers.data() + at, value); }
    std::uint32_t Header(std::uint32_t at) const { return Load32(headers.data() + at); }
};

std::uint32_t Add(std::uint32_t value, std::int64_t delta) {
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(value) + delta);
}

struct Alignment {
    std::uint32_t file = 0;
    std::uint32_t section = 0;
};

// The format wants powers of two, the file alignment at most 64 KB and not above the section
// alignment; anything else would make the file grow by whatever it says.
binary::Expected<Alignment> ReadAlignment(const binary::Reader& file, const Layout& layout) {
    const Alignment a{Load32(file.Data() + layout.Optional(kFileAlignment)),
                      Load32(file.Data() + layout.Optional(kSectionAlignment))};
    const std::uint32_t at = layout.Optional(kSectionAlignment);
    if (a.file == 0 || a.section == 0) {
        return file.Fault(ErrorCode::Malformed, "the headers give an alignment of 0", at, 8);
    }
    auto powerOfTwo = [](std::uint32_t x) { return (x & (x - 1)) == 0; };
    if (!powerOfTwo(a.file) || !powerOfTwo(a.section) || a.file > kMaxFileAlignment ||
        a.file > a.section) {
        return file.Fault(ErrorCode::Unsupported,
                          "the headers give an alignment the format does not allow", at, 8);
    }
    return a;
}

// The new section's sizes, how far it and the tail behind it move, and the file's new length.
binary::Status PlanSizes(const binary::Reader& file, const Layout& layout, std::uint32_t r,
                         const Sizes& sizes, const Alignment& alignment, Plan& plan) {
    const Section res = ReadSection(file, layout, r);
    const std::uint32_t header = layout.Section(r);
    plan.rva = res.virtualAddress;
    const std::uint64_t newSize = RoundUp(sizes.dirSize + sizes.strSize, 4) + sizes.dataSize;
    const std::uint64_t newRaw = RoundUp(newSize, alignment.file);
    plan.newVirtual = RoundUp(newSize, alignment.section);
    const std::uint64_t oldVirtual =
        RoundUp(Directory(file, layout, kDirResource).size, alignment.section);
    if (newSize > kMaxSection || newRaw > UINT32_MAX || plan.rva + plan.newVirtual > UINT32_MAX) {
        return binary::Fault(ErrorCode::Unsupported, "the new resource section would be too large");
    }
    plan.raw = res.pointerToRawData;
    plan.newSize = static_cast<std::uint32_t>(newSize);
    plan.newRaw = static_cast<std::uint32_t>(newRaw);
    plan.rawDelta = static_cast<std::int64_t>(newRaw) - res.sizeOfRawData;
    plan.virtualDelta =
        static_cast<std::int64_t>(plan.newVirtual) - static_cast<std::int64_t>(oldVirtual);
    if (plan.rawDelta > INT32_MAX || plan.rawDelta < INT32_MIN || plan.virtualDelta > INT32_MAX ||
        plan.virtualDelta < INT32_MIN) {
        return binary::Fault(ErrorCode::Unsupported,
                             "the resource section would change by more than 2 GB");
    }
    // The section's place in the file must lie behind the headers, or the new bytes would
    // overwrite them.
    if (plan.raw < layout.SectionTableEnd()) {
        return file.Fault(ErrorCode::Malformed,
                          "the resource section has no place of its own in the file", header,
                          kSectionHeaderSize);
    }
    plan.tailStart = std::uint64_t{plan.raw} + res.sizeOfRawData;
    plan.fileLength = file.Size();
    const std::uint64_t effective = std::max(plan.fileLength, plan.tailStart);
    plan.tailLength = effective - plan.tailStart;
    plan.newLength =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(effective) + plan.rawDelta);
    if (plan.newLength > UINT32_MAX) {
        return binary::Fault(ErrorCode::Unsupported, "the file would grow beyond 4 GB");
    }
    return binary::Ok();
}

// Whether section i (not the resource section) can stay where it is or move with the tail: its
// bytes apart from the resource section's, in the same order in the file as in memory, and,
// when addresses change, nothing in it that depends on its address.
binary::Status CheckSection(const binary::Reader& file, const Layout& layout, std::uint32_t i,
                            const Plan& plan, const DataDirectory& relocations) {
    const Section s = ReadSection(file, layout, i);
    const bool behind = s.virtualAddress > plan.rva;
    const std::string name = "section " + std::to_string(i + 1);
    auto refuse = [&](const std::string& why) {
        return file.Fault(ErrorCode::Unsupported, name + why, layout.Section(i),
                          kSectionHeaderSize);
    };
    if (s.sizeOfRawData != 0 && s.pointerToRawData != 0) {
        const std::uint64_t begin = s.pointerToRawData;
        const std::uint64_t end = begin + s.sizeOfRawData;
        if (begin < plan.tailStart && end > plan.raw) {
            return refuse(" shares its bytes in the file with the resource section");
        }
        if (plan.rawDelta != 0 && behind && begin < plan.tailStart) {
            return refuse(" lies behind the resource section in memory but before it in the file");
        }
        if (plan.rawDelta != 0 && !behind && begin >= plan.tailStart) {
            return refuse(" lies before the resource section in memory but behind it in the file");
        }
    }
    if (plan.virtualDelta != 0 && behind) {
        // The relocation directory's section may move: nothing refers to its address but the
        // directory entry, which is updated.
        const bool discardable = (s.characteristics & kScnMemDiscardable) != 0;
        const bool holdsRelocations =
            relocations.size != 0 && relocations.address >= s.virtualAddress &&
            relocations.address - s.virtualAddress < std::max(s.virtualSize, s.sizeOfRawData);
        if (!discardable && !holdsRelocations) {
            return refuse(" lies behind the resource section in memory and holds content that "
                          "depends on its address; it cannot be moved");
        }
    }
    return binary::Ok();
}

// The move plan: every other section checked, and the new section clear of the next one.
binary::Status CheckSections(const binary::Reader& file, const Layout& layout, std::uint32_t r,
                             const Plan& plan) {
    const DataDirectory relocations = Directory(file, layout, kDirBaseRelocation);
    std::uint64_t nextVa = UINT64_MAX; // the lowest address behind the resource section
    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        if (i == r) {
            continue;
        }
        const std::uint32_t va = ReadSection(file, layout, i).virtualAddress;
        if (va > plan.rva) {
            nextVa = std::min<std::uint64_t>(nextVa, va);
        }
        binary::Status ok = CheckSection(file, layout, i, plan, relocations);
        if (!ok) {
            return ok;
        }
    }
    if (nextVa != UINT64_MAX &&
        plan.rva + plan.newVirtual >
            static_cast<std::uint64_t>(static_cast<std::int64_t>(nextVa) + plan.virtualDelta)) {
        return file.Fault(ErrorCode::Unsupported,
                          "the new resource section would overlap the next section in memory",
                          layout.Section(r), kSectionHeaderSize);
    }
    return binary::Ok();
}

// The header changes, on the copy: sizes, the sections' places, the data directories'
// addresses.
void PlanHeaders(const Layout& layout, std::uint32_t r, Plan& plan) {
    const std::uint32_t opt = layout.optionalHeader;
    plan.Update(opt + kSizeOfInitializedData,
                Add(plan.Header(opt + kSizeOfInitializedData), plan.rawDelta));
    const std::uint32_t rs = layout.Section(r);
    plan.Update(rs + kSecSizeOfRawData, plan.newRaw);
    plan.Update(rs + kSecVirtualSize, plan.newSize);
    plan.Update(layout.DirSize(kDirResource), plan.newSize);
    plan.Update(opt + kSizeOfImage, Add(plan.Header(opt + kSizeOfImage), plan.virtualDelta));
    const binary::Reader headers(plan.headers);
    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        const std::uint32_t at = layout.Section(i);
        const Section s = ReadSection(headers, layout, i);
        auto moveFilePointer = [&](std::uint32_t field, std::uint32_t pointer, bool moves) {
            if (moves) {
                plan.Update(at + field, Add(pointer, plan.rawDelta));
            }
        };
        if (s.virtualAddress > plan.rva) {
            plan.Update(at + kSecVirtualAddress, Add(s.virtualAddress, plan.virtualDelta));
            // A section without bytes in the file has no position to move.
            moveFilePointer(kSecPointerToRawData, s.pointerToRawData, s.pointerToRawData != 0);
            moveFilePointer(kSecPointerToRelocations, s.pointerToRelocations,
                            s.pointerToRelocations > plan.raw);
            moveFilePointer(kSecPointerToLinenumbers, s.pointerToLinenumbers,
                            s.pointerToLinenumbers > plan.raw);
        } else if (i != r) {
            // File pointers of other sections that lead into the tail move with it.
            moveFilePointer(kSecPointerToRelocations, s.pointerToRelocations,
                            plan.MovesWithTail(s.pointerToRelocations));
            moveFilePointer(kSecPointerToLinenumbers, s.pointerToLinenumbers,
                            plan.MovesWithTail(s.pointerToLinenumbers));
        }
    }
    for (std::uint32_t k = 0; k < layout.dataDirectoryCount; ++k) {
        const std::uint32_t va = plan.Header(layout.DirAddress(k));
        if (k != kDirCertificate && va > plan.rva) {
            plan.Update(layout.DirAddress(k), Add(va, plan.virtualDelta));
        }
    }
}

// The certificate table and the COFF symbol table are found by file offset: when they lie in
// the tail they move with it; inside the resource section they would be lost.
binary::Status PlanFileOffsets(const Layout& layout, Plan& plan) {
    const binary::Reader headers(plan.headers);
    if (layout.HasDir(kDirCertificate)) {
        const std::uint32_t at = plan.Header(layout.DirAddress(kDirCertificate));
        const std::uint32_t size = plan.Header(layout.DirSize(kDirCertificate));
        if (at != 0 && size != 0) {
            if (plan.InsideResources(at)) {
                return headers.Fault(ErrorCode::Unsupported,
                                     "the certificate table lies inside the resource section",
                                     layout.DirAddress(kDirCertificate), kDataDirectorySize);
            }
            if (plan.MovesWithTail(at)) {
                plan.Update(layout.DirAddress(kDirCertificate), Add(at, plan.rawDelta));
            }
        }
    }
    const std::uint32_t field = layout.pe + kPointerToSymbolTable;
    const std::uint32_t symbols = plan.Header(field);
    if (symbols != 0) {
        if (plan.InsideResources(symbols)) {
            return headers.Fault(ErrorCode::Unsupported,
                                 "the symbol table lies inside the resource section", field, 4);
        }
        if (plan.MovesWithTail(symbols)) {
            plan.Update(field, Add(symbols, plan.rawDelta));
        }
    }
    return binary::Ok();
}

// The debug directory, found through the sections with their new addresses; its entries'
// pointers are changed when the sections move (Apply).
binary::Status PlanDebugDirectory(const Layout& layout, Plan& plan) {
    const binary::Reader headers(plan.headers);
    const DataDirectory debug = Directory(headers, layout, kDirDebug);
    if (debug.size == 0) {
        return binary::Ok();
    }
    const std::optional<std::uint64_t> offset = RvaToOffset(headers, layout, debug.address);
    if (!offset) {
        return binary::Ok();
    }
    plan.hasDebug = true;
    plan.debugOffset = *offset;
    // A size that is not a multiple of the entry size counts entries itself.
    plan.debugCount = debug.size % kDebugEntrySize == 0 ? debug.size / kDebugEntrySize : debug.size;
    const std::uint64_t begin = plan.debugOffset;
    const std::uint64_t end = begin + plan.debugCount * kDebugEntrySize;
    if (end > plan.newLength || begin < plan.headers.size() ||
        (begin < std::uint64_t{plan.raw} + plan.newRaw && end > plan.raw)) {
        return headers.Fault(
            ErrorCode::Unsupported,
            "the debug directory lies outside the file or inside the resource section",
            layout.DirAddress(kDirDebug), kDataDirectorySize);
    }
    return binary::Ok();
}

// The whole plan, in steps: alignment, sizes, the move plan, the headers, the directories.
binary::Status PlanWrite(const binary::Reader& file, const Layout& layout, std::uint32_t r,
                         const Sizes& sizes, Plan& plan) {
    binary::Expected<Alignment> alignment = ReadAlignment(file, layout);
    if (!alignment) {
        return alignment.TakeError();
    }
    binary::Status planned = PlanSizes(file, layout, r, sizes, *alignment, plan);
    if (planned) {
        planned = CheckSections(file, layout, r, plan);
    }
    if (!planned) {
        return planned;
    }
    plan.headers.assign(file.Data(), file.Data() + layout.SectionTableEnd());
    PlanHeaders(layout, r, plan);
    planned = PlanFileOffsets(layout, plan);
    if (planned) {
        planned = PlanDebugDirectory(layout, plan);
    }
    return planned;
}

} // namespace

namespace detail {

Moved MoveFileBytes(platform::Os& os, platform::FileHandle file, std::uint64_t from,
                    std::uint64_t to, std::uint64_t length, std::vector<std::uint8_t>& buffer) {
    if (from == to || length == 0) {
        return Moved::All;
    }
    const bool up = to > from;
    std::uint64_t done = 0; // moved so far: the range's end when moving up, its start when down
    while (done < length) {
        const std::uint64_t n = std::min<std::uint64_t>(buffer.size(), length - done);
        const std::uint64_t at = up ? length - done - n : done;
        std::size_t got = 0;
        bool ok = os.ReadAt(file, from + at, buffer.data(), n, got);
        if (ok && got != n) {
            os.SetLastError(platform::error::kHandleEof);
            ok = false;
        }
        bool restored = true;
        if (ok && !os.WriteAt(file, to + at, buffer.data(), n)) {
            // A write cut short may have reached into the block's own bytes: they are all in
            // the buffer.
            platform::PreserveLastError keep(os);
            restored = os.WriteAt(file, from + at, buffer.data(), n);
            ok = false;
        }
        if (!ok) {
            platform::PreserveLastError keep(os);
            const std::uint64_t movedAt = up ? length - done : 0;
            const Moved back = MoveFileBytes(os, file, to + movedAt, from + movedAt, done, buffer);
            return back == Moved::All && restored ? Moved::Back : Moved::Damaged;
        }
        done += n;
    }
    return Moved::All;
}

bool CopyFileBytes(platform::Os& os, platform::FileHandle from, std::uint64_t fromOffset,
                   platform::FileHandle to, std::uint64_t toOffset, std::uint64_t length,
                   std::vector<std::uint8_t>& buffer) {
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done));
        std::size_t got = 0;
        if (!os.ReadAt(from, fromOffset + done, buffer.data(), n, got)) {
            return false;
        }
        if (got != n) {
            os.SetLastError(platform::error::kHandleEof);
            return false;
        }
        if (!os.WriteAt(to, toOffset + done, buffer.data(), n)) {
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace detail

namespace {

// Blocks of the positioned transfers (the tail move, the leaves' bytes into the image, the
// image into the executable): large enough that the calls cost little next to the copying,
// small enough for the processor's caches.
constexpr std::size_t kTransferBlock = std::size_t{256} << 10;

// The image and a copy of the old section's bytes: built, and the copy taken, before the
// executable changes.
struct TempImage {
    platform::Os& os;
    std::u16string name;
    platform::FileHandle file;
    platform::MappedView view;
    bool created = false;
    std::uint64_t backupOffset = 0; // where the copy of [raw, end of the old section) lies
    std::uint64_t backupLength = 0;

    ~TempImage() {
        os.Unmap(view);
        if (created) {
            platform::PreserveLastError keep(os);
            // An empty file goes at once; under Wine deleting a large one costs about a
            // millisecond per megabyte. Nothing is left to report a failure to.
            (void)os.SetLength(file, 0);
            os.Close(file);
            (void)os.Delete(name);
        } else {
            os.Close(file);
        }
    }

    // The old section's bytes back in place: true when they are.
    [[nodiscard]] bool Restore(platform::FileHandle target, std::uint32_t raw,
                               std::vector<std::uint8_t>& buffer) const {
        platform::PreserveLastError keep(os);
        return detail::CopyFileBytes(os, file, backupOffset, target, raw, backupLength, buffer);
    }
};

// Copies of bytes about to be overwritten, and the moves made, to put the file back when a
// later step fails. Undone through positioned reads and writes, so that no mapping of the
// file is needed; the old section's bytes come back from the temporary file.
struct UndoLog {
    struct Entry {
        std::uint64_t offset = 0;
        std::vector<std::uint8_t> bytes;
        bool move = false;
        std::uint64_t from = 0, to = 0, length = 0;
    };
    const TempImage& temp;
    std::uint32_t raw;
    std::vector<Entry> entries;

    void Save(const std::uint8_t* base, std::uint64_t offset, std::uint64_t length) {
        Entry e;
        e.offset = offset;
        e.bytes.assign(base + offset, base + offset + length);
        entries.push_back(std::move(e));
    }
    void Moved(std::uint64_t from, std::uint64_t to, std::uint64_t length) {
        Entry e;
        e.move = true;
        e.from = from;
        e.to = to;
        e.length = length;
        entries.push_back(std::move(e));
    }
    // True when every step was undone.
    [[nodiscard]] bool Undo(platform::Os& os, platform::FileHandle file,
                            std::vector<std::uint8_t>& buffer) const {
        platform::PreserveLastError keep(os);
        bool ok = true;
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            if (it->move) {
                ok = detail::MoveFileBytes(os, file, it->to, it->from, it->length, buffer) ==
                         detail::Moved::All &&
                     ok;
            } else {
                ok = os.WriteAt(file, it->offset, it->bytes.data(), it->bytes.size()) && ok;
            }
        }
        return temp.Restore(file, raw, buffer) && ok;
    }
};

// The new section into the file as it is after the move: the image first (the one step that
// can fail, before anything else is written), then the zero bytes up to the file alignment
// and the header and debug changes through the view.
binary::Status Apply(TResEditHandle& h, const Plan& plan, const TempImage& temp, UndoLog* undo,
                     std::vector<std::uint8_t>& buffer) {
    if (!detail::CopyFileBytes(*h.os, temp.file, 0, h.file, plan.raw, plan.newSize, buffer)) {
        return binary::Fault(ErrorCode::Io, "cannot write the new resource section");
    }
    std::uint8_t* base = h.view.base;
    std::memset(base + plan.raw + plan.newSize, 0, plan.newRaw - plan.newSize);
    if (undo) {
        undo->Save(base, 0, plan.headers.size());
    }
    std::memcpy(base, plan.headers.data(), plan.headers.size());
    if (plan.hasDebug) {
        if (undo) {
            undo->Save(base, plan.debugOffset, plan.debugCount * kDebugEntrySize);
        }
        for (std::uint64_t k = 0; k < plan.debugCount; ++k) {
            std::uint8_t* entry = base + plan.debugOffset + k * kDebugEntrySize;
            const std::uint32_t pointer = Load32(entry + kDebugPointerToRawData);
            if (pointer > plan.raw) {
                Store32(entry + kDebugPointerToRawData, Add(pointer, plan.rawDelta));
                const std::uint32_t address = Load32(entry + kDebugAddressOfRawData);
                if (address != 0) {
                    Store32(entry + kDebugAddressOfRawData, Add(address, plan.virtualDelta));
                }
            }
        }
    }
    return binary::Ok();
}

// The image of the new section in a mapped temporary file, complete before the executable
// changes, and behind it a copy of the old section's bytes to put back should a later step
// fail. The file is new, so every byte the tree does not write is zero. Tables and names go
// through the view; the leaves' bytes, and the copy, are copied from file to file in blocks:
// through the views every page would fault on its own.
binary::Status BuildImage(TResEditHandle& h, const Sizes& sizes, const Plan& plan, TempImage& temp,
                          std::vector<std::uint8_t>& buffer) {
    platform::Os& os = *h.os;
    temp.file = ResEditCreateTemp(os, h.root, temp.name);
    if (!temp.file.IsValid()) {
        return binary::Fault(ErrorCode::Io,
                             "cannot create the temporary file for the new resource section");
    }
    temp.created = true;
    const std::uint64_t oldEnd = std::min(plan.tailStart, plan.fileLength);
    temp.backupOffset = RoundUp(plan.newSize, 4);
    temp.backupLength = oldEnd > plan.raw ? oldEnd - plan.raw : 0;
    if (!os.SetLength(temp.file, temp.backupOffset + temp.backupLength) ||
        !os.Map(temp.file, temp.view)) {
        return binary::Fault(ErrorCode::Io,
                             "cannot size or map the temporary file for the new resource section");
    }
    std::vector<LeafCopy> copies;
    ImageWriter writer{
        temp.view.base, plan.rva, 0,     sizes.dirSize, RoundUp(sizes.dirSize + sizes.strSize, 4),
        h.view,         h.file,   copies};
    writer.Write(h.root);
    for (const LeafCopy& c : copies) {
        if (!detail::CopyFileBytes(os, c.from, c.fromOffset, temp.file, c.toOffset, c.size,
                                   buffer)) {
            return binary::Fault(ErrorCode::Io, c.failure);
        }
    }
    if (!detail::CopyFileBytes(os, h.file, plan.raw, temp.file, temp.backupOffset,
                               temp.backupLength, buffer)) {
        return binary::Fault(ErrorCode::Io, "cannot keep a copy of the old resource section");
    }
    return binary::Ok();
}

// A failure after the executable changed, as it is reported: saying so when putting the file
// back failed too.
binary::Error AfterChange(binary::Error error, bool restored) {
    if (!restored) {
        error.message += "; the file could not be restored";
    }
    return error;
}

std::uint64_t TailDestination(const Plan& plan) {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(plan.tailStart) + plan.rawDelta);
}

// Growing: resize (which reserves the space), map again, move the tail up, write the section.
// A failure moves back what has moved, puts the old section back and the length too.
binary::Status Grow(TResEditHandle& h, const Plan& plan, const TempImage& temp,
                    std::vector<std::uint8_t>& buffer) {
    platform::Os& os = *h.os;
    os.Unmap(h.view);
    h.peHeader = nullptr;
    if (!os.SetLength(h.file, plan.newLength) || !os.Map(h.file, h.view)) {
        platform::PreserveLastError keep(os);
        // The length is put back as well as it can be; the failure is reported either way.
        (void)os.SetLength(h.file, plan.fileLength);
        return binary::Fault(ErrorCode::Io, "cannot resize or map the file again");
    }
    const detail::Moved moved = detail::MoveFileBytes(
        os, h.file, plan.tailStart, TailDestination(plan), plan.tailLength, buffer);
    binary::Status done =
        moved == detail::Moved::All
            ? Apply(h, plan, temp, nullptr, buffer)
            : binary::Fault(ErrorCode::Io, "cannot move the data behind the resource section");
    if (!done) {
        platform::PreserveLastError keep(os);
        os.Unmap(h.view);
        bool restored = moved != detail::Moved::Damaged;
        if (moved == detail::Moved::All) {
            restored = detail::MoveFileBytes(os, h.file, TailDestination(plan), plan.tailStart,
                                             plan.tailLength, buffer) == detail::Moved::All;
            restored = temp.Restore(h.file, plan.raw, buffer) && restored;
        }
        restored = restored && os.SetLength(h.file, plan.fileLength);
        return AfterChange(done.TakeError(), restored);
    }
    return done;
}

// Shrinking: the tail moves down and the rest is written in the present view, then the file
// is cut. Should any step fail, the saved bytes put the file back.
binary::Status Shrink(TResEditHandle& h, const Plan& plan, const TempImage& temp,
                      std::vector<std::uint8_t>& buffer) {
    platform::Os& os = *h.os;
    UndoLog undo{temp, plan.raw, {}};
    const detail::Moved moved = detail::MoveFileBytes(
        os, h.file, plan.tailStart, TailDestination(plan), plan.tailLength, buffer);
    if (moved != detail::Moved::All) {
        const bool restored = undo.Undo(os, h.file, buffer) && moved != detail::Moved::Damaged;
        return AfterChange(
            binary::Fault(ErrorCode::Io, "cannot move the data behind the resource section"),
            restored);
    }
    undo.Moved(plan.tailStart, TailDestination(plan), plan.tailLength);
    binary::Status applied = Apply(h, plan, temp, &undo, buffer);
    if (!applied) {
        return AfterChange(applied.TakeError(), undo.Undo(os, h.file, buffer));
    }
    os.Unmap(h.view);
    h.peHeader = nullptr;
    if (!os.SetLength(h.file, plan.newLength)) {
        std::string why = "cannot shrink the file";
        if (!undo.Undo(os, h.file, buffer)) {
            why += "; it could not be restored";
        }
        return binary::Fault(ErrorCode::Io, std::move(why));
    }
    return binary::Ok();
}

// The same size in the file: only the section and the headers change.
binary::Status Replace(TResEditHandle& h, const Plan& plan, const TempImage& temp,
                       std::vector<std::uint8_t>& buffer) {
    binary::Status applied = Apply(h, plan, temp, nullptr, buffer);
    if (!applied) {
        return AfterChange(applied.TakeError(), temp.Restore(h.file, plan.raw, buffer));
    }
    return applied;
}

} // namespace

namespace detail {

binary::Status WriteTree(TResEditHandle& h) {
    if (!h.view.IsMapped()) {
        return binary::Fault(ErrorCode::Io, "the file is not mapped");
    }
    const binary::Reader file(h.view.base, h.view.size);
    Sizes sizes;
    binary::Status ready = Measure(h.root, sizes);
    Plan plan;
    if (ready) {
        ready = PlanWrite(file, h.layout, h.resourceSection, sizes, plan);
    }
    if (!ready) {
        return ready;
    }
    std::vector<std::uint8_t> buffer(kTransferBlock);
    TempImage temp{*h.os, {}, {}, {}, false};
    ready = BuildImage(h, sizes, plan, temp, buffer);
    if (!ready) {
        return ready;
    }
    if (plan.newLength > plan.fileLength) {
        ready = Grow(h, plan, temp, buffer);
    } else if (plan.newLength < plan.fileLength) {
        // The file stays unmapped: the handle is closed next.
        return Shrink(h, plan, temp, buffer);
    } else {
        ready = Replace(h, plan, temp, buffer);
    }
    if (h.view.IsMapped()) {
        h.peHeader = h.view.base + h.layout.pe;
    }
    return ready;
}

} // namespace detail

} // namespace resedit
