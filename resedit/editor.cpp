// Opening, reading the resource directory, lookups and updates, closing.
#include "resedit/internal.h"
#include "resedit/pe.h"

#include <algorithm>
#include <new>
#include <vector>

namespace resedit {

using detail::SetMessage;

namespace {

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

struct TreeReader {
    ByteReader section;                   // the resource section's bytes in the file
    std::uint32_t va = 0;                 // its address
    std::vector<std::uint32_t> ancestors; // the directories on the path being read
    std::uint64_t entryBudget = 0;
    // The section the tree would be written back as (every copy in it), as the writer
    // measures it: directory tables and data entries, name strings, data.
    std::uint64_t dirSize = 0;
    std::uint64_t strSize = 0;
    std::uint64_t dataSize = 0;
    std::string why;

    bool Fail(std::string message) {
        why = std::move(message);
        return false;
    }

    bool Grow(std::uint64_t& size, std::uint64_t by) {
        size += by;
        if (RoundUp4(dirSize + strSize) + dataSize > detail::kMaxSectionSize) {
            return Fail("the resource directory describes more than a section can hold");
        }
        return true;
    }

    // Reads the item of one directory entry (Name, OffsetToData) into a fresh item.
    bool ReadItem(std::uint32_t nameField, std::uint32_t offsetField, int depth, TPResItem& out) {
        TPResItem item = detail::NewItem((offsetField & kSubdirectoryFlag) != 0);
        out = item;
        if (nameField & kNameFlag) {
            const std::uint32_t at = nameField & ~kNameFlag;
            std::uint16_t length = 0;
            if (!section.U16(at, length) || !section.Has(at + 2ull, 2ull * length)) {
                return Fail("a resource name lies outside the resource section");
            }
            // A name may be empty: the entry is still a named one.
            item->named = true;
            const std::uint8_t* chars = section.At(at + 2ull, 2ull * length);
            item->name.resize(length);
            for (std::uint16_t i = 0; i < length; ++i) {
                item->name[i] = static_cast<char16_t>(Load16(chars + 2 * i));
            }
            if (!Grow(strSize, 2 + 2ull * length)) {
                return false;
            }
        } else {
            item->id = static_cast<std::int32_t>(nameField);
        }
        const std::uint32_t at = offsetField & ~kSubdirectoryFlag;
        return item->isDir ? ReadDirectory(item, at, depth) : ReadLeaf(item, at);
    }

    bool ReadDirectory(TPResItem dir, std::uint32_t at, int depth) {
        if (depth > kMaxDepth) {
            return Fail("the resource directory nests too deep");
        }
        // A directory may be reached on several paths, but never from inside itself.
        for (std::uint32_t a : ancestors) {
            if (a == at) {
                return Fail("a resource directory refers back to an enclosing one");
            }
        }
        const std::uint8_t* table = section.At(at, kDirTableSize);
        if (!table) {
            return Fail("a resource directory lies outside the resource section");
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
            return Fail("a resource directory's entries lie outside the resource section");
        }
        if (count > entryBudget) {
            return Fail("the resource directory has more entries than any section could hold");
        }
        entryBudget -= count;
        if (!Grow(dirSize, kDirTableSize + count * kEntrySize)) {
            return false;
        }
        ancestors.push_back(at);
        TPResItem* tail = &dir->child;
        for (std::uint64_t j = 0; j < count; ++j) {
            const std::uint32_t nameField = Load32(entries + j * kEntrySize + kEntryName);
            const std::uint32_t offsetField = Load32(entries + j * kEntrySize + kEntryOffsetToData);
            // The tree relies on the named entries coming first, as their count says.
            if (((nameField & kNameFlag) != 0) != (j < dir->namedItems)) {
                return Fail("a resource directory mixes named and id entries");
            }
            TPResItem child = nullptr;
            const bool ok = ReadItem(nameField, offsetField, depth + 1, child);
            *tail = child;
            tail = &child->next;
            if (!ok) {
                return false;
            }
        }
        ancestors.pop_back();
        return true;
    }

    bool ReadLeaf(TPResItem leaf, std::uint32_t at) {
        const std::uint8_t* entry = section.At(at, kDataEntrySize);
        if (!entry) {
            return Fail("a resource data entry lies outside the resource section");
        }
        const std::uint32_t rva = Load32(entry + kDataOffsetToData);
        leaf->size = Load32(entry + kDataSize);
        leaf->codePage = Load32(entry + kDataCodePage);
        leaf->reserved = Load32(entry + kDataReserved);
        // The address is translated through the resource section; data elsewhere is refused.
        // Leaves may share their bytes or overlap; each is written back as a copy of its own.
        if (rva < va || !section.Has(rva - va, leaf->size)) {
            return Fail("resource data lies outside the resource section");
        }
        if (!Grow(dirSize, kDataEntrySize) || !Grow(dataSize, RoundUp4(leaf->size))) {
            return false;
        }
        leaf->data = section.Data() + (rva - va);
        return true;
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

} // namespace

namespace detail {

bool ReadTree(TResEditHandle& h, std::string& why) {
    const ByteReader file(h.view.base, h.view.size);
    pe::Layout layout;
    bool signatureOk = false;
    if (!pe::ParseLayout(file, layout, signatureOk, why)) {
        return false;
    }
    std::uint32_t index = 0;
    pe::FindResourceSection(file, layout, index);
    const pe::Section s = pe::ReadSection(file.Data() + layout.Section(index));
    TreeReader reader;
    reader.section = file.Sub(s.pointerToRawData, s.sizeOfRawData);
    reader.va = s.virtualAddress;
    reader.entryBudget =
        std::max<std::uint64_t>(reader.section.Size() / kEntrySize, kMaxSharedEntries);
    try {
        const bool ok = reader.ReadItem(0, kSubdirectoryFlag, 0, h.root);
        why = reader.why;
        return ok;
    } catch (const std::bad_alloc&) {
        why = "out of memory reading the resource directory";
        return false;
    }
}

} // namespace detail

TResEditHandle* ResEditOpen(std::u16string_view fileName, bool dropExisting) {
    return ResEditOpen(platform::SystemOs(), fileName, dropExisting);
}

TResEditHandle* ResEditOpen(platform::Os& os, std::u16string_view fileName, bool dropExisting) {
    TResEditHandle* h = new (std::nothrow) TResEditHandle();
    if (!h) {
        os.SetLastError(platform::error::kNotEnoughMemory);
        SetMessage("out of memory");
        return nullptr;
    }
    h->os = &os;
    std::string why;
    auto fail = [&](std::string message) -> TResEditHandle* {
        platform::PreserveLastError keep(os);
        Release(h);
        SetMessage(std::move(message));
        return nullptr;
    };

    h->file = os.OpenExisting(fileName, platform::Access::ReadWrite, platform::Share::Exclusive);
    if (!h->file.IsValid()) {
        return fail("cannot open the file");
    }
    if (!os.Map(h->file, h->view)) {
        return fail("cannot map the file");
    }
    const ByteReader file(h->view.base, h->view.size);
    pe::Layout layout;
    bool signatureOk = false;
    const bool parsed = pe::ParseLayout(file, layout, signatureOk, why);
    if (!signatureOk) {
        os.SetLastError(platform::error::kBadExeFormat);
        return fail(why);
    }
    os.SetLastError(platform::error::kFileNotFound);
    if (!parsed) {
        os.SetLastError(platform::error::kBadExeFormat);
        return fail(why);
    }
    h->peHeader = h->view.base + layout.pe;
    std::uint32_t index = 0;
    if (!pe::FindResourceSection(file, layout, index)) {
        return fail("no section starts at the resource directory");
    }
    // A section that runs past the end of the file is a truncated file; writing it back
    // would first have to grow the file by whatever its header claims.
    const pe::Section res = pe::ReadSection(file.Data() + layout.Section(index));
    if (!file.Has(res.pointerToRawData, res.sizeOfRawData)) {
        os.SetLastError(platform::error::kBadExeFormat);
        return fail("the resource section runs past the end of the file");
    }
    if (dropExisting) {
        h->root = new (std::nothrow) TResItem();
        if (!h->root) {
            os.SetLastError(platform::error::kNotEnoughMemory);
            return fail("out of memory");
        }
        h->root->isDir = true;
    } else if (!detail::ReadTree(*h, why)) {
        os.SetLastError(platform::error::kBadExeFormat);
        return fail(why);
    }
    return h;
}

bool ResEditClose(TResEditHandle* h, bool discard) {
    if (!h) {
        return true;
    }
    bool result = true;
    if (!discard) {
        std::string why;
        try {
            result = detail::WriteTree(*h, why);
        } catch (const std::bad_alloc&) {
            why = "out of memory";
            result = false;
        }
        if (!result) {
            SetMessage(why);
        }
    }
    platform::PreserveLastError keep(*h->os);
    Release(h);
    return result;
}

bool ResEditGet(TResEditHandle* h, const ResKey& resType, const ResKey& resName,
                std::uint16_t language, const std::uint8_t*& data, std::uint32_t& size) {
    data = nullptr;
    size = 0;
    const Path p = Lookup(h, resType, resName, language);
    if (!p.leaf) {
        return false;
    }
    data = p.leaf->data;
    size = p.leaf->size;
    return true;
}

bool ResEditGetBytes(TResEditHandle* h, const ResKey& resType, const ResKey& resName,
                     std::uint16_t language, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    const Path p = Lookup(h, resType, resName, language);
    return p.leaf && ResReadLeafBytes(*h->os, p.leaf, bytes);
}

bool ResEditUpdate(TResEditHandle* h, const ResKey& resType, const ResKey& resName,
                   std::uint16_t language, const void* data, std::uint32_t size) {
    platform::Os& os = *h->os;
    SetMessage({});
    const Path p = Lookup(h, resType, resName, language);
    if (!data) {
        if (p.leaf) {
            const ResChainLink chain[] = {
                {p.name, p.leafLink}, {p.type, p.nameLink}, {h->root, p.typeLink}};
            ResRemovePruned(os, chain, 3);
        } else if (p.name && language == 0) {
            const ResChainLink chain[] = {{p.type, p.nameLink}, {h->root, p.typeLink}};
            ResRemovePruned(os, chain, 2);
        } else if (p.type && !p.name && language == 0 && resName.IsId() && resName.Id() == 0) {
            const ResChainLink chain[] = {{h->root, p.typeLink}};
            ResRemovePruned(os, chain, 1);
        }
        return true;
    }
    if (!ValidKey(resType) || !ValidKey(resName)) {
        SetMessage("a resource name must be a text of 1 to 65535 characters");
        return false;
    }
    if (p.leaf) {
        // The new copy is made in a fresh leaf that takes the old one's place only once it
        // holds the bytes, so a failure leaves the old bytes in place.
        TPResItem fresh = new (std::nothrow) TResItem();
        if (!fresh) {
            SetMessage("out of memory");
            return false;
        }
        fresh->reserved = p.leaf->reserved;
        if (!ResSetLeafBytes(os, fresh, language, data, size)) {
            ResReleaseItem(os, fresh);
            return false;
        }
        fresh->next = p.leaf->next;
        *p.leafLink = fresh;
        p.leaf->next = nullptr;
        ResReleaseItem(os, p.leaf);
        return true;
    }
    TPResItem type = p.type;
    TPResItem name = p.name;
    if (!type) {
        type = ResInsertDir(os, h->root, resType);
        if (!type) {
            SetMessage("cannot add the resource type");
            return false;
        }
    }
    if (!name) {
        name = ResInsertDir(os, type, resName);
    }
    if (!name || !ResInsertLeaf(os, name, language, data, size)) {
        // Take back the directories made for this call.
        if (name && !p.name) {
            const ResChainLink chain[] = {{type, ResFindEntry(type, resName)},
                                          {h->root, ResFindEntry(h->root, resType)}};
            ResRemovePruned(os, chain, p.type ? 1 : 2);
        } else if (!p.type) {
            const ResChainLink chain[] = {{h->root, ResFindEntry(h->root, resType)}};
            ResRemovePruned(os, chain, 1);
        }
        if (ResEditLastMessage().empty()) {
            SetMessage("cannot add the resource (out of memory or too many entries)");
        }
        return false;
    }
    return true;
}

} // namespace resedit
