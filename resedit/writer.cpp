// The resource section writer: builds the new section from the tree in a mapped temporary
// file, then puts it into the executable in place, moving what follows it and updating the
// headers. Bytes move between the files with positioned reads and writes in blocks (the
// leaves' bytes into the image, the tail, the image into the executable): through a mapping,
// every page would cost a fault of its own.
//
// What other parts of the file keep in the resource section stays usable: data that another
// data directory (or the import directory's tables) has there keeps its place and bytes, and
// the new section is laid out around it; another section whose bytes the file keeps inside the
// resource section's (in its slack) gets bytes of its own behind the new section. Leaves whose
// bytes lie in another section keep pointing at them. A valid checksum is kept valid, summed
// from the bytes as the transfers carry them.
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
    std::vector<std::uint32_t> dataSizes; // of the leaves whose bytes the section holds, in order
    std::vector<AddressRange> inPlace;    // the bytes of leaves that keep their place
};

// Measures the tree, refusing what the format cannot hold (more than 65535 entries of a kind,
// names longer than 65535) and child lists that break the named-first invariant.
binary::Status Measure(const TResItem* item, Sizes& sizes) {
    if (!item->isDir) {
        sizes.dirSize += kDataEntrySize;
        if (item->inPlace) {
            sizes.inPlace.push_back({item->address, item->size});
        } else {
            sizes.dataSize += RoundUp(item->size, 4);
            sizes.dataSizes.push_back(item->size);
        }
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

// A part of the resource section, as offsets from its start.
struct Range {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

// Places the leaves' bytes one after another in the data area, each at a multiple of 4, and
// past any part of the section that keeps its place. The writer and the plan place alike.
struct DataPlacer {
    const std::vector<Range>* kept;
    std::uint64_t pos;
    std::size_t next = 0; // the first kept part not yet passed

    std::uint64_t Place(std::uint64_t size) {
        const std::uint64_t span = RoundUp(size, 4);
        while (next < kept->size()) {
            const Range& k = (*kept)[next];
            if (k.end <= pos) {
                ++next;
            } else if (pos + span > k.begin) {
                pos = RoundUp(k.end, 4);
                ++next;
            } else {
                break;
            }
        }
        const std::uint64_t at = pos;
        pos += span;
        return at;
    }
};

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
    DataPlacer data;
    const platform::MappedView& source; // the executable's view, where unchanged leaves lie
    platform::FileHandle sourceFile;
    std::vector<LeafCopy>& copies;

    void Write(const TResItem* item) { item->isDir ? WriteDirectory(item) : WriteLeaf(item); }

    void WriteLeaf(const TResItem* item) {
        std::uint8_t* at = image + dirPos;
        dirPos += kDataEntrySize;
        Store32(at + kDataSize, item->size);
        Store32(at + kDataCodePage, item->codePage);
        Store32(at + kDataReserved, item->reserved);
        if (item->inPlace) {
            Store32(at + kDataOffsetToData, item->address);
            return;
        }
        const std::uint64_t dataPos = data.Place(item->size);
        Store32(at + kDataOffsetToData, static_cast<std::uint32_t>(va + dataPos));
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

// Another section whose bytes the file keeps inside the resource section's, in the part the
// rewrite replaces: they get a place of their own behind the new section.
struct InnerSection {
    std::uint32_t index = 0;
    std::uint32_t oldRaw = 0; // its PointerToRawData
    std::uint32_t size = 0;   // its SizeOfRawData
    std::uint64_t offset = 0; // its new place, from the resource section's start in the file
};

// Everything the writer will do, worked out before anything is changed.
struct Plan {
    std::uint32_t raw = 0;             // file offset of the resource section
    std::uint32_t rva = 0;             // its address
    std::uint32_t oldRawSize = 0;      // its old SizeOfRawData
    std::uint64_t nextVa = UINT64_MAX; // the lowest address of a section behind it
    std::uint64_t spanEnd = 0;         // the end of its old address range
    std::vector<Range> kept;           // its parts that keep their place and bytes
    std::uint32_t newSize = 0;         // bytes of the new section (its VirtualSize)
    std::uint32_t resourceSize = 0;    // of them the resource directory's (its data directory Size)
    std::uint32_t newRaw = 0;          // its size in the file
    std::uint64_t newVirtual = 0;      // its size in memory
    std::int64_t rawDelta = 0;         // the change of its size in the file
    std::int64_t virtualDelta = 0;
    std::vector<InnerSection> inner; // in address order
    std::uint64_t regionSize = 0;    // what the rewrite writes from raw on: section, inner sections
    std::int64_t shift = 0;          // how far the tail moves
    std::uint64_t tailStart = 0;
    std::uint64_t tailLength = 0;
    std::uint64_t fileLength = 0;
    std::uint64_t newLength = 0;
    std::vector<std::uint8_t> headers; // [0, end of the section table) as they will be
    WordSum oldHeaders;                // their words as they are
    std::uint32_t checkSumField = 0;
    bool hasDebug = false;
    std::uint64_t debugOffset = 0; // after the move
    std::uint64_t debugCount = 0;

    bool MovesWithTail(std::uint32_t pointer) const { return pointer >= tailStart; }
    bool InsideResources(std::uint32_t pointer) const {
        return pointer >= raw && pointer < tailStart;
    }
    const InnerSection* Inner(std::uint32_t index) const {
        for (const InnerSection& s : inner) {
            if (s.index == index) {
                return &s;
            }
        }
        return nullptr;
    }
    // A file offset behind the section's start as it is after the rewrite: inside an inner
    // section at that section's new place, anywhere else moved with the tail.
    std::uint32_t Moved(std::uint32_t pointer) const;
    void Update(std::uint32_t at, std::uint32_t value) { Store32(headers.data() + at, value); }
    std::uint32_t Header(std::uint32_t at) const { return Load32(headers.data() + at); }
};

std::uint32_t Add(std::uint32_t value, std::int64_t delta) {
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(value) + delta);
}

std::uint32_t Plan::Moved(std::uint32_t pointer) const {
    for (const InnerSection& s : inner) {
        if (pointer >= s.oldRaw && pointer - s.oldRaw < s.size) {
            return static_cast<std::uint32_t>(raw + s.offset + (pointer - s.oldRaw));
        }
    }
    return Add(pointer, shift);
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

// The resource section's old address range: it ends where the next section starts, or, for
// the last one, where its bytes end in memory.
void PlanSpan(const binary::Reader& file, const Layout& layout, std::uint32_t r,
              const Alignment& alignment, Plan& plan) {
    const Section res = ReadSection(file, layout, r);
    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        const std::uint32_t va = ReadSection(file, layout, i).virtualAddress;
        if (i != r && va > res.virtualAddress) {
            plan.nextVa = std::min<std::uint64_t>(plan.nextVa, va);
        }
    }
    plan.spanEnd = plan.nextVa != UINT64_MAX
                       ? plan.nextVa
                       : res.virtualAddress + RoundUp(std::max(res.virtualSize, res.sizeOfRawData),
                                                      alignment.section);
}

// The parts of the resource section's address range that something besides the resource
// directory uses: another data directory (a packer puts its imports and relocations there),
// and what the import directory names. They keep their place and bytes.
binary::Expected<std::vector<Range>> KeptRanges(const binary::Reader& file, const Layout& layout,
                                                std::uint32_t rva, std::uint64_t spanEnd) {
    std::vector<Range> kept;
    auto keep = [&](std::uint64_t address, std::uint64_t size) {
        const std::uint64_t begin = std::max<std::uint64_t>(address, rva);
        const std::uint64_t end = std::min(address + size, spanEnd);
        if (begin < end) {
            kept.push_back({begin - rva, end - rva});
        }
    };
    for (std::uint32_t k = 0; k < layout.dataDirectoryCount; ++k) {
        const DataDirectory d = Directory(file, layout, k);
        if (k != kDirResource && k != kDirCertificate && d.address != 0 && d.size != 0) {
            keep(d.address, d.size);
        }
    }
    binary::Expected<std::vector<AddressRange>> imports = ImportRanges(file, layout);
    if (!imports) {
        return imports.TakeError();
    }
    for (const AddressRange& r : *imports) {
        keep(r.address, r.size);
    }
    std::sort(kept.begin(), kept.end(),
              [](const Range& a, const Range& b) { return a.begin < b.begin; });
    std::vector<Range> merged;
    for (const Range& k : kept) {
        if (!merged.empty() && k.begin <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, k.end);
        } else {
            merged.push_back(k);
        }
    }
    return merged;
}

// The new section's sizes (its resources laid out around the parts that keep their place) and
// how far it changes in the file and in memory.
binary::Status PlanSizes(const binary::Reader& file, const Layout& layout, std::uint32_t r,
                         const Sizes& sizes, const Alignment& alignment, Plan& plan) {
    const Section res = ReadSection(file, layout, r);
    const std::uint32_t header = layout.Section(r);
    plan.rva = res.virtualAddress;
    plan.raw = res.pointerToRawData;
    plan.oldRawSize = res.sizeOfRawData;
    PlanSpan(file, layout, r, alignment, plan);
    binary::Expected<std::vector<Range>> kept = KeptRanges(file, layout, plan.rva, plan.spanEnd);
    if (!kept) {
        return kept.TakeError();
    }
    plan.kept = std::move(*kept);
    const std::uint64_t tablesEnd = RoundUp(sizes.dirSize + sizes.strSize, 4);
    if (!plan.kept.empty() && plan.kept.front().begin < tablesEnd) {
        return file.Fault(ErrorCode::Unsupported,
                          "the new resource directory would overwrite data that another part of "
                          "the program keeps in the resource section",
                          header, kSectionHeaderSize);
    }
    DataPlacer placer{&plan.kept, tablesEnd};
    for (const std::uint32_t size : sizes.dataSizes) {
        placer.Place(size);
    }
    const std::uint64_t resourceSize = placer.pos;
    const std::uint64_t newSize =
        std::max(resourceSize, plan.kept.empty() ? 0 : plan.kept.back().end);
    const std::uint64_t newRaw = RoundUp(newSize, alignment.file);
    plan.newVirtual = RoundUp(newSize, alignment.section);
    const std::uint64_t oldVirtual =
        RoundUp(Directory(file, layout, kDirResource).size, alignment.section);
    if (newSize > kMaxSection || newRaw > UINT32_MAX || plan.rva + plan.newVirtual > UINT32_MAX) {
        return binary::Fault(ErrorCode::Unsupported, "the new resource section would be too large");
    }
    plan.newSize = static_cast<std::uint32_t>(newSize);
    plan.resourceSize = static_cast<std::uint32_t>(resourceSize);
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
    return binary::Ok();
}

// Sections behind the resource section in memory whose bytes lie wholly inside its bytes in
// the file (a section grown in place over the next one's); then where everything goes: the new
// section, those sections behind it in address order, and the tail.
binary::Status PlanRegion(const binary::Reader& file, const Layout& layout, std::uint32_t r,
                          const Alignment& alignment, Plan& plan) {
    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        const Section s = ReadSection(file, layout, i);
        const std::uint64_t begin = s.pointerToRawData;
        const std::uint64_t end = begin + s.sizeOfRawData;
        if (i != r && s.sizeOfRawData != 0 && begin != 0 && begin >= plan.raw &&
            end <= plan.tailStart && s.virtualAddress > plan.rva) {
            plan.inner.push_back({i, s.pointerToRawData, s.sizeOfRawData, 0});
        }
    }
    std::sort(plan.inner.begin(), plan.inner.end(), [&](const auto& a, const auto& b) {
        return ReadSection(file, layout, a.index).virtualAddress <
               ReadSection(file, layout, b.index).virtualAddress;
    });
    plan.regionSize = plan.newRaw;
    for (InnerSection& s : plan.inner) {
        s.offset = plan.regionSize;
        plan.regionSize = RoundUp(s.offset + s.size, alignment.file);
    }
    plan.shift = static_cast<std::int64_t>(plan.regionSize) - plan.oldRawSize;
    const std::uint64_t effective = std::max(plan.fileLength, plan.tailStart);
    plan.tailLength = effective - plan.tailStart;
    plan.newLength = static_cast<std::uint64_t>(static_cast<std::int64_t>(effective) + plan.shift);
    if (plan.newLength > UINT32_MAX || plan.shift > INT32_MAX || plan.shift < INT32_MIN) {
        return binary::Fault(ErrorCode::Unsupported, "the file would grow beyond 4 GB");
    }
    return binary::Ok();
}

// Whether section i (not the resource section) can stay where it is or move with the tail: its
// bytes apart from the resource section's (or given a place of their own), in the same order in
// the file as in memory, and, when addresses change, nothing in it that depends on its
// address.
binary::Status CheckSection(const binary::Reader& file, const Layout& layout, std::uint32_t i,
                            const Plan& plan, const DataDirectory& relocations) {
    const Section s = ReadSection(file, layout, i);
    const bool behind = s.virtualAddress > plan.rva;
    const std::string name = "section " + std::to_string(i + 1);
    auto refuse = [&](const std::string& why) {
        return file.Fault(ErrorCode::Unsupported, name + why, layout.Section(i),
                          kSectionHeaderSize);
    };
    if (s.sizeOfRawData != 0 && s.pointerToRawData != 0 && !plan.Inner(i)) {
        const std::uint64_t begin = s.pointerToRawData;
        const std::uint64_t end = begin + s.sizeOfRawData;
        if (begin < plan.tailStart && end > plan.raw) {
            return refuse(" shares its bytes in the file with the resource section");
        }
        if (plan.shift != 0 && behind && begin < plan.tailStart) {
            return refuse(" lies behind the resource section in memory but before it in the file");
        }
        if (plan.shift != 0 && !behind && begin >= plan.tailStart) {
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
    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        if (i == r) {
            continue;
        }
        binary::Status ok = CheckSection(file, layout, i, plan, relocations);
        if (!ok) {
            return ok;
        }
    }
    if (plan.nextVa != UINT64_MAX &&
        plan.rva + plan.newVirtual >
            static_cast<std::uint64_t>(static_cast<std::int64_t>(plan.nextVa) +
                                       plan.virtualDelta)) {
        return file.Fault(ErrorCode::Unsupported,
                          "the new resource section would overlap the next section in memory",
                          layout.Section(r), kSectionHeaderSize);
    }
    return binary::Ok();
}

// Leaves that keep pointing at bytes in another section: that section must keep its address.
binary::Status CheckInPlaceLeaves(const binary::Reader& file, const Layout& layout,
                                  const Sizes& sizes, const Plan& plan) {
    if (plan.virtualDelta == 0) {
        return binary::Ok();
    }
    for (const AddressRange& leaf : sizes.inPlace) {
        // The reader keeps only bytes outside the resource section's range: these lie in a
        // section behind it, which moves.
        if (leaf.address > plan.rva) {
            const std::uint32_t i = SectionHolding(file, layout, leaf.address).value_or(0);
            return file.Fault(ErrorCode::Unsupported,
                              "resource data lies in section " + std::to_string(i + 1) +
                                  ", which moves in memory behind the new resource section; "
                                  "its resources cannot keep their place",
                              layout.Section(i), kSectionHeaderSize);
        }
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
    plan.Update(layout.DirSize(kDirResource), plan.resourceSize);
    plan.Update(opt + kSizeOfImage, Add(plan.Header(opt + kSizeOfImage), plan.virtualDelta));
    const binary::Reader headers(plan.headers);
    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        const std::uint32_t at = layout.Section(i);
        const Section s = ReadSection(headers, layout, i);
        auto moveFilePointer = [&](std::uint32_t field, std::uint32_t pointer, bool moves) {
            if (moves) {
                plan.Update(at + field, plan.Moved(pointer));
            }
        };
        if (s.virtualAddress > plan.rva) {
            plan.Update(at + kSecVirtualAddress, Add(s.virtualAddress, plan.virtualDelta));
            if (const InnerSection* inner = plan.Inner(i)) {
                plan.Update(at + kSecPointerToRawData,
                            static_cast<std::uint32_t>(plan.raw + inner->offset));
            } else {
                // A section without bytes in the file has no position to move.
                moveFilePointer(kSecPointerToRawData, s.pointerToRawData, s.pointerToRawData != 0);
            }
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
    // Directories inside the resource section's range keep their place with their bytes.
    for (std::uint32_t k = 0; k < layout.dataDirectoryCount; ++k) {
        const std::uint32_t va = plan.Header(layout.DirAddress(k));
        if (k != kDirCertificate && va > plan.rva && va >= plan.spanEnd) {
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
                plan.Update(layout.DirAddress(kDirCertificate), Add(at, plan.shift));
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
            plan.Update(field, Add(symbols, plan.shift));
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
        (begin < plan.raw + plan.regionSize && end > plan.raw)) {
        return headers.Fault(
            ErrorCode::Unsupported,
            "the debug directory lies outside the file or inside the resource section",
            layout.DirAddress(kDirDebug), kDataDirectorySize);
    }
    return binary::Ok();
}

// The whole plan, in steps: alignment, sizes, where everything goes, the move plan, the
// headers, the directories.
binary::Status PlanWrite(const binary::Reader& file, const Layout& layout, std::uint32_t r,
                         const Sizes& sizes, Plan& plan) {
    binary::Expected<Alignment> alignment = ReadAlignment(file, layout);
    if (!alignment) {
        return alignment.TakeError();
    }
    binary::Status planned = PlanSizes(file, layout, r, sizes, *alignment, plan);
    if (planned) {
        planned = PlanRegion(file, layout, r, *alignment, plan);
    }
    if (planned) {
        planned = CheckSections(file, layout, r, plan);
    }
    if (planned) {
        planned = CheckInPlaceLeaves(file, layout, sizes, plan);
    }
    if (!planned) {
        return planned;
    }
    plan.headers.assign(file.Data(), file.Data() + layout.SectionTableEnd());
    plan.oldHeaders.Add(0, plan.headers.data(), plan.headers.size());
    plan.checkSumField = layout.Optional(kCheckSum);
    PlanHeaders(layout, r, plan);
    planned = PlanFileOffsets(layout, plan);
    if (planned) {
        planned = PlanDebugDirectory(layout, plan);
    }
    return planned;
}

} // namespace

namespace detail {

namespace {

// The sums of n bytes of the buffer that were read at `from` and are written at `to`.
void AddSums(const Sums& sums, std::uint64_t from, std::uint64_t to, const std::uint8_t* bytes,
             std::size_t n) {
    if (!sums.source && !sums.destination) {
        return;
    }
    WordSum block;
    block.Add(from, bytes, n);
    if (sums.source) {
        sums.source->value += block.value;
    }
    if (sums.destination) {
        // A move by an even distance keeps every byte's place in its word.
        if ((to - from) % 2 == 0) {
            sums.destination->value += block.value;
        } else {
            sums.destination->Add(to, bytes, n);
        }
    }
}

} // namespace

Moved MoveFileBytes(platform::Os& os, platform::FileHandle file, std::uint64_t from,
                    std::uint64_t to, std::uint64_t length, std::vector<std::uint8_t>& buffer,
                    Sums sums) {
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
        AddSums(sums, from + at, to + at, buffer.data(), static_cast<std::size_t>(n));
        done += n;
    }
    return Moved::All;
}

bool CopyFileBytes(platform::Os& os, platform::FileHandle from, std::uint64_t fromOffset,
                   platform::FileHandle to, std::uint64_t toOffset, std::uint64_t length,
                   std::vector<std::uint8_t>& buffer, Sums sums) {
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
        AddSums(sums, fromOffset + done, toOffset + done, buffer.data(), n);
        done += n;
    }
    return true;
}

bool SumFileBytes(platform::Os& os, platform::FileHandle file, std::uint64_t offset,
                  std::uint64_t length, std::vector<std::uint8_t>& buffer, WordSum& sum) {
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done));
        std::size_t got = 0;
        if (!os.ReadAt(file, offset + done, buffer.data(), n, got)) {
            return false;
        }
        if (got != n) {
            os.SetLastError(platform::error::kHandleEof);
            return false;
        }
        sum.Add(offset + done, buffer.data(), n);
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

// The checksum while the file is rewritten: the old file's word sum gathered from the
// transfers that read its bytes anyway (the tail's move, the copy of the old section), and
// the new file's from those that write them. Only a field that is not 0 is kept up to date,
// and only when it was right.
struct CheckSumTally {
    bool active = false;
    WordSum prefix;  // [0, raw) of the old file
    WordSum region;  // the old file from raw to the tail
    WordSum tailOld; // the tail where it was
    WordSum tailNew; // and where it is after the move
};

// The checksum field's new value, or the old one when that was not the file's checksum.
std::uint32_t NewCheckSum(const Plan& plan, const CheckSumTally& tally,
                          std::vector<std::uint8_t>& headers, const WordSum& regionNew,
                          std::uint64_t debugOffset, const std::vector<std::uint8_t>& debugOld,
                          const std::vector<std::uint8_t>& debugNew) {
    const std::uint32_t at = plan.checkSumField;
    const std::uint32_t stored = Load32(plan.headers.data() + at);
    WordSum field;
    field.Add(at, plan.headers.data() + at, 4);
    const std::uint64_t old =
        tally.prefix.value + tally.region.value + tally.tailOld.value - field.value;
    if (CheckSum(old, plan.fileLength) != stored) {
        return stored;
    }
    // The headers' words (the field's as zero in the new ones), before and after; the debug
    // entries'.
    const WordSum& headersOld = plan.oldHeaders;
    WordSum headersNew, entriesOld, entriesNew;
    Store32(headers.data() + at, 0);
    headersNew.Add(0, headers.data(), headers.size());
    entriesOld.Add(debugOffset, debugOld.data(), debugOld.size());
    entriesNew.Add(debugOffset, debugNew.data(), debugNew.size());
    const std::uint64_t sum = tally.prefix.value + headersNew.value + regionNew.value +
                              tally.tailNew.value + entriesNew.value - headersOld.value -
                              entriesOld.value;
    return CheckSum(sum, plan.newLength);
}

// The new section into the file as it is after the move: the image first (the one step that
// can fail, before anything else is written), then the header and debug changes through the
// view, the checksum with them.
binary::Status Apply(TResEditHandle& h, const Plan& plan, const TempImage& temp, UndoLog* undo,
                     std::vector<std::uint8_t>& buffer, const CheckSumTally& tally) {
    WordSum regionNew;
    if (!detail::CopyFileBytes(*h.os, temp.file, 0, h.file, plan.raw, plan.regionSize, buffer,
                               {nullptr, tally.active ? &regionNew : nullptr})) {
        return binary::Fault(ErrorCode::Io, "cannot write the new resource section");
    }
    std::uint8_t* base = h.view.base;
    std::vector<std::uint8_t> headers = plan.headers;
    std::vector<std::uint8_t> debugOld, debugNew;
    if (plan.hasDebug) {
        debugOld.assign(base + plan.debugOffset,
                        base + plan.debugOffset + plan.debugCount * kDebugEntrySize);
        debugNew = debugOld;
        for (std::uint64_t k = 0; k < plan.debugCount; ++k) {
            std::uint8_t* entry = debugNew.data() + k * kDebugEntrySize;
            const std::uint32_t pointer = Load32(entry + kDebugPointerToRawData);
            if (pointer > plan.raw) {
                Store32(entry + kDebugPointerToRawData, plan.Moved(pointer));
                const std::uint32_t address = Load32(entry + kDebugAddressOfRawData);
                if (address != 0) {
                    Store32(entry + kDebugAddressOfRawData, Add(address, plan.virtualDelta));
                }
            }
        }
    }
    if (tally.active) {
        const std::uint32_t sum =
            NewCheckSum(plan, tally, headers, regionNew, plan.debugOffset, debugOld, debugNew);
        Store32(headers.data() + plan.checkSumField, sum);
    }
    if (undo) {
        undo->Save(base, 0, headers.size());
    }
    std::memcpy(base, headers.data(), headers.size());
    if (plan.hasDebug) {
        if (undo) {
            undo->Save(base, plan.debugOffset, debugNew.size());
        }
        std::memcpy(base + plan.debugOffset, debugNew.data(), debugNew.size());
    }
    return binary::Ok();
}

// The image of what the rewrite writes (the new section, then the sections that get bytes of
// their own) in a mapped temporary file, complete before the executable changes, and behind it
// a copy of the old section's bytes to put back should a later step fail. The file is new, so
// every byte the image does not write is zero. Tables and names go through the view; the
// leaves' bytes, the parts that keep their place, the sections' bytes, and the copy, are
// copied from file to file in blocks: through the views every page would fault on its own.
binary::Status BuildImage(TResEditHandle& h, const Sizes& sizes, const Plan& plan, TempImage& temp,
                          std::vector<std::uint8_t>& buffer, CheckSumTally& tally) {
    platform::Os& os = *h.os;
    temp.file = ResEditCreateTemp(os, h.root, temp.name);
    if (!temp.file.IsValid()) {
        return binary::Fault(ErrorCode::Io,
                             "cannot create the temporary file for the new resource section");
    }
    temp.created = true;
    const std::uint64_t oldEnd = std::min(plan.tailStart, plan.fileLength);
    temp.backupOffset = plan.regionSize;
    temp.backupLength = oldEnd > plan.raw ? oldEnd - plan.raw : 0;
    if (!os.SetLength(temp.file, temp.backupOffset + temp.backupLength) ||
        !os.Map(temp.file, temp.view)) {
        return binary::Fault(ErrorCode::Io,
                             "cannot size or map the temporary file for the new resource section");
    }
    std::vector<LeafCopy> copies;
    ImageWriter writer{temp.view.base,
                       plan.rva,
                       0,
                       sizes.dirSize,
                       DataPlacer{&plan.kept, RoundUp(sizes.dirSize + sizes.strSize, 4)},
                       h.view,
                       h.file,
                       copies};
    writer.Write(h.root);
    for (const Range& k : plan.kept) {
        // What lies beyond the old section's bytes in the file is zero in memory, and stays so.
        if (k.begin < plan.oldRawSize) {
            copies.push_back({h.file, plan.raw + k.begin, k.begin,
                              std::min<std::uint64_t>(k.end, plan.oldRawSize) - k.begin,
                              "cannot copy data kept in the resource section"});
        }
    }
    for (const InnerSection& s : plan.inner) {
        copies.push_back({h.file, s.oldRaw, s.offset, s.size,
                          "cannot copy the bytes of a section inside the resource section"});
    }
    for (const LeafCopy& c : copies) {
        if (!detail::CopyFileBytes(os, c.from, c.fromOffset, temp.file, c.toOffset, c.size,
                                   buffer)) {
            return binary::Fault(ErrorCode::Io, c.failure);
        }
    }
    if (!detail::CopyFileBytes(os, h.file, plan.raw, temp.file, temp.backupOffset,
                               temp.backupLength, buffer,
                               {tally.active ? &tally.region : nullptr, nullptr})) {
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
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(plan.tailStart) + plan.shift);
}

detail::Sums TailSums(CheckSumTally& tally) {
    if (!tally.active) {
        return {};
    }
    return {&tally.tailOld, &tally.tailNew};
}

// Growing: resize (which reserves the space), map again, move the tail up, write the section.
// A failure moves back what has moved, puts the old section back and the length too.
binary::Status Grow(TResEditHandle& h, const Plan& plan, const TempImage& temp,
                    std::vector<std::uint8_t>& buffer, CheckSumTally& tally) {
    platform::Os& os = *h.os;
    os.Unmap(h.view);
    h.peHeader = nullptr;
    if (!os.SetLength(h.file, plan.newLength) || !os.Map(h.file, h.view)) {
        platform::PreserveLastError keep(os);
        // The length is put back as well as it can be; the failure is reported either way.
        (void)os.SetLength(h.file, plan.fileLength);
        return binary::Fault(ErrorCode::Io, "cannot resize or map the file again");
    }
    const detail::Moved moved =
        detail::MoveFileBytes(os, h.file, plan.tailStart, TailDestination(plan), plan.tailLength,
                              buffer, TailSums(tally));
    binary::Status done =
        moved == detail::Moved::All
            ? Apply(h, plan, temp, nullptr, buffer, tally)
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
                      std::vector<std::uint8_t>& buffer, CheckSumTally& tally) {
    platform::Os& os = *h.os;
    UndoLog undo{temp, plan.raw, {}};
    const detail::Moved moved =
        detail::MoveFileBytes(os, h.file, plan.tailStart, TailDestination(plan), plan.tailLength,
                              buffer, TailSums(tally));
    if (moved != detail::Moved::All) {
        const bool restored = undo.Undo(os, h.file, buffer) && moved != detail::Moved::Damaged;
        return AfterChange(
            binary::Fault(ErrorCode::Io, "cannot move the data behind the resource section"),
            restored);
    }
    undo.Moved(plan.tailStart, TailDestination(plan), plan.tailLength);
    binary::Status applied = Apply(h, plan, temp, &undo, buffer, tally);
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

// The same size in the file: only the section and the headers change. The tail stays, and
// is summed where it is.
binary::Status Replace(TResEditHandle& h, const Plan& plan, const TempImage& temp,
                       std::vector<std::uint8_t>& buffer, CheckSumTally& tally) {
    if (tally.active && plan.fileLength > plan.tailStart) {
        if (!detail::SumFileBytes(*h.os, h.file, plan.tailStart, plan.fileLength - plan.tailStart,
                                  buffer, tally.tailOld)) {
            return binary::Fault(ErrorCode::Io, "cannot read the file to keep its checksum");
        }
        tally.tailNew = tally.tailOld;
    }
    binary::Status applied = Apply(h, plan, temp, nullptr, buffer, tally);
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
    CheckSumTally tally;
    tally.active = plan.Header(plan.checkSumField) != 0;
    if (tally.active && !detail::SumFileBytes(*h.os, h.file, 0, plan.raw, buffer, tally.prefix)) {
        return binary::Fault(ErrorCode::Io, "cannot read the file to keep its checksum");
    }
    TempImage temp{*h.os, {}, {}, {}, false};
    ready = BuildImage(h, sizes, plan, temp, buffer, tally);
    if (!ready) {
        return ready;
    }
    if (plan.newLength > plan.fileLength) {
        ready = Grow(h, plan, temp, buffer, tally);
    } else if (plan.newLength < plan.fileLength) {
        // The file stays unmapped: the handle is closed next.
        return Shrink(h, plan, temp, buffer, tally);
    } else {
        ready = Replace(h, plan, temp, buffer, tally);
    }
    if (h.view.IsMapped()) {
        h.peHeader = h.view.base + h.layout.pe;
    }
    return ready;
}

} // namespace detail

} // namespace resedit
