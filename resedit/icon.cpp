// Icon groups: a group icon (type 14) lists its images (type 3) by id. Replacing a group puts
// the images of an .ico file in its place, reusing the old group's image ids.
#include "binary/reader.h"
#include "resedit/internal.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace resedit {

namespace {

using binary::Load16;
using binary::Load32;
using binary::Store16;

// .ico file: ICONDIR (6 bytes), then 16-byte ICONDIRENTRYs.
constexpr std::uint32_t kIconDirSize = 6;
constexpr std::uint32_t kIconDirCount = 4;
constexpr std::uint32_t kIconEntrySize = 16;
constexpr std::uint32_t kIconEntryBytesInRes = 8;
constexpr std::uint32_t kIconEntryImageOffset = 12;
// Group record: the same 6-byte header, then 14-byte entries whose last two bytes are nID.
constexpr std::uint32_t kGroupEntrySize = 14;
constexpr std::uint32_t kGroupEntryCopied = 12;
constexpr std::uint32_t kGroupEntryId = 12;

constexpr std::int32_t kFirstFreshId = 50;

// The image ids a group record lists, as far as the record holds them.
std::vector<std::int32_t> GroupIds(const std::vector<std::uint8_t>& record) {
    std::vector<std::int32_t> ids;
    const binary::Reader r(record);
    std::uint16_t count = 0;
    if (!r.U16(kIconDirCount, count)) {
        return ids;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t id = 0;
        if (!r.U16(kIconDirSize + kGroupEntrySize * i + kGroupEntryId, id)) {
            break;
        }
        ids.push_back(id);
    }
    return ids;
}

TPResItem FindLeaf(TResEditHandle* h, const ResKey& type, const ResKey& name,
                   std::uint16_t language) {
    TPResItem t = *ResFindEntry(h->root, type);
    TPResItem n = t ? *ResFindEntry(t, name) : nullptr;
    return n ? ResFindLeaf(n, language) : nullptr;
}

// Puts a leaf that already holds its bytes under a name directory, replacing a leaf of the
// same language as ResEditUpdate would.
void PlaceLeaf(platform::Os& os, TPResItem nameDir, TPResItem leaf) {
    for (TPResItem* link = &nameDir->child; *link; link = &(*link)->next) {
        TPResItem old = *link;
        if (!old->isDir && old->id == leaf->id) {
            leaf->reserved = old->reserved;
            leaf->next = old->next;
            *link = leaf;
            old->next = nullptr;
            ResReleaseItem(os, old);
            return;
        }
    }
    detail::LinkLeaf(nameDir, leaf);
}

// The ids that the new images get: the old group's ids in order, then fresh ones as
// ResEditNextIconId finds them while the images are added one by one after the old group
// is deleted. Worked out on a model of the icon type's child list, so that the tree changes
// only once everything that can fail is done. False when ids run out.
class IdPlanner {
public:
    IdPlanner(TResEditHandle* h, std::uint16_t language) {
        const TPResItem type = *ResFindEntry(h->root, ResKey::FromId(kTypeIcon));
        typeExists_ = type != nullptr;
        for (TPResItem c = type ? type->child : nullptr; c; c = c->next) {
            Child m{c->named, c->id, c->isDir, 0, 0};
            for (TPResItem g = c->isDir ? c->child : nullptr; g; g = g->next) {
                ++m.children;
                m.inLanguage += !g->isDir && g->id == language ? 1 : 0;
            }
            list_.push_back(m);
        }
    }

    // ResEditUpdate(type 3, id, language, none) on the model.
    void Remove(std::int32_t id) {
        const std::size_t i = Find(id);
        if (i == list_.size() || list_[i].inLanguage == 0) {
            return;
        }
        --list_[i].inLanguage;
        if (--list_[i].children == 0) {
            list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(i));
            typeExists_ = !list_.empty();
        }
    }

    std::int32_t Next(std::int32_t& start) const {
        if (!typeExists_) {
            return start;
        }
        std::int32_t candidate = start;
        for (const Child& c : list_) {
            if (!c.named && c.id == candidate) {
                ++candidate;
            }
        }
        start = candidate;
        return candidate;
    }

    // An image stored under id.
    void Add(std::int32_t id) {
        typeExists_ = true;
        const std::size_t i = Find(id);
        if (i != list_.size()) {
            if (list_[i].inLanguage == 0) {
                ++list_[i].children;
                ++list_[i].inLanguage;
            }
            return;
        }
        auto at = list_.begin();
        while (at != list_.end() && (at->named || at->id < id)) {
            ++at;
        }
        list_.insert(at, Child{false, id, true, 1, 1});
    }

private:
    struct Child {
        bool named;
        std::int32_t id;
        bool isDir;
        std::uint32_t children;
        std::uint32_t inLanguage;
    };
    std::size_t Find(std::int32_t id) const {
        for (std::size_t i = 0; i < list_.size(); ++i) {
            if (list_[i].isDir && !list_[i].named && list_[i].id == id) {
                return i;
            }
        }
        return list_.size();
    }
    bool typeExists_ = false;
    std::vector<Child> list_;
};

// Directory items made in advance, so that putting the prepared leaves into the tree needs
// no allocation. Those not used are freed.
struct SpareDirs {
    platform::Os& os;
    std::vector<TPResItem> items;
    ~SpareDirs() {
        for (TPResItem item : items) {
            ResReleaseItem(os, item);
        }
    }
    // A spare for key, or null when out of memory.
    TPResItem Add(const ResKey& key) {
        TPResItem item = detail::NewDir(key);
        if (item) {
            items.push_back(item);
        }
        return item;
    }
    // The directory for key under parent: the one there, or the spare linked in.
    TPResItem Use(platform::Os& o, TPResItem parent, const ResKey& key, TPResItem spare) {
        if (TPResItem found = *ResFindEntry(parent, key)) {
            return found;
        }
        for (TPResItem& item : items) {
            if (item == spare) {
                item = nullptr;
            }
        }
        detail::LinkDir(o, parent, spare);
        return spare;
    }
};

// Leaves holding copies of the new bytes, made before the tree is touched.
struct PreparedLeaves {
    std::vector<TPResItem> items;
    platform::Os& os;
    ~PreparedLeaves() {
        for (TPResItem item : items) {
            ResReleaseItem(os, item);
        }
    }
    [[nodiscard]] binary::Status Add(std::uint16_t language, const void* data, std::uint32_t size) {
        TPResItem leaf = new (std::nothrow) TResItem();
        if (!leaf) {
            return binary::OutOfMemory("out of memory");
        }
        items.push_back(leaf);
        return detail::SetLeafBytes(os, leaf, language, data, size);
    }
    TPResItem Release(std::size_t i) {
        TPResItem item = items[i];
        items[i] = nullptr;
        return item;
    }
};

binary::Status ReadIconFile(platform::Os& os, std::u16string_view icoFileName,
                            std::vector<std::uint8_t>& bytes) {
    using binary::ErrorCode;
    platform::ScopedFile file(
        os, os.OpenExisting(icoFileName, platform::Access::Read, platform::Share::ReadWrite));
    if (!file.IsValid()) {
        return binary::Fault(ErrorCode::Io, "cannot open the icon file");
    }
    std::uint64_t n = 0;
    if (!os.GetLength(file.Get(), n)) {
        return binary::Fault(ErrorCode::Io, "cannot get the size of the icon file");
    }
    if (n > UINT32_MAX) {
        return binary::Fault(ErrorCode::Unsupported, "the icon file is too large", 0, n);
    }
    try {
        bytes.resize(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        return binary::OutOfMemory("out of memory for the icon file");
    }
    std::size_t got = 0;
    if (!os.ReadAt(file.Get(), 0, bytes.data(), bytes.size(), got) || got != bytes.size()) {
        return binary::Fault(ErrorCode::Io, "cannot read the icon file whole");
    }
    return binary::Ok();
}

// The directory must lie inside the file, and so must every image.
binary::Status ValidIconFile(const std::vector<std::uint8_t>& ico) {
    const binary::Reader r(ico);
    std::uint16_t count = 0;
    r.U16(kIconDirCount, count);
    const std::uint64_t directory = kIconDirSize + std::uint64_t{kIconEntrySize} * count;
    binary::Status whole = r.Require(0, directory, "the icon file's directory is truncated");
    if (!whole) {
        return whole;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t entry = kIconDirSize + kIconEntrySize * i;
        const std::uint8_t* e = r.At(entry, kIconEntrySize);
        binary::Status image =
            r.Require(Load32(e + kIconEntryImageOffset), Load32(e + kIconEntryBytesInRes),
                      "image " + std::to_string(i + 1) + " of the icon file lies outside the file");
        if (!image) {
            return image;
        }
    }
    return binary::Ok();
}

} // namespace

bool ResEditGetIconGroup(TResEditHandle* h, const ResKey& groupName, std::uint16_t language,
                         const std::uint8_t*& data) {
    std::uint32_t size = 0;
    return ResEditGet(h, ResKey::FromId(kTypeGroupIcon), groupName, language, data, size);
}

namespace {

// Removes the group leaf and, in the same language, the images it lists. Only images that
// exist in that language are removed: for language 0 a removal of a missing image would
// otherwise take the image's other languages (or, for id 0, every icon image) with it, and
// images in other languages are never the group's to remove.
void RemoveGroup(TResEditHandle* h, const ResKey& groupName, std::uint16_t language,
                 const std::vector<std::int32_t>& ids) {
    detail::RemoveResource(*h, ResKey::FromId(kTypeGroupIcon), groupName, language);
    for (std::int32_t id : ids) {
        const ResKey image = ResKey::FromId(static_cast<std::uint16_t>(id));
        if (FindLeaf(h, ResKey::FromId(kTypeIcon), image, language)) {
            detail::RemoveResource(*h, ResKey::FromId(kTypeIcon), image, language);
        }
    }
}

// The group being replaced: the image ids its record lists, read from whichever holder has
// it, so that a group replaced earlier while the file is open is found too.
struct OldGroup {
    bool exists = false;
    std::vector<std::int32_t> ids;
    std::int32_t firstFreshId = kFirstFreshId; // where fresh ids start
};

binary::Expected<OldGroup> ReadOldGroup(TResEditHandle* h, const ResKey& groupName,
                                        std::uint16_t language) {
    OldGroup old;
    const TPResItem group = FindLeaf(h, ResKey::FromId(kTypeGroupIcon), groupName, language);
    if (!group) {
        return old;
    }
    std::vector<std::uint8_t> record;
    binary::Status read = detail::ReadLeafBytes(*h->os, group, record);
    if (!read) {
        return read.TakeError();
    }
    old.exists = true;
    old.ids = GroupIds(record);
    // A group without entries gives no smallest id; fresh ids start as without a group.
    if (!old.ids.empty()) {
        old.firstFreshId = *std::min_element(old.ids.begin(), old.ids.end());
    }
    return old;
}

// The ids of the new images: the old group's in order, then fresh ones.
binary::Expected<std::vector<std::int32_t>> PlanIds(TResEditHandle* h, std::uint16_t language,
                                                    const OldGroup& old, std::uint16_t count) {
    IdPlanner planner(h, language);
    for (std::int32_t id : old.ids) {
        planner.Remove(id);
    }
    std::int32_t start = old.firstFreshId;
    std::vector<std::int32_t> ids;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::int32_t id = i < old.ids.size() ? old.ids[i] : planner.Next(start);
        if (id > 0xFFFF) {
            return binary::Fault(binary::ErrorCode::Unsupported, "no free icon image ids are left");
        }
        planner.Add(id);
        ids.push_back(id);
    }
    return ids;
}

// Everything that can fail, made before the tree changes: copies of all images (large ones
// in temporary files), the group record and the directories they may need.
struct Prepared {
    PreparedLeaves images;
    PreparedLeaves groupLeaf;
    SpareDirs spares;
    std::vector<TPResItem> imageDirs;
    TPResItem iconType = nullptr;
    TPResItem groupType = nullptr;
    TPResItem groupDir = nullptr;
};

binary::Status Prepare(const std::vector<std::uint8_t>& ico, const std::vector<std::int32_t>& ids,
                       const ResKey& groupName, std::uint16_t language, Prepared& p) {
    std::vector<std::uint8_t> record(kIconDirSize + kGroupEntrySize * ids.size());
    std::memcpy(record.data(), ico.data(), kIconDirSize);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::uint8_t* entry = ico.data() + kIconDirSize + kIconEntrySize * i;
        std::uint8_t* groupEntry = record.data() + kIconDirSize + kGroupEntrySize * i;
        std::memcpy(groupEntry, entry, kGroupEntryCopied);
        Store16(groupEntry + kGroupEntryId, static_cast<std::uint16_t>(ids[i]));
        const std::uint32_t bytes = Load32(entry + kIconEntryBytesInRes);
        const std::uint32_t offset = Load32(entry + kIconEntryImageOffset);
        binary::Status added = p.images.Add(language, ico.data() + offset, bytes);
        if (!added) {
            return added;
        }
        p.imageDirs.push_back(p.spares.Add(ResKey::FromId(static_cast<std::uint16_t>(ids[i]))));
    }
    binary::Status added =
        p.groupLeaf.Add(language, record.data(), static_cast<std::uint32_t>(record.size()));
    if (!added) {
        return added;
    }
    p.iconType = p.spares.Add(ResKey::FromId(kTypeIcon));
    p.groupType = p.spares.Add(ResKey::FromId(kTypeGroupIcon));
    p.groupDir = p.spares.Add(groupName);
    if (!p.iconType || !p.groupType || !p.groupDir ||
        std::find(p.imageDirs.begin(), p.imageDirs.end(), nullptr) != p.imageDirs.end()) {
        return binary::OutOfMemory("out of memory");
    }
    return binary::Ok();
}

// Puts the prepared group in the old one's place; nothing here can fail.
void Commit(TResEditHandle* h, const ResKey& groupName, std::uint16_t language, const OldGroup& old,
            const std::vector<std::int32_t>& ids, Prepared& p) {
    platform::Os& os = *h->os;
    if (old.exists) {
        RemoveGroup(h, groupName, language, old.ids);
    }
    if (!ids.empty()) {
        TPResItem type = p.spares.Use(os, h->root, ResKey::FromId(kTypeIcon), p.iconType);
        for (std::size_t i = 0; i < ids.size(); ++i) {
            TPResItem dir = p.spares.Use(
                os, type, ResKey::FromId(static_cast<std::uint16_t>(ids[i])), p.imageDirs[i]);
            PlaceLeaf(os, dir, p.images.Release(i));
        }
    }
    TPResItem type = p.spares.Use(os, h->root, ResKey::FromId(kTypeGroupIcon), p.groupType);
    PlaceLeaf(os, p.spares.Use(os, type, groupName, p.groupDir), p.groupLeaf.Release(0));
}

binary::Status ReplaceIconGroup(TResEditHandle* h, const ResKey& groupName, std::uint16_t language,
                                std::u16string_view icoFileName) {
    platform::Os& os = *h->os;
    std::vector<std::uint8_t> ico;
    binary::Status read = ReadIconFile(os, icoFileName, ico);
    if (read) {
        read = ValidIconFile(ico);
    }
    if (!read) {
        return read;
    }
    if (!groupName.IsId() && (groupName.Name().empty() || groupName.Name().size() > 0xFFFF)) {
        return binary::Fault(binary::ErrorCode::InvalidArgument,
                             "a group name must be a text of 1 to 65535 characters");
    }
    binary::Expected<OldGroup> old = ReadOldGroup(h, groupName, language);
    if (!old) {
        return old.TakeError();
    }
    binary::Expected<std::vector<std::int32_t>> ids =
        PlanIds(h, language, *old, Load16(ico.data() + kIconDirCount));
    if (!ids) {
        return ids.TakeError();
    }
    Prepared prepared{{{}, os}, {{}, os}, {os, {}}, {}};
    binary::Status made = Prepare(ico, *ids, groupName, language, prepared);
    if (!made) {
        return made;
    }
    Commit(h, groupName, language, *old, *ids, prepared);
    return binary::Ok();
}

} // namespace

bool ResEditDeleteIconGroup(TResEditHandle* h, const ResKey& groupName, std::uint16_t language) {
    detail::ClearMessage();
    try {
        binary::Expected<OldGroup> old = ReadOldGroup(h, groupName, language);
        if (!detail::Report(old)) {
            return false;
        }
        // The record was copied: the leaf's own holder goes away with it (and a record set
        // since the file was opened has no bytes in the file at all).
        if (old->exists) {
            RemoveGroup(h, groupName, language, old->ids);
        }
        return true;
    } catch (const std::bad_alloc&) {
        detail::SetMessage(binary::OutOfMemory("out of memory"));
        return false;
    }
}

std::int32_t ResEditNextIconId(TResEditHandle* h, std::int32_t& start) {
    detail::ClearMessage();
    const TPResItem type = *ResFindEntry(h->root, ResKey::FromId(kTypeIcon));
    if (!type) {
        return start;
    }
    std::int32_t candidate = start;
    for (TPResItem child = type->child; child; child = child->next) {
        if (!child->named && child->id == candidate) {
            ++candidate;
        }
    }
    start = candidate;
    return candidate;
}

bool ResEditReplaceIconGroup(TResEditHandle* h, const ResKey& groupName, std::uint16_t language,
                             std::u16string_view icoFileName) {
    detail::ClearMessage();
    try {
        return detail::Report(ReplaceIconGroup(h, groupName, language, icoFileName));
    } catch (const std::bad_alloc&) {
        detail::SetMessage(binary::OutOfMemory("out of memory"));
        return false;
    }
}

} // namespace resedit
