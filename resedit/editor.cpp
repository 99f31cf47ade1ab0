// Opening, reading the resource directory, lookups and updates, closing.
#include "binary/pe.h"
#include "resedit/internal.h"

#include <algorithm>
#include <new>
#include <vector>

namespace resedit {

namespace {

namespace pe = binary::pe;
using binary::Load16;
using binary::Load32;
using pe::kDataCodePage;
using pe::kDataEntrySize;
using pe::kDataOffsetToData;
using pe::kDataReserved;
using pe::kDataSize;
using pe::kDirCharacteristics;
using pe::kDirIdEntries;
using pe::kDirMajorVersion;
using pe::kDirMinorVersion;
using pe::kDirNamedEntries;
using pe::kDirTableSize;
using pe::kDirTimeDateStamp;
using pe::kEntryName;
using pe::kEntryOffsetToData;
using pe::kEntrySize;
using pe::kNameFlag;
using pe::kSubdirectoryFlag;

// Windows has three levels (type, name, language); anything far deeper is not a real file.
constexpr int kMaxDepth = 32;
// Directories and data entries may be shared: each place that refers to one gets its own
// copy in the tree. Without sharing a section holds at most one entry per 8 bytes; sharing
// lets a few tables describe exponentially many paths, so the copies are capped at that
// count or at this many entries (far more than the thousands real programs have), whichever
// is larger, and at what a section could hold when written back.
constexpr std::uint64_t kMaxSharedEntries = 1 << 20;

std::uint64_t RoundUp4(std::uint64_t x) {
    return (x + 3) / 4 * 4;
}

// Reads the tree from the resource section; every fault names its place in the file.
struct TreeReader {
    binary::Reader file;
    const pe::Layout* layout = nullptr;
    std::uint32_t index = 0;              // the resource section's
    binary::Reader section;               // its bytes in the file
    std::uint32_t va = 0;                 // its address
    std::uint64_t extent = 0;             // its bytes in memory
    std::vector<std::uint32_t> ancestors; // the directories on the path being read
    std::uint64_t entryBudget = 0;
    // The section the tree would be written back as (every copy in it), as the writer
    // measures it: directory tables and data entries, name strings, data.
    std::uint64_t dirSize = 0;
    std::uint64_t strSize = 0;
    std::uint64_t dataSize = 0;

    binary::Error Fault(std::string message, std::uint64_t at, std::uint64_t size,
                        binary::ErrorCode code = binary::ErrorCode::Malformed) const {
        return section.Fault(code, std::move(message), at, size);
    }

    binary::Status Grow(std::uint64_t& size, std::uint64_t by, std::uint64_t at) {
        size += by;
        if (RoundUp4(dirSize + strSize) + dataSize > detail::kMaxSectionSize) {
            return Fault("the resource directory describes more than a section can hold", at, by,
                         binary::ErrorCode::Unsupported);
        }
        return binary::Ok();
    }

    // Reads the item of one directory entry (Name, OffsetToData) into a fresh item.
    binary::Status ReadItem(std::uint32_t nameField, std::uint32_t offsetField, int depth,
                            TPResItem& out) {
        TPResItem item = detail::NewItem((offsetField & kSubdirectoryFlag) != 0);
        out = item;
        if (nameField & kNameFlag) {
            binary::Status named = ReadName(nameField & ~kNameFlag, *item);
            if (!named) {
                return named;
            }
        } else {
            item->id = static_cast<std::int32_t>(nameField);
        }
        const std::uint32_t at = offsetField & ~kSubdirectoryFlag;
        return item->isDir ? ReadDirectory(item, at, depth) : ReadLeaf(item, at);
    }

    // A name: a 16-bit length, then that many UTF-16 characters. It may be empty: the entry
    // is still a named one.
    binary::Status ReadName(std::uint32_t at, TResItem& item) {
        std::uint16_t length = 0;
        if (!section.U16(at, length) || !section.Has(at + 2ull, 2ull * length)) {
            return Fault("a resource name lies outside the resource section", at, 2 + 2ull * length,
                         binary::ErrorCode::Truncated);
        }
        item.named = true;
        const std::uint8_t* chars = section.At(at + 2ull, 2ull * length);
        item.name.resize(length);
        for (std::uint16_t i = 0; i < length; ++i) {
            item.name[i] = static_cast<char16_t>(Load16(chars + 2 * i));
        }
        return Grow(strSize, 2 + 2ull * length, at);
    }

    binary::Status ReadDirectory(TPResItem dir, std::uint32_t at, int depth) {
        if (depth > kMaxDepth) {
            return Fault("the resource directory nests too deep", at, kDirTableSize);
        }
        // A directory may be reached on several paths, but never from inside itself.
        for (std::uint32_t a : ancestors) {
            if (a == at) {
                return Fault("a resource directory refers back to an enclosing one", at,
                             kDirTableSize);
            }
        }
        const std::uint8_t* table = section.At(at, kDirTableSize);
        if (!table) {
            return Fault("a resource directory lies outside the resource section", at,
                         kDirTableSize, binary::ErrorCode::Truncated);
        }
        dir->attr = Load32(table + kDirCharacteristics);
        dir->time = Load32(table + kDirTimeDateStamp);
        dir->majorVer = Load16(table + kDirMajorVersion);
        dir->minorVer = Load16(table + kDirMinorVersion);
        dir->namedItems = Load16(table + kDirNamedEntries);
        dir->idItems = Load16(table + kDirIdEntries);
        const std::uint64_t count = dir->namedItems + dir->idItems;
        const std::uint8_t* entries = section.At(at + kDirTableSize, count * kEntrySize);
        if (!entries) {
            return Fault("a resource directory's entries lie outside the resource section",
                         at + kDirTableSize, count * kEntrySize, binary::ErrorCode::Truncated);
        }
        if (count > entryBudget) {
            return Fault("the resource directory has more entries than any section could hold", at,
                         kDirTableSize, binary::ErrorCode::Unsupported);
        }
        entryBudget -= count;
        binary::Status grown = Grow(dirSize, kDirTableSize + count * kEntrySize, at);
        if (!grown) {
            return grown;
        }
        ancestors.push_back(at);
        TPResItem* tail = &dir->child;
        for (std::uint64_t j = 0; j < count; ++j) {
            const std::uint8_t* entry = entries + j * kEntrySize;
            const std::uint32_t nameField = Load32(entry + kEntryName);
            // The tree relies on the named entries coming first, as their count says.
            if (((nameField & kNameFlag) != 0) != (j < dir->namedItems)) {
                return Fault("a resource directory mixes named and id entries",
                             at + kDirTableSize + j * kEntrySize, kEntrySize);
            }
            TPResItem child = nullptr;
            binary::Status read =
                ReadItem(nameField, Load32(entry + kEntryOffsetToData), depth + 1, child);
            *tail = child;
            tail = &child->next;
            if (!read) {
                return read;
            }
        }
        ancestors.pop_back();
        return binary::Ok();
    }

    binary::Status ReadLeaf(TPResItem leaf, std::uint32_t at) {
        const std::uint8_t* entry = section.At(at, kDataEntrySize);
        if (!entry) {
            return Fault("a resource data entry lies outside the resource section", at,
                         kDataEntrySize, binary::ErrorCode::Truncated);
        }
        const std::uint32_t rva = Load32(entry + kDataOffsetToData);
        leaf->size = Load32(entry + kDataSize);
        leaf->codePage = Load32(entry + kDataCodePage);
        leaf->reserved = Load32(entry + kDataReserved);
        // Leaves may share their bytes or overlap; each is written back as a copy of its own.
        if (rva < va || !section.Has(rva - va, leaf->size)) {
            return ReadLeafElsewhere(leaf, rva, at);
        }
        binary::Status grown = Grow(dirSize, kDataEntrySize, at);
        if (grown) {
            grown = Grow(dataSize, RoundUp4(leaf->size), at);
        }
        if (!grown) {
            return grown;
        }
        leaf->data = section.Data() + (rva - va);
        return binary::Ok();
    }

    // A leaf whose bytes lie in another section: they stay there, and the writer keeps
    // pointing at them. Bytes reaching into the resource section's own range, or beyond the
    // section they start in, are refused.
    binary::Status ReadLeafElsewhere(TPResItem leaf, std::uint32_t rva, std::uint32_t at) {
        const std::uint64_t end = std::uint64_t{rva} + leaf->size;
        if (end > va && rva < va + extent) {
            return Fault("resource data runs past the resource section's bytes in the file", at,
                         kDataEntrySize, binary::ErrorCode::Truncated);
        }
        const std::optional<std::uint32_t> holder = pe::SectionHolding(file, *layout, rva);
        const pe::Section s = holder ? pe::ReadSection(file, *layout, *holder) : pe::Section{};
        if (!holder || *holder == index ||
            end - s.virtualAddress > std::max(s.virtualSize, s.sizeOfRawData)) {
            return Fault("resource data lies outside every section", at, kDataEntrySize,
                         binary::ErrorCode::Truncated);
        }
        binary::Status grown = Grow(dirSize, kDataEntrySize, at);
        if (!grown) {
            return grown;
        }
        leaf->inPlace = true;
        leaf->address = rva;
        const std::uint64_t offset = rva - s.virtualAddress;
        if (offset + leaf->size <= s.sizeOfRawData) {
            leaf->data = file.At(s.pointerToRawData + offset, leaf->size);
        }
        return binary::Ok();
    }
};

struct Path {
    TPResItem* typeLink = nullptr;
    TPResItem type = nullptr;
    TPResItem* nameLink = nullptr;
    TPResItem name = nullptr;
    TPResItem* leafLink = nullptr;
    TPResItem leaf = nullptr;
};

Path Lookup(TResEditHandle* h, const ResKey& resType, const ResKey& resName,
            std::uint16_t language) {
    Path p;
    p.typeLink = ResFindEntry(h->root, resType);
    p.type = *p.typeLink;
    if (!p.type) {
        return p;
    }
    p.nameLink = ResFindEntry(p.type, resName);
    p.name = *p.nameLink;
    if (!p.name) {
        return p;
    }
    for (TPResItem* link = &p.name->child; *link; link = &(*link)->next) {
        if (!(*link)->isDir && (*link)->id == language) {
            p.leafLink = link;
            p.leaf = *link;
            break;
        }
    }
    return p;
}

bool ValidKey(const ResKey& key) {
    return key.IsId() || (!key.Name().empty() && key.Name().size() <= 0xFFFF);
}

void Release(TResEditHandle* h) {
    platform::Os& os = *h->os;
    ResReleaseItem(os, h->root);
    h->root = nullptr;
    os.Unmap(h->view);
    os.Close(h->file);
    delete h;
}

binary::Error NoSuchResource() {
    return binary::Fault(binary::ErrorCode::NotFound,
                         "no resource of that type, name and language");
}

// The thread's last-error code for a refused open: a system call's own code stays.
void SetOpenError(platform::Os& os, binary::ErrorCode code) {
    switch (code) {
    case binary::ErrorCode::Io:
        break;
    case binary::ErrorCode::NotFound:
        os.SetLastError(platform::error::kFileNotFound);
        break;
    case binary::ErrorCode::OutOfMemory:
        os.SetLastError(platform::error::kNotEnoughMemory);
        break;
    default:
        os.SetLastError(platform::error::kBadExeFormat);
        break;
    }
}

} // namespace

namespace detail {

binary::Status ReadTree(TResEditHandle& h) {
    const binary::Reader file(h.view.base, h.view.size);
    const pe::Section s = pe::ReadSection(file, h.layout, h.resourceSection);
    TreeReader reader;
    reader.file = file;
    reader.layout = &h.layout;
    reader.index = h.resourceSection;
    reader.section = file.Sub(s.pointerToRawData, s.sizeOfRawData);
    reader.va = s.virtualAddress;
    reader.extent = std::max(s.virtualSize, s.sizeOfRawData);
    reader.entryBudget =
        std::max<std::uint64_t>(reader.section.Size() / kEntrySize, kMaxSharedEntries);
    try {
        return reader.ReadItem(0, kSubdirectoryFlag, 0, h.root);
    } catch (const std::bad_alloc&) {
        return binary::OutOfMemory("out of memory reading the resource directory");
    }
}

binary::Status OpenFile(TResEditHandle& h, std::u16string_view fileName, bool dropExisting) {
    platform::Os& os = *h.os;
    h.file = os.OpenExisting(fileName, platform::Access::ReadWrite, platform::Share::Exclusive);
    if (!h.file.IsValid()) {
        return binary::Fault(binary::ErrorCode::Io, "cannot open the file");
    }
    if (!os.Map(h.file, h.view)) {
        return binary::Fault(binary::ErrorCode::Io, "cannot map the file");
    }
    const binary::Reader file(h.view.base, h.view.size);
    binary::Expected<pe::Layout> layout = pe::ParseLayout(file);
    if (!layout) {
        return layout.TakeError();
    }
    h.layout = *layout;
    h.peHeader = h.view.base + h.layout.pe;
    const pe::DataDirectory resources = pe::Directory(file, h.layout, pe::kDirResource);
    const std::optional<std::uint32_t> index =
        resources.address == 0 ? std::nullopt : pe::SectionAt(file, h.layout, resources.address);
    if (!index) {
        return file.Fault(binary::ErrorCode::NotFound,
                          "no section starts at the resource directory",
                          h.layout.DirAddress(pe::kDirResource), pe::kDataDirectorySize);
    }
    h.resourceSection = *index;
    // A section that runs past the end of the file is a truncated file; writing it back
    // would first have to grow the file by whatever its header claims.
    const pe::Section res = pe::ReadSection(file, h.layout, h.resourceSection);
    if (!file.Has(res.pointerToRawData, res.sizeOfRawData)) {
        return file.Fault(binary::ErrorCode::Truncated,
                          "the resource section runs past the end of the file",
                          res.pointerToRawData, res.sizeOfRawData);
    }
    if (!dropExisting) {
        return ReadTree(h);
    }
    h.root = new (std::nothrow) TResItem();
    if (!h.root) {
        return binary::OutOfMemory("out of memory");
    }
    h.root->isDir = true;
    return binary::Ok();
}

void RemoveResource(TResEditHandle& h, const ResKey& resType, const ResKey& resName,
                    std::uint16_t language) {
    platform::Os& os = *h.os;
    const Path p = Lookup(&h, resType, resName, language);
    if (p.leaf) {
        const ResChainLink chain[] = {
            {p.name, p.leafLink}, {p.type, p.nameLink}, {h.root, p.typeLink}};
        ResRemovePruned(os, chain, 3);
    } else if (p.name && language == 0) {
        const ResChainLink chain[] = {{p.type, p.nameLink}, {h.root, p.typeLink}};
        ResRemovePruned(os, chain, 2);
    } else if (p.type && !p.name && language == 0 && resName.IsId() && resName.Id() == 0) {
        const ResChainLink chain[] = {{h.root, p.typeLink}};
        ResRemovePruned(os, chain, 1);
    }
}

} // namespace detail

namespace {

// Adds a resource or gives an existing one new bytes; a failure leaves the tree as it was.
binary::Status SetResource(TResEditHandle& h, const ResKey& resType, const ResKey& resName,
                           std::uint16_t language, const void* data, std::uint32_t size) {
    platform::Os& os = *h.os;
    if (!ValidKey(resType) || !ValidKey(resName)) {
        return binary::Fault(binary::ErrorCode::InvalidArgument,
                             "a resource name must be a text of 1 to 65535 characters");
    }
    const Path p = Lookup(&h, resType, resName, language);
    if (p.leaf) {
        // The new copy is made in a fresh leaf that takes the old one's place only once it
        // holds the bytes, so a failure leaves the old bytes in place.
        TPResItem fresh = new (std::nothrow) TResItem();
        if (!fresh) {
            return binary::OutOfMemory("out of memory");
        }
        fresh->reserved = p.leaf->reserved;
        binary::Status set = detail::SetLeafBytes(os, fresh, language, data, size);
        if (!set) {
            ResReleaseItem(os, fresh);
            return set;
        }
        fresh->next = p.leaf->next;
        *p.leafLink = fresh;
        p.leaf->next = nullptr;
        ResReleaseItem(os, p.leaf);
        return binary::Ok();
    }
    binary::Expected<TPResItem> type = p.type;
    if (!p.type) {
        type = detail::InsertDir(os, h.root, resType);
        if (!type) {
            return type.TakeError();
        }
    }
    binary::Expected<TPResItem> name =
        p.name ? binary::Expected<TPResItem>(p.name) : detail::InsertDir(os, *type, resName);
    binary::Expected<TPResItem> leaf = name;
    if (name) {
        leaf = detail::InsertLeaf(os, *name, language, data, size);
    }
    if (!leaf) {
        // Take back the directories made for this call.
        if (name && !p.name) {
            const ResChainLink chain[] = {{*type, ResFindEntry(*type, resName)},
                                          {h.root, ResFindEntry(h.root, resType)}};
            ResRemovePruned(os, chain, p.type ? 1 : 2);
        } else if (!p.type) {
            const ResChainLink chain[] = {{h.root, ResFindEntry(h.root, resType)}};
            ResRemovePruned(os, chain, 1);
        }
        return leaf.TakeError();
    }
    return binary::Ok();
}

} // namespace

TResEditHandle* ResEditOpen(std::u16string_view fileName, bool dropExisting) {
    return ResEditOpen(platform::SystemOs(), fileName, dropExisting);
}

TResEditHandle* ResEditOpen(platform::Os& os, std::u16string_view fileName, bool dropExisting) {
    detail::ClearMessage();
    TResEditHandle* h = new (std::nothrow) TResEditHandle();
    if (!h) {
        os.SetLastError(platform::error::kNotEnoughMemory);
        detail::SetMessage(binary::OutOfMemory("out of memory"));
        return nullptr;
    }
    h->os = &os;
    binary::Status opened = detail::OpenFile(*h, fileName, dropExisting);
    if (!opened) {
        SetOpenError(os, opened.error().code);
        platform::PreserveLastError keep(os);
        Release(h);
        detail::SetMessage(opened.error());
        return nullptr;
    }
    return h;
}

bool ResEditClose(TResEditHandle* h, bool discard) {
    detail::ClearMessage();
    if (!h) {
        return true;
    }
    bool result = true;
    if (!discard) {
        try {
            result = detail::Report(detail::WriteTree(*h));
        } catch (const std::bad_alloc&) {
            detail::SetMessage(binary::OutOfMemory("out of memory"));
            result = false;
        }
    }
    platform::PreserveLastError keep(*h->os);
    Release(h);
    return result;
}

bool ResEditGet(TResEditHandle* h, const ResKey& resType, const ResKey& resName,
                std::uint16_t language, const std::uint8_t*& data, std::uint32_t& size) {
    detail::ClearMessage();
    data = nullptr;
    size = 0;
    const Path p = Lookup(h, resType, resName, language);
    if (!p.leaf) {
        detail::SetMessage(NoSuchResource());
        return false;
    }
    data = p.leaf->data;
    size = p.leaf->size;
    return true;
}

bool ResEditGetBytes(TResEditHandle* h, const ResKey& resType, const ResKey& resName,
                     std::uint16_t language, std::vector<std::uint8_t>& bytes) {
    detail::ClearMessage();
    bytes.clear();
    const Path p = Lookup(h, resType, resName, language);
    if (!p.leaf) {
        detail::SetMessage(NoSuchResource());
        return false;
    }
    return detail::Report(detail::ReadLeafBytes(*h->os, p.leaf, bytes));
}

bool ResEditUpdate(TResEditHandle* h, const ResKey& resType, const ResKey& resName,
                   std::uint16_t language, const void* data, std::uint32_t size) {
    detail::ClearMessage();
    if (!data) {
        detail::RemoveResource(*h, resType, resName, language);
        return true;
    }
    return detail::Report(SetResource(*h, resType, resName, language, data, size));
}

} // namespace resedit
