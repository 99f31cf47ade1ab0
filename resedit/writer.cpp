// The resource section writer: builds the new section from the tree in a mapped temporary
// file, then puts it into the executable in place, moving what follows it and updating the
// headers.
//
// Everything that can be checked is checked before the executable changes: the layout is
// checked and every header change is planned on a copy, the image is complete, and growing
// the file reserves its disk space. A failure after the executable has changed (moving the
// tail, or cutting the file when it shrinks) is undone: moved bytes are moved back, and
// overwritten ones come back from a copy.
#include "resedit/internal.h"
#include "resedit/pe.h"

#include <algorithm>
#include <cstring>

namespace resedit {

namespace {

using namespace pe;
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
bool Measure(const TResItem* item, Sizes& sizes, std::string& why) {
    if (!item->isDir) {
        sizes.dirSize += kDataEntrySize;
        sizes.dataSize += RoundUp(item->size, 4);
        return true;
    }
    if (item->namedItems > 0xFFFF || item->idItems > 0xFFFF) {
        why = "a resource directory has more than 65535 entries of a kind";
        return false;
    }
    sizes.dirSize += kDirTableSize + kEntrySize * (std::uint64_t{item->namedItems} + item->idItems);
    std::uint64_t j = 0;
    for (const TResItem* child = item->child; child; child = child->next, ++j) {
        if (child->named != (j < item->namedItems)) {
            why = "a resource directory's named entries are not first";
            return false;
        }
        if (child->named) {
            if (child->name.size() > 0xFFFF) {
                why = "a resource name is longer than 65535 characters";
                return false;
            }
            sizes.strSize += 2 + 2 * std::uint64_t{child->name.size()};
        }
        if (!Measure(child, sizes, why)) {
            return false;
        }
    }
    if (j != std::uint64_t{item->namedItems} + item->idItems) {
        why = "a resource directory's entry counts do not match its entries";
        return false;
    }
    return true;
}

// Writes the directory area, the string area and the data area, depth first.
struct ImageWriter {
    platform::Os& os;
    std::uint8_t* image;
    std::uint32_t va;
    std::uint64_t dirPos;
    std::uint64_t strPos;
    std::uint64_t dataPos;
    std::string why;

    bool Write(const TResItem* item) {
        std::uint8_t* at = image + dirPos;
        if (!item->isDir) {
            Store32(at + kDataOffsetToData, static_cast<std::uint32_t>(va + dataPos));
            Store32(at + kDataSize, item->size);
            Store32(at + kDataCodePage, item->codePage);
            Store32(at + kDataReserved, item->reserved);
            dirPos += kDataEntrySize;
            std::uint8_t* out = image + dataPos;
            if (item->data) {
                std::memcpy(out, item->data, item->size);
            } else if (!item->strBuf.empty()) {
                std::memcpy(out, item->strBuf.data(),
                            std::min<std::size_t>(item->strBuf.size(), item->size));
            } else if (item->fileBuf.IsValid()) {
                std::size_t got = 0;
                if (!os.ReadAt(item->fileBuf, 0, out, item->size, got) || got != item->size) {
                    why = "cannot read back the temporary file of a resource";
                    return false;
                }
            }
            dataPos += RoundUp(item->size, 4);
            return true;
        }
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
                std::uint8_t* s = image + strPos;
                Store16(s, static_cast<std::uint16_t>(child->name.size()));
                for (std::size_t k = 0; k < child->name.size(); ++k) {
                    Store16(s + 2 + 2 * k, child->name[k]);
                }
                strPos += 2 + 2 * std::uint64_t{child->name.size()};
            } else {
                Store32(entry + kEntryName, static_cast<std::uint32_t>(child->id));
            }
            Store32(entry + kEntryOffsetToData,
                    static_cast<std::uint32_t>(dirPos) | (child->isDir ? kSubdirectoryFlag : 0));
            if (!Write(child)) {
                return false;
            }
        }
        return true;
    }
};

// A header change: a 32-bit value at a file offset (in the file as it is after the move).
struct Patch {
    std::uint64_t offset;
    std::uint32_t value;
};

// Everything the writer will do, worked out before anything is changed.
struct Plan {
    std::uint32_t raw = 0;     // file offset of the resource section
    std::uint32_t newSize = 0; // bytes of the new section
    std::uint32_t newRaw = 0;  // its size in the file
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
};

std::uint32_t Add(std::uint32_t value, std::int64_t delta) {
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(value) + delta);
}

bool PlanWrite(const TResEditHandle& h, const pe::Layout& layout, std::uint32_t r,
               const Sizes& sizes, Plan& plan, std::string& why) {
    const std::uint8_t* base = h.view.base;
    const std::uint32_t opt = layout.optionalHeader;
    const std::uint32_t fileAlignment = Load32(base + opt + pe::kFileAlignment);
    const std::uint32_t sectionAlignment = Load32(base + opt + pe::kSectionAlignment);
    if (fileAlignment == 0 || sectionAlignment == 0) {
        why = "the headers give an alignment of 0";
        return false;
    }
    // The format wants powers of two, the file alignment at most 64 KB and not above the
    // section alignment; anything else would make the file grow by whatever it says.
    auto powerOfTwo = [](std::uint32_t a) { return (a & (a - 1)) == 0; };
    if (!powerOfTwo(fileAlignment) || !powerOfTwo(sectionAlignment) ||
        fileAlignment > kMaxFileAlignment || fileAlignment > sectionAlignment) {
        why = "the headers give an alignment the format does not allow";
        return false;
    }
    const pe::Section res = pe::ReadSection(base + layout.Section(r));
    const std::uint32_t rva = res.virtualAddress;
    const std::uint64_t newSize = RoundUp(sizes.dirSize + sizes.strSize, 4) + sizes.dataSize;
    const std::uint64_t newRaw = RoundUp(newSize, fileAlignment);
    const std::uint64_t newVirtual = RoundUp(newSize, sectionAlignment);
    const std::uint64_t oldVirtual =
        RoundUp(Load32(base + layout.DirSize(pe::kDirResource)), sectionAlignment);
    if (newSize > kMaxSection || newRaw > UINT32_MAX || rva + newVirtual > UINT32_MAX) {
        why = "the new resource section would be too large";
        return false;
    }
    plan.raw = res.pointerToRawData;
    plan.newSize = static_cast<std::uint32_t>(newSize);
    plan.newRaw = static_cast<std::uint32_t>(newRaw);
    plan.rawDelta = static_cast<std::int64_t>(newRaw) - res.sizeOfRawData;
    plan.virtualDelta =
        static_cast<std::int64_t>(newVirtual) - static_cast<std::int64_t>(oldVirtual);
    if (plan.rawDelta > INT32_MAX || plan.rawDelta < INT32_MIN || plan.virtualDelta > INT32_MAX ||
        plan.virtualDelta < INT32_MIN) {
        why = "the resource section would change by more than 2 GB";
        return false;
    }
    // The section's place in the file must lie behind the headers, or the new bytes would
    // overwrite them.
    if (plan.raw < layout.SectionTableEnd()) {
        why = "the resource section has no place of its own in the file";
        return false;
    }
    plan.tailStart = std::uint64_t{plan.raw} + res.sizeOfRawData;
    plan.fileLength = h.view.size;
    const std::uint64_t effective = std::max(plan.fileLength, plan.tailStart);
    plan.tailLength = effective - plan.tailStart;
    plan.newLength =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(effective) + plan.rawDelta);
    if (plan.newLength > UINT32_MAX) {
        why = "the file would grow beyond 4 GB";
        return false;
    }

    // The relocation directory's section may move: nothing refers to its address but the
    // directory entry, which is updated.
    std::uint32_t relocVa = 0;
    std::uint32_t relocSize = 0;
    if (layout.HasDir(pe::kDirBaseRelocation)) {
        relocVa = Load32(base + layout.DirAddress(pe::kDirBaseRelocation));
        relocSize = Load32(base + layout.DirSize(pe::kDirBaseRelocation));
    }
    std::uint64_t nextVa = UINT64_MAX; // the lowest address behind the resource section
    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        if (i == r) {
            continue;
        }
        const pe::Section s = pe::ReadSection(base + layout.Section(i));
        const bool behind = s.virtualAddress > rva;
        const std::string name = "section " + std::to_string(i + 1);
        if (behind) {
            nextVa = std::min<std::uint64_t>(nextVa, s.virtualAddress);
        }
        if (s.sizeOfRawData != 0 && s.pointerToRawData != 0) {
            const std::uint64_t begin = s.pointerToRawData;
            const std::uint64_t end = begin + s.sizeOfRawData;
            if (begin < plan.tailStart && end > plan.raw) {
                why = name + " shares its bytes in the file with the resource section";
                return false;
            }
            if (plan.rawDelta != 0 && behind && begin < plan.tailStart) {
                why =
                    name + " lies behind the resource section in memory but before it in the file";
                return false;
            }
            if (plan.rawDelta != 0 && !behind && begin >= plan.tailStart) {
                why =
                    name + " lies before the resource section in memory but behind it in the file";
                return false;
            }
        }
        if (plan.virtualDelta != 0 && behind) {
            const bool discardable = (s.characteristics & pe::kScnMemDiscardable) != 0;
            const bool relocations =
                relocSize != 0 && relocVa >= s.virtualAddress &&
                relocVa - s.virtualAddress < std::max(s.virtualSize, s.sizeOfRawData);
            if (!discardable && !relocations) {
                why = name + " lies behind the resource section in memory and holds content that "
                             "depends on its address; it cannot be moved";
                return false;
            }
        }
    }
    if (nextVa != UINT64_MAX &&
        rva + newVirtual >
            static_cast<std::uint64_t>(static_cast<std::int64_t>(nextVa) + plan.virtualDelta)) {
        why = "the new resource section would overlap the next section in memory";
        return false;
    }

    // The header changes, on a copy.
    plan.headers.assign(base, base + layout.SectionTableEnd());
    std::uint8_t* hdr = plan.headers.data();
    auto update = [&](std::uint32_t at, std::uint32_t value) { Store32(hdr + at, value); };
    auto movesWithTail = [&](std::uint32_t pointer) { return pointer >= plan.tailStart; };
    auto insideResources = [&](std::uint32_t pointer) {
        return pointer >= plan.raw && pointer < plan.tailStart;
    };

    update(opt + pe::kSizeOfInitializedData,
           Add(Load32(hdr + opt + pe::kSizeOfInitializedData), plan.rawDelta));
    const std::uint32_t rs = layout.Section(r);
    update(rs + pe::kSecSizeOfRawData, plan.newRaw);
    update(rs + pe::kSecVirtualSize, plan.newSize);
    update(layout.DirSize(pe::kDirResource), plan.newSize);
    update(opt + pe::kSizeOfImage, Add(Load32(hdr + opt + pe::kSizeOfImage), plan.virtualDelta));
    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        const std::uint32_t at = layout.Section(i);
        const pe::Section s = pe::ReadSection(hdr + at);
        if (s.virtualAddress > rva) {
            update(at + pe::kSecVirtualAddress, Add(s.virtualAddress, plan.virtualDelta));
            // A section without bytes in the file has no position to move.
            if (s.pointerToRawData != 0) {
                update(at + pe::kSecPointerToRawData, Add(s.pointerToRawData, plan.rawDelta));
            }
            if (s.pointerToRelocations > plan.raw) {
                update(at + pe::kSecPointerToRelocations,
                       Add(s.pointerToRelocations, plan.rawDelta));
            }
            if (s.pointerToLinenumbers > plan.raw) {
                update(at + pe::kSecPointerToLinenumbers,
                       Add(s.pointerToLinenumbers, plan.rawDelta));
            }
        } else if (i != r) {
            // File pointers of other sections that lead into the tail move with it.
            if (movesWithTail(s.pointerToRelocations)) {
                update(at + pe::kSecPointerToRelocations,
                       Add(s.pointerToRelocations, plan.rawDelta));
            }
            if (movesWithTail(s.pointerToLinenumbers)) {
                update(at + pe::kSecPointerToLinenumbers,
                       Add(s.pointerToLinenumbers, plan.rawDelta));
            }
        }
    }
    for (std::uint32_t k = 0; k < layout.dataDirectoryCount; ++k) {
        const std::uint32_t va = Load32(hdr + layout.DirAddress(k));
        if (k != pe::kDirCertificate && va > rva) {
            update(layout.DirAddress(k), Add(va, plan.virtualDelta));
        }
    }
    // The certificate table and the COFF symbol table are found by file offset: when they lie
    // in the tail they move with it.
    if (layout.HasDir(pe::kDirCertificate)) {
        const std::uint32_t at = Load32(hdr + layout.DirAddress(pe::kDirCertificate));
        const std::uint32_t size = Load32(hdr + layout.DirSize(pe::kDirCertificate));
        if (at != 0 && size != 0) {
            if (insideResources(at)) {
                why = "the certificate table lies inside the resource section";
                return false;
            }
            if (movesWithTail(at)) {
                update(layout.DirAddress(pe::kDirCertificate), Add(at, plan.rawDelta));
            }
        }
    }
    const std::uint32_t symbols = Load32(hdr + layout.pe + pe::kPointerToSymbolTable);
    if (symbols != 0) {
        if (insideResources(symbols)) {
            why = "the symbol table lies inside the resource section";
            return false;
        }
        if (movesWithTail(symbols)) {
            update(layout.pe + pe::kPointerToSymbolTable, Add(symbols, plan.rawDelta));
        }
    }

    // The debug directory, found through the sections with their new addresses.
    if (layout.HasDir(pe::kDirDebug) && Load32(hdr + layout.DirSize(pe::kDirDebug)) != 0) {
        const std::uint32_t debugVa = Load32(hdr + layout.DirAddress(pe::kDirDebug));
        const std::uint32_t debugSize = Load32(hdr + layout.DirSize(pe::kDirDebug));
        for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
            const pe::Section s = pe::ReadSection(hdr + layout.Section(i));
            const bool last = i + 1 == layout.numberOfSections;
            if (s.virtualAddress <= debugVa &&
                (last || pe::ReadSection(hdr + layout.Section(i + 1)).virtualAddress > debugVa)) {
                plan.hasDebug = true;
                plan.debugOffset = std::uint64_t{s.pointerToRawData} + (debugVa - s.virtualAddress);
                // A size that is not a multiple of the entry size counts entries itself.
                plan.debugCount = debugSize % pe::kDebugEntrySize == 0
                                      ? debugSize / pe::kDebugEntrySize
                                      : debugSize;
                break;
            }
        }
        if (plan.hasDebug) {
            const std::uint64_t begin = plan.debugOffset;
            const std::uint64_t end = begin + plan.debugCount * pe::kDebugEntrySize;
            if (end > plan.newLength || begin < plan.headers.size() ||
                (begin < std::uint64_t{plan.raw} + plan.newRaw && end > plan.raw)) {
                why = "the debug directory lies outside the file or inside the resource section";
                return false;
            }
        }
    }
    return true;
}

} // namespace

namespace detail {

bool MoveFileBytes(platform::Os& os, platform::FileHandle file, std::uint64_t from,
                   std::uint64_t to, std::uint64_t length, std::vector<std::uint8_t>& buffer,
                   bool& restored) {
    restored = true;
    if (from == to || length == 0) {
        return true;
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
            bool back = true;
            restored = MoveFileBytes(os, file, to + movedAt, from + movedAt, done, buffer, back) &&
                       restored;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace detail

namespace {

// Blocks of the tail move: large enough that the calls cost nothing next to the copying,
// small enough to stay in the processor's caches.
constexpr std::size_t kMoveBlock = std::size_t{2} << 20;

// Copies of bytes about to be overwritten, and the moves made, to put the file back when a
// later step fails. Undone through positioned reads and writes, so that no mapping of the
// file is needed.
struct UndoLog {
    struct Entry {
        std::uint64_t offset = 0;
        std::vector<std::uint8_t> bytes;
        bool move = false;
        std::uint64_t from = 0, to = 0, length = 0;
    };
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
    bool Undo(platform::Os& os, platform::FileHandle file,
              std::vector<std::uint8_t>& buffer) const {
        platform::PreserveLastError keep(os);
        bool ok = true;
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            if (it->move) {
                bool restored = true;
                ok = detail::MoveFileBytes(os, file, it->to, it->from, it->length, buffer,
                                           restored) &&
                     ok;
            } else {
                ok = os.WriteAt(file, it->offset, it->bytes.data(), it->bytes.size()) && ok;
            }
        }
        return ok;
    }
};

// The header and debug changes and the new section, into a view of the file as it is after
// the move.
void Apply(std::uint8_t* base, const Plan& plan, const std::uint8_t* image, UndoLog* undo) {
    if (undo) {
        undo->Save(base, 0, plan.headers.size());
    }
    std::memcpy(base, plan.headers.data(), plan.headers.size());
    if (plan.hasDebug) {
        if (undo) {
            undo->Save(base, plan.debugOffset, plan.debugCount * pe::kDebugEntrySize);
        }
        for (std::uint64_t k = 0; k < plan.debugCount; ++k) {
            std::uint8_t* entry = base + plan.debugOffset + k * pe::kDebugEntrySize;
            const std::uint32_t pointer = Load32(entry + pe::kDebugPointerToRawData);
            if (pointer > plan.raw) {
                Store32(entry + pe::kDebugPointerToRawData, Add(pointer, plan.rawDelta));
                const std::uint32_t address = Load32(entry + pe::kDebugAddressOfRawData);
                if (address != 0) {
                    Store32(entry + pe::kDebugAddressOfRawData, Add(address, plan.virtualDelta));
                }
            }
        }
    }
    std::memcpy(base + plan.raw, image, plan.newSize);
    std::memset(base + plan.raw + plan.newSize, 0, plan.newRaw - plan.newSize);
}

struct TempImage {
    platform::Os& os;
    std::u16string name;
    platform::FileHandle file;
    platform::MappedView view;
    bool created = false;

    ~TempImage() {
        os.Unmap(view);
        os.Close(file);
        if (created) {
            platform::PreserveLastError keep(os);
            os.Delete(name);
        }
    }
};

} // namespace

namespace detail {

bool WriteTree(TResEditHandle& h, std::string& why) {
    platform::Os& os = *h.os;
    const ByteReader file(h.view.base, h.view.size);
    pe::Layout layout;
    bool signatureOk = false;
    std::uint32_t r = 0;
    if (!h.view.IsMapped() || !pe::ParseLayout(file, layout, signatureOk, why)) {
        return false;
    }
    if (!pe::FindResourceSection(file, layout, r)) {
        why = "no section starts at the resource directory";
        return false;
    }
    Sizes sizes;
    if (!Measure(h.root, sizes, why)) {
        return false;
    }
    Plan plan;
    if (!PlanWrite(h, layout, r, sizes, plan, why)) {
        return false;
    }

    // The image of the new section, complete before the executable changes: unchanged
    // resources are read through the view that a resize unmaps.
    TempImage temp{os, ResEditTempName(os, h.root), {}, {}, false};
    temp.file = os.CreateAlways(temp.name);
    if (!temp.file.IsValid()) {
        why = "cannot create the temporary file for the new resource section";
        return false;
    }
    temp.created = true;
    if (!os.SetLength(temp.file, plan.newSize) || !os.Map(temp.file, temp.view)) {
        why = "cannot size or map the temporary file for the new resource section";
        return false;
    }
    os.Prefault(temp.view, 0, plan.newSize);
    std::memset(temp.view.base, 0, plan.newSize);
    const std::uint32_t va = pe::ReadSection(h.view.base + layout.Section(r)).virtualAddress;
    ImageWriter writer{
        os, temp.view.base, va, 0, sizes.dirSize, RoundUp(sizes.dirSize + sizes.strSize, 4), {}};
    if (!writer.Write(h.root)) {
        why = writer.why;
        return false;
    }
    os.Close(temp.file);

    // The tail moves with positioned reads and writes of whole blocks: through the mapping,
    // every page written would cost a fault of its own.
    const std::uint64_t tailTo =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(plan.tailStart) + plan.rawDelta);
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(kMoveBlock, plan.tailLength + 1)));
    if (plan.newLength > plan.fileLength) {
        // Growing: resize (which reserves the space), map again, move the tail up. A failure
        // moves back what has moved and puts the length back.
        os.Unmap(h.view);
        h.peHeader = nullptr;
        if (!os.SetLength(h.file, plan.newLength) || !os.Map(h.file, h.view)) {
            platform::PreserveLastError keep(os);
            os.SetLength(h.file, plan.fileLength);
            why = "cannot resize or map the file again";
            return false;
        }
        bool restored = true;
        if (!detail::MoveFileBytes(os, h.file, plan.tailStart, tailTo, plan.tailLength, buffer,
                                   restored)) {
            platform::PreserveLastError keep(os);
            os.Unmap(h.view);
            why = "cannot move the data behind the resource section";
            if (!restored || !os.SetLength(h.file, plan.fileLength)) {
                why += "; the file could not be restored";
            }
            return false;
        }
        os.Prefault(h.view, plan.raw, plan.newRaw);
        Apply(h.view.base, plan, temp.view.base, nullptr);
    } else if (plan.newLength < plan.fileLength) {
        // Shrinking: the tail moves down and the rest is written in the present view, then
        // the file is cut. Should any step fail, the saved bytes put the file back.
        UndoLog undo;
        const std::uint64_t resourceEnd = std::min(plan.tailStart, plan.fileLength);
        undo.Save(h.view.base, plan.raw, resourceEnd - plan.raw);
        bool restored = true;
        if (!detail::MoveFileBytes(os, h.file, plan.tailStart, tailTo, plan.tailLength, buffer,
                                   restored)) {
            why = "cannot move the data behind the resource section";
            if (!undo.Undo(os, h.file, buffer) || !restored) {
                why += "; the file could not be restored";
            }
            return false;
        }
        undo.Moved(plan.tailStart, tailTo, plan.tailLength);
        os.Prefault(h.view, plan.raw, plan.newRaw);
        Apply(h.view.base, plan, temp.view.base, &undo);
        os.Unmap(h.view);
        h.peHeader = nullptr;
        if (!os.SetLength(h.file, plan.newLength)) {
            why = "cannot shrink the file";
            if (!undo.Undo(os, h.file, buffer)) {
                why += "; it could not be restored";
            }
            return false;
        }
        return true;
    } else {
        Apply(h.view.base, plan, temp.view.base, nullptr);
    }
    h.peHeader = h.view.base + layout.pe;
    return true;
}

} // namespace detail

} // namespace resedit
