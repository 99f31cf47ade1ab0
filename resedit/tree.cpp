// The resource tree: lookups, ordered insertion, leaf bytes and their holders, removal.
#include "resedit/internal.h"

#include <cstring>
#include <new>

namespace resedit {

namespace detail {

namespace {
thread_local std::string tMessage;
}

void ClearMessage() {
    tMessage.clear();
}

void SetMessage(const binary::Error& error) {
    try {
        tMessage = error.Text();
    } catch (const std::bad_alloc&) {
        // The message is a courtesy; the result still says the operation failed.
        tMessage.clear();
    }
}

TPResItem NewItem(bool isDir) {
    TPResItem item = new TResItem();
    item->isDir = isDir;
    return item;
}

std::u16string Hex(std::uint64_t value, int minDigits) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), u"0123456789abcdef"[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(digits.size()) < minDigits) {
        digits.insert(digits.begin(), u'0');
    }
    return digits;
}

} // namespace detail

using detail::NewItem;

const std::string& ResEditLastMessage() {
    return detail::tMessage;
}

namespace {

constexpr std::uint32_t kMaxEntriesOfAKind = 0xFFFF; // the counts are 16-bit in the file
constexpr std::size_t kMaxNameLength = 0xFFFF;       // so is a name's length

bool IsNamed(const TResItem* item) {
    return item->named;
}

bool Matches(const TResItem* item, const ResKey& key) {
    if (key.IsId()) {
        return !IsNamed(item) && item->id == key.Id();
    }
    return IsNamed(item) && item->name == key.Name();
}

// Never fails: releasing is part of paths that must not.
void ReleaseHolder(platform::Os& os, TResItem* leaf) {
    if (leaf->fileBuf.IsValid()) {
        os.Close(leaf->fileBuf);
        os.Delete(leaf->fileName);
    }
    leaf->fileName.clear();
    leaf->fileName.shrink_to_fit();
    leaf->strBuf.clear();
    leaf->strBuf.shrink_to_fit();
}

} // namespace

TPResItem* ResFindEntry(TPResItem dir, const ResKey& key) {
    TPResItem* link = &dir->child;
    while (*link && !((*link)->isDir && Matches(*link, key))) {
        link = &(*link)->next;
    }
    return link;
}

TPResItem ResFindLeaf(TPResItem dir, std::uint16_t language) {
    for (TPResItem item = dir->child; item; item = item->next) {
        if (!item->isDir && item->id == language) {
            return item;
        }
    }
    return nullptr;
}

namespace detail {

void LinkDir(platform::Os& os, TPResItem parent, TPResItem item) {
    TPResItem* link = &parent->child;
    if (!IsNamed(item)) {
        // After all named children, before the first id not below the key.
        while (*link && (IsNamed(*link) || (*link)->id < item->id)) {
            link = &(*link)->next;
        }
        ++parent->idItems;
    } else {
        // Before the first id child or the first name that is not less than the key.
        while (*link && IsNamed(*link) &&
               os.CompareNoCase((*link)->name, item->name) == platform::kCompareLess) {
            link = &(*link)->next;
        }
        ++parent->namedItems;
    }
    item->next = *link;
    *link = item;
}

void LinkLeaf(TPResItem nameDir, TPResItem leaf) {
    TPResItem* link = &nameDir->child;
    while (*link && (*link)->id < leaf->id) {
        link = &(*link)->next;
    }
    leaf->next = *link;
    *link = leaf;
    ++nameDir->idItems;
}

TPResItem NewDir(const ResKey& key) {
    if (!key.IsId() && (key.Name().empty() || key.Name().size() > kMaxNameLength)) {
        return nullptr;
    }
    TPResItem item = new (std::nothrow) TResItem();
    if (!item) {
        return nullptr;
    }
    item->isDir = true;
    try {
        item->name = key.Name();
    } catch (const std::bad_alloc&) {
        delete item;
        return nullptr;
    }
    item->named = !key.IsId();
    item->id = key.IsId() ? key.Id() : 0;
    return item;
}

} // namespace detail

namespace detail {

binary::Expected<TPResItem> InsertDir(platform::Os& os, TPResItem parent, const ResKey& key) {
    if (key.IsId() ? parent->idItems >= kMaxEntriesOfAKind
                   : parent->namedItems >= kMaxEntriesOfAKind) {
        return binary::Fault(binary::ErrorCode::Unsupported,
                             "a resource directory cannot take another entry of its kind");
    }
    if (!key.IsId() && (key.Name().empty() || key.Name().size() > kMaxNameLength)) {
        return binary::Fault(binary::ErrorCode::InvalidArgument,
                             "a resource name must be a text of 1 to 65535 characters");
    }
    TPResItem item = NewDir(key);
    if (!item) {
        return binary::OutOfMemory("out of memory");
    }
    LinkDir(os, parent, item);
    return item;
}

binary::Status SetLeafBytes(platform::Os& os, TPResItem leaf, std::uint16_t language,
                            const void* data, std::uint32_t size) {
    ReleaseHolder(os, leaf);
    leaf->id = language;
    leaf->data = nullptr;
    leaf->inPlace = false;
    leaf->address = 0;
    leaf->size = size;
    leaf->codePage = 0;
    if (size <= kMaxInMemoryBytes) {
        try {
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            leaf->strBuf.assign(bytes, bytes + size);
        } catch (const std::bad_alloc&) {
            return binary::OutOfMemory("out of memory for a copy of the resource bytes");
        }
        return binary::Ok();
    }
    // Large bytes wait in a temporary file of their own instead of in memory.
    std::u16string name;
    platform::FileHandle file = ResEditCreateTemp(os, leaf, name);
    if (!file.IsValid()) {
        return binary::Fault(binary::ErrorCode::Io,
                             "cannot create the temporary file for the resource bytes");
    }
    if (!os.WriteAt(file, 0, data, size)) {
        platform::PreserveLastError keep(os);
        os.Close(file);
        // The bytes are refused in any case; a file left behind has nothing else to report to.
        (void)os.Delete(name);
        return binary::Fault(binary::ErrorCode::Io,
                             "cannot write the temporary file for the resource bytes");
    }
    leaf->fileBuf = file;
    leaf->fileName = std::move(name);
    return binary::Ok();
}

binary::Expected<TPResItem> InsertLeaf(platform::Os& os, TPResItem nameDir, std::uint16_t language,
                                       const void* data, std::uint32_t size) {
    if (nameDir->idItems >= kMaxEntriesOfAKind) {
        return binary::Fault(binary::ErrorCode::Unsupported,
                             "a resource has 65535 languages already");
    }
    TPResItem leaf = new (std::nothrow) TResItem();
    if (!leaf) {
        return binary::OutOfMemory("out of memory");
    }
    // The copy is made before the leaf joins the tree, so a failure leaves the tree as it was.
    binary::Status set = SetLeafBytes(os, leaf, language, data, size);
    if (!set) {
        ResReleaseItem(os, leaf);
        return set.TakeError();
    }
    LinkLeaf(nameDir, leaf);
    return leaf;
}

binary::Status ReadLeafBytes(platform::Os& os, const TResItem* leaf,
                             std::vector<std::uint8_t>& bytes) {
    try {
        if (leaf->data) {
            bytes.assign(leaf->data, leaf->data + leaf->size);
        } else if (leaf->inPlace) {
            return binary::Fault(binary::ErrorCode::Unsupported,
                                 "the resource's bytes are not in the file: they lie in a section "
                                 "that the program fills only once it runs (a packed program)");
        } else if (!leaf->strBuf.empty() || !leaf->fileBuf.IsValid()) {
            bytes = leaf->strBuf;
            bytes.resize(leaf->size);
        } else {
            bytes.resize(leaf->size);
            std::size_t got = 0;
            if (!os.ReadAt(leaf->fileBuf, 0, bytes.data(), bytes.size(), got) ||
                got != bytes.size()) {
                bytes.clear();
                return binary::Fault(binary::ErrorCode::Io,
                                     "cannot read the temporary file of a resource");
            }
        }
    } catch (const std::bad_alloc&) {
        return binary::OutOfMemory("out of memory for a copy of the resource bytes");
    }
    return binary::Ok();
}

} // namespace detail

TPResItem ResInsertDir(platform::Os& os, TPResItem parent, const ResKey& key) {
    detail::ClearMessage();
    binary::Expected<TPResItem> item = detail::InsertDir(os, parent, key);
    return detail::Report(item) ? *item : nullptr;
}

bool ResSetLeafBytes(platform::Os& os, TPResItem leaf, std::uint16_t language, const void* data,
                     std::uint32_t size) {
    detail::ClearMessage();
    return detail::Report(detail::SetLeafBytes(os, leaf, language, data, size));
}

TPResItem ResInsertLeaf(platform::Os& os, TPResItem nameDir, std::uint16_t language,
                        const void* data, std::uint32_t size) {
    detail::ClearMessage();
    binary::Expected<TPResItem> leaf = detail::InsertLeaf(os, nameDir, language, data, size);
    return detail::Report(leaf) ? *leaf : nullptr;
}

bool ResReadLeafBytes(platform::Os& os, const TResItem* leaf, std::vector<std::uint8_t>& bytes) {
    detail::ClearMessage();
    return detail::Report(detail::ReadLeafBytes(os, leaf, bytes));
}

void ResReleaseItem(platform::Os& os, TPResItem item) {
    // Siblings iteratively, children recursively: lists can be long, trees are shallow.
    while (item) {
        TPResItem next = item->next;
        ResReleaseItem(os, item->child);
        if (!item->isDir) {
            ReleaseHolder(os, item);
        }
        delete item;
        item = next;
    }
}

void ResRemovePruned(platform::Os& os, const ResChainLink* chain, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        TPResItem parent = chain[i].parent;
        TPResItem item = *chain[i].link;
        if (IsNamed(item)) {
            --parent->namedItems;
        } else {
            --parent->idItems;
        }
        *chain[i].link = item->next;
        item->next = nullptr;
        ResReleaseItem(os, item);
        if (parent->namedItems + parent->idItems > 0) {
            break;
        }
    }
}

std::u16string ResEditTempName(platform::Os& os, const TResItem* item) {
    return os.TempFolder() + u"$qiv$res$" + detail::Hex(os.ProcessId(), 8) + u"$" +
           detail::Hex(reinterpret_cast<std::uintptr_t>(item), 1) + u"$";
}

platform::FileHandle ResEditCreateTemp(platform::Os& os, const TResItem* item,
                                       std::u16string& name) {
    const std::u16string stated = ResEditTempName(os, item);
    for (std::uint32_t suffix = 0; suffix <= kMaxTempNameSuffix; ++suffix) {
        name = suffix == 0 ? stated : stated + detail::Hex(suffix, 1);
        const platform::FileHandle file = os.CreateNew(name);
        if (file.IsValid()) {
            return file;
        }
        const std::uint32_t e = os.LastError();
        if (e != platform::error::kFileExists && e != platform::error::kAlreadyExists) {
            break; // the folder itself is unusable: no other name would do better
        }
    }
    return {};
}

} // namespace resedit
