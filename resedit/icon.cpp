// Icon groups: a group icon (type 14) lists its images (type 3) by id. Replacing a group puts
// the images of an .ico file in its place, reusing the old group's image ids.
#include "resedit/bytes.h"
#include "resedit/internal.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace resedit {

using detail::SetMessage;

namespace {

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
constexpr std::int32_t kNoId = 2147483647;

// The image ids a group record lists, as far as the record holds them.
std::vector<std::int32_t> GroupIds(const std::vector<std::uint8_t>& record) {
    std::vector<std::int32_t> ids;
    const ByteReader r(record.data(), record.size());
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
    bool Add(std::uint16_t language, const void* data, std::uint32_t size) {
        TPResItem leaf = new (std::nothrow) TResItem();
        if (!leaf) {
            SetMessage("out of memory");
            return false;
        }
        items.push_back(leaf);
        return ResSetLeafBytes(os, leaf, language, data, size);
    }
    TPResItem Release(std::size_t i) {
        TPResItem item = items[i];
        items[i] = nullptr;
        return item;
    }
};

bool ReadIconFile(platform::Os& os, std::u16string_view icoFileName,
                  std::vector<std::uint8_t>& bytes) {
    platform::ScopedFile file(
        os, os.OpenExisting(icoFileName, platform::Access::Read, platform::Share::ReadWrite));
    if (!file.IsValid()) {
        SetMessage("cannot open the icon file");
        return false;
    }
    std::uint64_t n = 0;
    if (!os.GetLength(file.Get(), n)) {
        SetMessage("cannot get the size of the icon file");
        return false;
    }
    if (n > UINT32_MAX) {
        SetMessage("the icon file is too large");
        return false;
    }
    try {
        bytes.resize(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        SetMessage("out of memory for the icon file");
        return false;
    }
    std::size_t got = 0;
    if (!os.ReadAt(file.Get(), 0, bytes.data(), bytes.size(), got) || got != bytes.size()) {
        SetMessage("cannot read the icon file whole");
        return false;
    }
    return true;
}

// The directory must lie inside the file, and so must every image.
bool ValidIconFile(const std::vector<std::uint8_t>& ico) {
    const ByteReader r(ico.data(), ico.size());
    std::uint16_t count = 0;
    if (!r.U16(kIconDirCount, count) ||
        !r.Has(0, kIconDirSize + std::uint64_t{kIconEntrySize} * count)) {
        SetMessage("the icon file's directory is truncated");
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t entry = kIconDirSize + kIconEntrySize * i;
        std::uint32_t bytes = 0;
        std::uint32_t offset = 0;
        r.U32(entry + kIconEntryBytesInRes, bytes);
        r.U32(entry + kIconEntryImageOffset, offset);
        if (!r.Has(offset, bytes)) {
            SetMessage("image " + std::to_string(i + 1) +
                       " of the icon file lies outside the file");
            return false;
        }
    }
    return true;
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
bool RemoveGroup(TResEditHandle* h, const ResKey& groupName, std::uint16_t language,
                 const std::vector<std::int32_t>& ids) {
    if (!ResEditUpdate(h, ResKey::FromId(kTypeGroupIcon), groupName, language, nullptr, 0)) {
        return false;
    }
    bool result = true;
    for (std::int32_t id : ids) {
        const ResKey image = ResKey::FromId(static_cast<std::uint16_t>(id));
        if (!FindLeaf(h, ResKey::FromId(kTypeIcon), image, language)) {
            continue;
        }
        result = ResEditUpdate(h, ResKey::FromId(kTypeIcon), image, language, nullptr, 0) && result;
    }
    return result;
}

} // namespace

bool ResEditDeleteIconGroup(TResEditHandle* h, const ResKey& groupName, std::uint16_t language) {
    const TPResItem group = FindLeaf(h, ResKey::FromId(kTypeGroupIcon), groupName, language);
    if (!group) {
        return true;
    }
    // A copy of the record: the leaf's own holder goes away with it (and a record set since
    // the file was opened has no bytes in the file at all).
    std::vector<std::uint8_t> record;
    try {
        if (!ResReadLeafBytes(*h->os, group, record)) {
            return false;
        }
        return RemoveGroup(h, groupName, language, GroupIds(record));
    } catch (const std::bad_alloc&) {
        SetMessage("out of memory");
        return false;
    }
}

std::int32_t ResEditNextIconId(TResEditHandle* h, std::int32_t& start) {
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
    platform::Os& os = *h->os;
    SetMessage({});
    std::vector<std::uint8_t> ico;
    if (!ReadIconFile(os, icoFileName, ico) || !ValidIconFile(ico)) {
        return false;
    }
    if (!groupName.IsId() && (groupName.Name().empty() || groupName.Name().size() > 0xFFFF)) {
        SetMessage("a group name must be a text of 1 to 65535 characters");
        return false;
    }
    try {
        // The old group's image ids, read from whichever holder has its record, so that a
        // group replaced earlier while the file is open is found too.
        std::vector<std::int32_t> oldIds;
        std::int32_t start = kFirstFreshId;
        bool hadGroup = false;
        if (const TPResItem group =
                FindLeaf(h, ResKey::FromId(kTypeGroupIcon), groupName, language)) {
            std::vector<std::uint8_t> record;
            if (!ResReadLeafBytes(os, group, record)) {
                return false;
            }
            hadGroup = true;
            oldIds = GroupIds(record);
            // A group without entries gives no smallest id; fresh ids start as without a group.
            if (!oldIds.empty()) {
                start = kNoId;
                for (std::int32_t id : oldIds) {
                    start = id < start ? id : start;
                }
            }
        }

        const std::uint16_t count = Load16(ico.data() + kIconDirCount);
        IdPlanner planner(h, language);
        for (std::int32_t id : oldIds) {
            planner.Remove(id);
        }
        std::vector<std::int32_t> ids;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::int32_t id = i < oldIds.size() ? oldIds[i] : planner.Next(start);
            if (id > 0xFFFF) {
                SetMessage("no free icon image ids are left");
                return false;
            }
            planner.Add(id);
            ids.push_back(id);
        }

        // Everything that can fail, before the tree changes: the group record, copies of all
        // images (large ones in temporary files) and the directories they may need.
        std::vector<std::uint8_t> record(kIconDirSize + std::size_t{kGroupEntrySize} * count);
        std::memcpy(record.data(), ico.data(), kIconDirSize);
        PreparedLeaves images{{}, os};
        SpareDirs spares{os, {}};
        std::vector<TPResItem> imageDirs;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* entry = ico.data() + kIconDirSize + kIconEntrySize * i;
            std::uint8_t* groupEntry = record.data() + kIconDirSize + kGroupEntrySize * i;
            std::memcpy(groupEntry, entry, kGroupEntryCopied);
            Store16(groupEntry + kGroupEntryId, static_cast<std::uint16_t>(ids[i]));
            const std::uint32_t bytes = Load32(entry + kIconEntryBytesInRes);
            const std::uint32_t offset = Load32(entry + kIconEntryImageOffset);
            if (!images.Add(language, ico.data() + offset, bytes)) {
                return false;
            }
            imageDirs.push_back(spares.Add(ResKey::FromId(static_cast<std::uint16_t>(ids[i]))));
        }
        PreparedLeaves groupLeaf{{}, os};
        if (!groupLeaf.Add(language, record.data(), static_cast<std::uint32_t>(record.size()))) {
            return false;
        }
        TPResItem iconType = spares.Add(ResKey::FromId(kTypeIcon));
        TPResItem groupType = spares.Add(ResKey::FromId(kTypeGroupIcon));
        TPResItem groupDir = spares.Add(groupName);
        if (!iconType || !groupType || !groupDir ||
            std::find(imageDirs.begin(), imageDirs.end(), nullptr) != imageDirs.end()) {
            SetMessage("out of memory");
            return false;
        }

        // From here on nothing can fail.
        if (hadGroup) {
            RemoveGroup(h, groupName, language, oldIds);
        }
        if (count > 0) {
            TPResItem type = spares.Use(os, h->root, ResKey::FromId(kTypeIcon), iconType);
            for (std::uint32_t i = 0; i < count; ++i) {
                TPResItem dir = spares.Use(
                    os, type, ResKey::FromId(static_cast<std::uint16_t>(ids[i])), imageDirs[i]);
                PlaceLeaf(os, dir, images.Release(i));
            }
        }
        TPResItem type = spares.Use(os, h->root, ResKey::FromId(kTypeGroupIcon), groupType);
        PlaceLeaf(os, spares.Use(os, type, groupName, groupDir), groupLeaf.Release(0));
        return true;
    } catch (const std::bad_alloc&) {
        SetMessage("out of memory");
        return false;
    }
}

} // namespace resedit
