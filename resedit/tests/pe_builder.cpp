#include "resedit/tests/pe_builder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

namespace resedit::testing {

namespace {

namespace pe = binary::pe;

std::uint32_t Align(std::uint32_t x, std::uint32_t a) {
    return (x + a - 1) / a * a;
}

void Append16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Append32(Bytes& b, std::uint32_t v) {
    Append16(b, static_cast<std::uint16_t>(v));
    Append16(b, static_cast<std::uint16_t>(v >> 16));
}

constexpr std::uint32_t kScnCode = 0x00000020;
constexpr std::uint32_t kScnInitialized = 0x00000040;
constexpr std::uint32_t kScnExecute = 0x20000000;
constexpr std::uint32_t kScnRead = 0x40000000;
constexpr std::uint32_t kScnWrite = 0x80000000;

std::uint32_t Characteristics(SectionKind kind) {
    switch (kind) {
    case SectionKind::Code:
        return kScnCode | kScnExecute | kScnRead;
    case SectionKind::Data:
        return kScnInitialized | kScnRead | kScnWrite;
    case SectionKind::Resources:
        return kScnInitialized | kScnRead;
    case SectionKind::Relocations:
    case SectionKind::Discardable:
    case SectionKind::Debug:
        return kScnInitialized | kScnRead | pe::kScnMemDiscardable;
    }
    return 0;
}

// Tree for the section builder: ordered as the format wants (names ascending by code unit,
// which is the order windres uses for ASCII upper case; then ids ascending).
struct Node {
    std::map<std::u16string, Node> named;
    std::map<std::uint32_t, Node> ids;
    const Resource* leaf = nullptr;
};

} // namespace

std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
std::uint16_t Get16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes b(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

namespace {

// The section for address va; a resource whose address is given (not 0) has its bytes there,
// outside the section.
Bytes BuildResourceSectionAt(const std::vector<Resource>& resources, std::uint32_t va,
                             const std::vector<std::uint32_t>& addresses) {
    Node root;
    for (const Resource& r : resources) {
        Node* t = r.type.IsId() ? &root.ids[r.type.Id()] : &root.named[r.type.Name()];
        Node* n = r.name.IsId() ? &t->ids[r.name.Id()] : &t->named[r.name.Name()];
        n->ids[r.language].leaf = &r;
    }
    // Breadth first: all tables, then all data entries, then names, then data.
    std::vector<const Node*> tables;
    std::vector<const Node*> leaves;
    std::vector<const Node*> queue{&root};
    for (std::size_t i = 0; i < queue.size(); ++i) {
        const Node* node = queue[i];
        if (node->leaf) {
            leaves.push_back(node);
            continue;
        }
        tables.push_back(node);
        for (const auto& [k, child] : node->named) {
            queue.push_back(&child);
        }
        for (const auto& [k, child] : node->ids) {
            queue.push_back(&child);
        }
    }
    std::map<const Node*, std::uint32_t> tableAt;
    std::map<const Node*, std::uint32_t> entryAt;
    std::uint32_t pos = 0;
    for (const Node* t : tables) {
        tableAt[t] = pos;
        pos += 16 + 8 * static_cast<std::uint32_t>(t->named.size() + t->ids.size());
    }
    for (const Node* l : leaves) {
        entryAt[l] = pos;
        pos += 16;
    }
    Bytes names;
    std::map<std::pair<const Node*, std::u16string>, std::uint32_t> nameAt;
    const std::uint32_t namesStart = pos;
    for (const Node* t : tables) {
        for (const auto& [k, child] : t->named) {
            nameAt[{t, k}] = namesStart + static_cast<std::uint32_t>(names.size());
            Append16(names, static_cast<std::uint16_t>(k.size()));
            for (char16_t c : k) {
                Append16(names, c);
            }
        }
    }
    pos = Align(namesStart + static_cast<std::uint32_t>(names.size()), 8);
    std::map<const Node*, std::uint32_t> dataAt;
    auto addressOf = [&](const Node* l) {
        return addresses.empty() ? 0
                                 : addresses[static_cast<std::size_t>(l->leaf - resources.data())];
    };
    for (const Node* l : leaves) {
        if (addressOf(l) != 0) {
            continue;
        }
        dataAt[l] = pos;
        pos = Align(pos + static_cast<std::uint32_t>(l->leaf->bytes.size()), 8);
    }
    Bytes out(pos);
    auto childOffset = [&](const Node& child) {
        return child.leaf ? entryAt[&child] : (0x80000000u | tableAt[&child]);
    };
    for (const Node* t : tables) {
        std::uint32_t at = tableAt[t];
        Put32(out, at + 4, 0x5F5E0FF0); // a time stamp the writer must keep
        Put16(out, at + 8, 4);
        Put16(out, at + 12, static_cast<std::uint16_t>(t->named.size()));
        Put16(out, at + 14, static_cast<std::uint16_t>(t->ids.size()));
        at += 16;
        for (const auto& [k, child] : t->named) {
            Put32(out, at, 0x80000000u | nameAt[{t, k}]);
            Put32(out, at + 4, childOffset(child));
            at += 8;
        }
        for (const auto& [k, child] : t->ids) {
            Put32(out, at, k);
            Put32(out, at + 4, childOffset(child));
            at += 8;
        }
    }
    for (const Node* l : leaves) {
        const std::uint32_t at = entryAt[l];
        Put32(out, at + 4, static_cast<std::uint32_t>(l->leaf->bytes.size()));
        Put32(out, at + 8, l->leaf->codePage);
        if (addressOf(l) != 0) {
            Put32(out, at, addressOf(l));
            continue;
        }
        Put32(out, at, va + dataAt[l]);
        std::copy(l->leaf->bytes.begin(), l->leaf->bytes.end(), out.begin() + dataAt[l]);
    }
    std::copy(names.begin(), names.end(), out.begin() + namesStart);
    return out;
}

} // namespace

Bytes BuildResourceSection(const std::vector<Resource>& resources, std::uint32_t va) {
    return BuildResourceSectionAt(resources, va, {});
}

SharedSection BuildSharedResourceSection(std::uint32_t va) {
    // Tables at fixed places, then the data entries, the names and the data:
    //   root 0x000: type 3 -> 0x040, type 10 -> 0x080, type 14 -> 0x0C0,
    //               type 256 -> 0x080 (shared)
    //   0x040: name 1 -> 0x100, name 2 -> 0x100 (shared): the group's two images
    //   0x080: name "" -> 0x120, name 7 -> 0x140
    //   0x0C0: name "106" -> 0x160
    //   0x100: language 2052 -> data entry 0x180
    //   0x120: languages 1033 and 2052 -> data entry 0x190 (shared)
    //   0x140: language 1033 -> data entry 0x1A0, whose bytes overlap 0x190's by half
    //   0x160: language 2052 -> data entry 0x1B0, the group record listing images 1 and 2
    SharedSection out;
    Bytes& b = out.bytes;
    b.assign(0x300, 0);
    auto table = [&](std::uint32_t at, std::uint16_t named, std::uint16_t ids) {
        Put32(b, at + 4, 0x5F5E0FF0);
        Put16(b, at + 12, named);
        Put16(b, at + 14, ids);
    };
    auto entry = [&](std::uint32_t at, std::uint32_t name, std::uint32_t offset) {
        Put32(b, at, name);
        Put32(b, at + 4, offset);
    };
    auto data = [&](std::uint32_t at, std::uint32_t offset, std::uint32_t size) {
        Put32(b, at, va + offset);
        Put32(b, at + 4, size);
    };
    constexpr std::uint32_t kDir = 0x80000000;
    constexpr std::uint32_t kName = 0x80000000;
    table(0x000, 0, 4);
    entry(0x010, 3, kDir | 0x040);
    entry(0x018, 10, kDir | 0x080);
    entry(0x020, 14, kDir | 0x0C0);
    entry(0x028, 256, kDir | 0x080);
    table(0x040, 0, 2);
    entry(0x050, 1, kDir | 0x100);
    entry(0x058, 2, kDir | 0x100);
    table(0x080, 1, 1);
    entry(0x090, kName | 0x1F0, kDir | 0x120);
    entry(0x098, 7, kDir | 0x140);
    table(0x0C0, 1, 0);
    entry(0x0D0, kName | 0x1E0, kDir | 0x160);
    table(0x100, 0, 1);
    entry(0x110, 2052, 0x180);
    table(0x120, 0, 2);
    entry(0x130, 1033, 0x190);
    entry(0x138, 2052, 0x190);
    table(0x140, 0, 1);
    entry(0x150, 1033, 0x1A0);
    table(0x160, 0, 1);
    entry(0x170, 2052, 0x1B0);
    data(0x180, 0x200, 0x30);
    data(0x190, 0x240, 0x40);
    data(0x1A0, 0x260, 0x40);
    const std::vector<IconImage> images = {{16, 16, 1, 32, Pattern(0x30, 0x51)},
                                           {32, 32, 1, 32, Pattern(0x30, 0x51)}};
    const Bytes group = BuildGroupRecord(images, {1, 2});
    data(0x1B0, 0x2A0, static_cast<std::uint32_t>(group.size()));
    const Bytes name = {3, 0, '1', 0, '0', 0, '6', 0};
    std::copy(name.begin(), name.end(), b.begin() + 0x1E0);
    Put16(b, 0x1F0, 0); // a name of zero length
    const Bytes bytes = Pattern(0xA0, 0x5A);
    std::copy(bytes.begin(), bytes.end(), b.begin() + 0x200);
    std::copy(images[0].bytes.begin(), images[0].bytes.end(), b.begin() + 0x200);
    std::copy(group.begin(), group.end(), b.begin() + 0x2A0);

    auto at = [&](std::uint32_t offset, std::uint32_t size) {
        return Bytes(b.begin() + offset, b.begin() + offset + size);
    };
    const ResKey empty = ResKey::FromName(u"");
    for (std::uint16_t image : {1, 2}) {
        out.expanded.push_back({ResKey::FromId(3), ResKey::FromId(image), 2052, at(0x200, 0x30)});
    }
    for (std::uint16_t type : {10, 256}) {
        out.expanded.push_back({ResKey::FromId(type), empty, 1033, at(0x240, 0x40)});
        out.expanded.push_back({ResKey::FromId(type), empty, 2052, at(0x240, 0x40)});
        out.expanded.push_back({ResKey::FromId(type), ResKey::FromId(7), 1033, at(0x260, 0x40)});
        if (type == 10) {
            out.expanded.push_back({ResKey::FromId(14), ResKey::FromName(u"106"), 2052, group});
        }
    }
    return out;
}

Bytes BuildImportTrailer(std::uint32_t va, bool pe32Plus) {
    const std::uint32_t thunk = pe32Plus ? 8 : 4;
    const char library[] = "k32.dll";
    const char function[] = "ExitProcess";
    const std::uint32_t lookup = 2 * pe::kImportDescriptorSize, iat = lookup + 2 * thunk;
    const std::uint32_t name = iat + 2 * thunk, hint = name + sizeof library;
    Bytes b(hint + pe::kImportHint + sizeof function, 0);
    Put32(b, pe::kImportLookupTable, va + lookup);
    Put32(b, pe::kImportName, va + name);
    Put32(b, pe::kImportAddressTable, va + iat);
    Put32(b, lookup, va + hint);
    Put32(b, iat, va + hint);
    std::copy(library, library + sizeof library, b.begin() + name);
    std::copy(function, function + sizeof function, b.begin() + hint + pe::kImportHint);
    return b;
}

PeRecipe TypicalRecipe(bool pe32Plus, std::vector<Resource> resources) {
    PeRecipe recipe;
    recipe.pe32Plus = pe32Plus;
    recipe.resources = std::move(resources);
    recipe.sections = {
        {".text", SectionKind::Code, Pattern(0x300, 1), 0},
        {".data", SectionKind::Data, Pattern(0x180, 2), 0},
        {".rsrc", SectionKind::Resources, {}, 0},
        {".reloc", SectionKind::Relocations, {}, 0},
    };
    return recipe;
}

namespace {

constexpr std::uint32_t kPeOffset = 0x80;
constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kMachine32Bit = 0x0100;
constexpr std::uint16_t kLargeAddressAware = 0x0020;
constexpr std::uint16_t kSubsystemConsole = 3;
constexpr std::uint16_t kDllFlags = 0x8140; // terminal server aware, NX, dynamic base
constexpr std::uint32_t kBaseOfDataPe32 = 24;
constexpr std::uint32_t kImageBasePe32 = 28;
constexpr std::uint32_t kImageBasePe32Plus = 24; // 64-bit
constexpr std::uint32_t kDebugTypeCodeView = 2;
constexpr std::uint32_t kSymbolSize = 18; // a COFF symbol
constexpr std::uint32_t kCertificateSize = 24;

// A section as it will stand in the file.
struct Placed {
    Bytes bytes;
    std::uint32_t va = 0, vsize = 0, raw = 0, rawSize = 0, characteristics = 0;
};

// The file, built step by step: sections in memory, the debug directory, the places in the
// file, the section names, then the bytes.
struct Builder {
    const PeRecipe& recipe;
    PeFile f;
    std::uint32_t optSize = 0;
    std::uint32_t sectionTable = 0;
    std::uint32_t headersSize = 0;
    std::uint32_t sizeOfImage = 0;
    std::vector<Placed> placed;
    int firstData = -1, debugSection = -1, relocSection = -1, codeSection = -1;
    Bytes appended;
    std::uint32_t debugDirVa = 0;
    std::vector<std::uint32_t> debugDataAt; // offsets inside the debug section or appended data
    Bytes strings;
    std::vector<std::string> headerNames;
    std::uint32_t end = 0;
    std::uint32_t resourceSize = 0; // the resource directory's bytes, without a trailer

    std::uint32_t Count() const { return static_cast<std::uint32_t>(recipe.sections.size()); }
    std::uint32_t DebugCount() const { return recipe.debugEntries; }

    // One block for the first page: one pointer-sized fix-up and a padding entry.
    Bytes Relocations() const {
        Bytes b;
        Append32(b, recipe.sectionAlignment);
        Append32(b, 12);
        Append16(b, static_cast<std::uint16_t>((recipe.pe32Plus ? 10 : 3) << 12 | 0x10));
        Append16(b, 0);
        return b;
    }

    // Section contents and addresses.
    void PlaceSections() {
        optSize = recipe.pe32Plus ? pe::kOptionalHeaderSizePe32Plus : pe::kOptionalHeaderSizePe32;
        f.peOffset = kPeOffset;
        sectionTable = f.peOffset + pe::kOptionalHeader + optSize;
        headersSize = Align(sectionTable + pe::kSectionHeaderSize * Count(), recipe.fileAlignment);
        placed.resize(Count());
        // Each section's bytes: its own, then those of resources kept outside the resource
        // section.
        std::vector<Bytes> own(Count());
        for (std::uint32_t i = 0; i < Count(); ++i) {
            own[i] = recipe.sections[i].bytes;
        }
        std::vector<std::uint32_t> externalAt(recipe.resources.size(), 0);
        for (std::size_t k = 0; k < recipe.resources.size(); ++k) {
            const Resource& r = recipe.resources[k];
            if (r.inSection >= 0) {
                Bytes& b = own[static_cast<std::size_t>(r.inSection)];
                externalAt[k] = Align(static_cast<std::uint32_t>(b.size()), 4);
                b.resize(externalAt[k]);
                b.insert(b.end(), r.bytes.begin(), r.bytes.end());
            }
        }
        // Twice: the resource section's size does not depend on the addresses it holds, so
        // the second pass gives every section the same address with the right ones.
        for (int pass = 0; pass < 2; ++pass) {
            std::uint32_t va = recipe.sectionAlignment;
            for (std::uint32_t i = 0; i < Count(); ++i) {
                const SectionRecipe& s = recipe.sections[i];
                placed[i].va = va;
                placed[i].characteristics = Characteristics(s.kind);
                if (s.kind == SectionKind::Resources) {
                    std::vector<std::uint32_t> addresses(recipe.resources.size(), 0);
                    for (std::size_t k = 0; k < recipe.resources.size(); ++k) {
                        const int in = recipe.resources[k].inSection;
                        if (in >= 0) {
                            addresses[k] = pass == 0 ? 1 : placed[in].va + externalAt[k];
                        }
                    }
                    placed[i].bytes = recipe.resourceImage.empty()
                                          ? BuildResourceSectionAt(recipe.resources, va, addresses)
                                          : recipe.resourceImage;
                    resourceSize = static_cast<std::uint32_t>(placed[i].bytes.size());
                    if (recipe.resourceTrailer) {
                        const std::uint32_t at = Align(resourceSize, 16);
                        const Bytes trailer = recipe.resourceTrailer(va + at);
                        placed[i].bytes.resize(at);
                        placed[i].bytes.insert(placed[i].bytes.end(), trailer.begin(),
                                               trailer.end());
                        f.trailerVa = va + at;
                        f.trailerSize = static_cast<std::uint32_t>(trailer.size());
                    }
                    f.resourceSection = i;
                    f.resourceVa = va;
                } else if (s.kind == SectionKind::Relocations) {
                    placed[i].bytes = Relocations();
                    relocSection = static_cast<int>(i);
                } else {
                    placed[i].bytes = own[i];
                }
                if (s.kind == SectionKind::Data && firstData < 0) {
                    firstData = static_cast<int>(i);
                }
                if (s.kind == SectionKind::Debug) {
                    debugSection = static_cast<int>(i);
                }
                if (s.kind == SectionKind::Code && codeSection < 0) {
                    codeSection = static_cast<int>(i);
                }
                const auto size = static_cast<std::uint32_t>(placed[i].bytes.size());
                placed[i].vsize = s.virtualSize ? s.virtualSize : size;
                if (s.noRawData) {
                    placed[i].vsize = std::max(placed[i].vsize, size);
                }
                va = Align(va + std::max<std::uint32_t>(placed[i].vsize, 1),
                           recipe.sectionAlignment);
            }
            sizeOfImage = va;
        }
    }

    // Debug directory in the first data section; its entries' data in the debug section or
    // the appended data.
    void AddDebugDirectory() {
        appended = recipe.appended;
        if (!DebugCount()) {
            return;
        }
        if (firstData < 0) {
            throw std::logic_error("a debug directory needs a data section");
        }
        Placed& d = placed[firstData];
        const std::uint32_t at = Align(static_cast<std::uint32_t>(d.bytes.size()), 4);
        d.bytes.resize(at + pe::kDebugEntrySize * DebugCount());
        debugDirVa = d.va + at;
        d.vsize = std::max<std::uint32_t>(d.vsize, static_cast<std::uint32_t>(d.bytes.size()));
        Bytes& target = debugSection >= 0 ? placed[debugSection].bytes : appended;
        for (std::uint32_t k = 0; k < DebugCount(); ++k) {
            debugDataAt.push_back(static_cast<std::uint32_t>(target.size()));
            const Bytes blob = Pattern(40 + 4 * k, static_cast<std::uint8_t>(0x40 + k));
            target.insert(target.end(), blob.begin(), blob.end());
        }
        if (debugSection >= 0) {
            placed[debugSection].vsize =
                static_cast<std::uint32_t>(placed[debugSection].bytes.size());
        }
    }

    // The sections' places in the file, then the appended data.
    void PlaceInFile() {
        std::uint32_t raw = headersSize;
        for (std::uint32_t i = 0; i < Count(); ++i) {
            Placed& p = placed[i];
            const SectionRecipe& s = recipe.sections[i];
            p.rawSize = s.noRawData
                            ? 0
                            : Align(static_cast<std::uint32_t>(p.bytes.size()) + s.rawPadding,
                                    recipe.fileAlignment);
            p.raw = p.rawSize ? raw : 0;
            if (s.inPreviousSlack && i > 0) {
                // The previous section reaches over these bytes.
                placed[i - 1].rawSize += p.rawSize;
            }
            raw += p.rawSize;
        }
        f.resourceRaw = placed[f.resourceSection].raw;
        f.appendedOffset = raw;
        end = raw + static_cast<std::uint32_t>(appended.size());
    }

    // Long section names live in the string table behind the symbols, as the GNU linker
    // writes them ("/4" names the string at offset 4); then the certificate table.
    void PlaceSymbolsAndCertificate() {
        strings.assign(4, 0);
        for (const SectionRecipe& s : recipe.sections) {
            if (recipe.symbolTable && s.name.size() > pe::kSecNameSize) {
                std::string ref(1, '/');
                ref += std::to_string(strings.size());
                headerNames.push_back(ref);
                strings.insert(strings.end(), s.name.begin(), s.name.end());
                strings.push_back(0);
            } else {
                headerNames.push_back(s.name);
            }
        }
        Put32(strings, 0, static_cast<std::uint32_t>(strings.size()));
        if (recipe.symbolTable) {
            f.symbolOffset = end;
            end += 2 * kSymbolSize + static_cast<std::uint32_t>(strings.size());
        }
        if (recipe.certificate) {
            f.certificateOffset = Align(end, 8);
            end = f.certificateOffset + kCertificateSize;
        }
    }

    // DOS header and stub, file header.
    void WriteFileHeader(Bytes& out) const {
        Put16(out, 0, pe::kDosMagic);
        Put32(out, pe::kDosPeOffset, f.peOffset);
        const char stub[] = "This program cannot be run in DOS mode.";
        std::memcpy(out.data() + 0x40, stub, sizeof stub);
        const std::uint32_t p = f.peOffset;
        Put32(out, p, pe::kPeSignature);
        Put16(out, p + pe::kMachine, recipe.pe32Plus ? kMachineAmd64 : kMachineI386);
        Put16(out, p + pe::kNumberOfSections, static_cast<std::uint16_t>(Count()));
        Put32(out, p + pe::kTimeDateStamp, 0x5F000000);
        Put32(out, p + pe::kPointerToSymbolTable, f.symbolOffset);
        Put32(out, p + pe::kNumberOfSymbols, recipe.symbolTable ? 2 : 0);
        Put16(out, p + pe::kSizeOfOptionalHeader, static_cast<std::uint16_t>(optSize));
        Put16(out, p + pe::kCharacteristics,
              static_cast<std::uint16_t>(kExecutableImage |
                                         (recipe.pe32Plus ? kLargeAddressAware : kMachine32Bit)));
    }

    void WriteOptionalHeader(Bytes& out) const {
        const std::uint32_t o = f.peOffset + pe::kOptionalHeader;
        Put16(out, o + pe::kMagic, recipe.pe32Plus ? pe::kMagicPe32Plus : pe::kMagicPe32);
        out[o + pe::kMajorLinkerVersion] = 2;
        std::uint32_t code = 0, init = 0;
        for (const Placed& pl : placed) {
            (pl.characteristics & kScnCode ? code : init) += pl.rawSize;
        }
        Put32(out, o + pe::kSizeOfCode, code);
        Put32(out, o + pe::kSizeOfInitializedData, init);
        const std::uint32_t entry = codeSection >= 0 ? placed[codeSection].va : 0;
        Put32(out, o + pe::kAddressOfEntryPoint, entry);
        Put32(out, o + pe::kBaseOfCode, entry);
        if (recipe.pe32Plus) {
            Put32(out, o + kImageBasePe32Plus, 0x40000000);
            Put32(out, o + kImageBasePe32Plus + 4, 0x1);
        } else {
            Put32(out, o + kBaseOfDataPe32, 0);
            Put32(out, o + kImageBasePe32, 0x400000);
        }
        Put32(out, o + pe::kSectionAlignment, recipe.sectionAlignment);
        Put32(out, o + pe::kFileAlignment, recipe.fileAlignment);
        Put16(out, o + pe::kMajorOperatingSystemVersion, 4);
        Put16(out, o + pe::kMajorSubsystemVersion, 4);
        Put32(out, o + pe::kSizeOfImage, sizeOfImage);
        Put32(out, o + pe::kSizeOfHeaders, headersSize);
        Put32(out, o + pe::kCheckSum, recipe.checkSum);
        Put16(out, o + pe::kSubsystem, kSubsystemConsole);
        Put16(out, o + pe::kDllCharacteristics, kDllFlags);
        const std::uint32_t stack = o + pe::kSizeOfStackReserve;
        const std::uint32_t w = recipe.pe32Plus ? 8 : 4;
        Put32(out, stack, 0x200000);
        Put32(out, stack + w, 0x1000);
        Put32(out, stack + 2 * w, 0x100000);
        Put32(out, stack + 3 * w, 0x1000);
        Put32(
            out,
            o + (recipe.pe32Plus ? pe::kNumberOfRvaAndSizesPe32Plus : pe::kNumberOfRvaAndSizesPe32),
            pe::kMaxDataDirectories);
    }

    void WriteDataDirectories(Bytes& out) const {
        const std::uint32_t dirs =
            f.peOffset + pe::kOptionalHeader +
            (recipe.pe32Plus ? pe::kDataDirectoriesPe32Plus : pe::kDataDirectoriesPe32);
        auto directory = [&](std::uint32_t k, std::uint32_t address, std::uint32_t size) {
            Put32(out, dirs + pe::kDataDirectorySize * k, address);
            Put32(out, dirs + pe::kDataDirectorySize * k + 4, size);
        };
        directory(pe::kDirResource, f.resourceVa, resourceSize);
        if (relocSection >= 0) {
            directory(pe::kDirBaseRelocation, placed[relocSection].va,
                      static_cast<std::uint32_t>(placed[relocSection].bytes.size()));
        }
        if (DebugCount()) {
            directory(pe::kDirDebug, debugDirVa,
                      recipe.debugSizeField ? recipe.debugSizeField
                                            : pe::kDebugEntrySize * DebugCount());
        }
        if (recipe.certificate) {
            directory(pe::kDirCertificate, f.certificateOffset, kCertificateSize);
        }
        if (recipe.resourceTrailer) {
            directory(recipe.trailerDirectory, f.trailerVa, f.trailerSize);
        }
    }

    // Section table and contents, then the appended data.
    void WriteSections(Bytes& out) const {
        for (std::uint32_t i = 0; i < Count(); ++i) {
            const Placed& pl = placed[i];
            const std::uint32_t h = sectionTable + pe::kSectionHeaderSize * i;
            std::memcpy(out.data() + h + pe::kSecName, headerNames[i].data(),
                        std::min<std::size_t>(pe::kSecNameSize, headerNames[i].size()));
            Put32(out, h + pe::kSecVirtualSize, pl.vsize);
            Put32(out, h + pe::kSecVirtualAddress, pl.va);
            Put32(out, h + pe::kSecSizeOfRawData, pl.rawSize);
            Put32(out, h + pe::kSecPointerToRawData, pl.raw);
            Put32(out, h + pe::kSecCharacteristics, pl.characteristics);
            if (!recipe.sections[i].noRawData) {
                std::copy(pl.bytes.begin(), pl.bytes.end(), out.begin() + pl.raw);
            }
        }
        std::copy(appended.begin(), appended.end(), out.begin() + f.appendedOffset);
    }

    // Debug entries: alternately with and without an address.
    void WriteDebugEntries(Bytes& out) {
        if (!DebugCount()) {
            return;
        }
        const Placed& d = placed[firstData];
        f.debugOffset = d.raw + (debugDirVa - d.va);
        for (std::uint32_t k = 0; k < DebugCount(); ++k) {
            const std::uint32_t e = f.debugOffset + pe::kDebugEntrySize * k;
            Put32(out, e + pe::kDebugType, kDebugTypeCodeView);
            Put32(out, e + pe::kDebugSizeOfData, 40 + 4 * k);
            if (debugSection >= 0) {
                const Placed& ds = placed[debugSection];
                Put32(out, e + pe::kDebugAddressOfRawData, k % 2 == 0 ? ds.va + debugDataAt[k] : 0);
                Put32(out, e + pe::kDebugPointerToRawData, ds.raw + debugDataAt[k]);
            } else {
                Put32(out, e + pe::kDebugPointerToRawData, f.appendedOffset + debugDataAt[k]);
            }
        }
    }

    // Two symbols and the string table.
    void WriteSymbols(Bytes& out) const {
        const std::uint32_t s = f.symbolOffset;
        std::memcpy(out.data() + s, "_start\0\0", 8);
        Put32(out, s + 8, 0);
        Put16(out, s + 12, 1);
        out[s + 16] = 2; // external
        std::memcpy(out.data() + s + kSymbolSize, "_data\0\0\0", 8);
        Put16(out, s + kSymbolSize + 12, 2);
        out[s + kSymbolSize + 16] = 3; // static
        std::copy(strings.begin(), strings.end(), out.begin() + s + 2 * kSymbolSize);
    }

    void WriteCertificate(Bytes& out) const {
        const std::uint32_t c = f.certificateOffset;
        Put32(out, c, kCertificateSize);
        Put16(out, c + 4, 0x0200);
        Put16(out, c + 6, 0x0002);
        const Bytes body = Pattern(16, 0xCE);
        std::copy(body.begin(), body.end(), out.begin() + c + 8);
    }
};

} // namespace

PeFile BuildPe(const PeRecipe& recipe) {
    Builder b{recipe};
    b.PlaceSections();
    b.AddDebugDirectory();
    b.PlaceInFile();
    b.PlaceSymbolsAndCertificate();
    Bytes out(b.end, 0);
    b.WriteFileHeader(out);
    b.WriteOptionalHeader(out);
    b.WriteDataDirectories(out);
    b.WriteSections(out);
    b.WriteDebugEntries(out);
    if (recipe.symbolTable) {
        b.WriteSymbols(out);
    }
    if (recipe.certificate) {
        b.WriteCertificate(out);
    }
    b.f.bytes = std::move(out);
    return b.f;
}

std::uint32_t OptionalHeader(const PeFile& f) {
    return f.peOffset + pe::kOptionalHeader;
}
std::uint32_t DataDirectory(const PeFile& f, std::uint32_t k) {
    const bool plus = Get16(f.bytes, OptionalHeader(f) + pe::kMagic) == pe::kMagicPe32Plus;
    return OptionalHeader(f) + (plus ? pe::kDataDirectoriesPe32Plus : pe::kDataDirectoriesPe32) +
           pe::kDataDirectorySize * k;
}
std::uint32_t SectionHeader(const PeFile& f, std::uint32_t i) {
    return OptionalHeader(f) + Get16(f.bytes, f.peOffset + pe::kSizeOfOptionalHeader) +
           pe::kSectionHeaderSize * i;
}

namespace {

// The header both an .ico file and a group record start with.
Bytes IconHeader(std::size_t count) {
    Bytes b;
    Append16(b, 0);
    Append16(b, 1);
    Append16(b, static_cast<std::uint16_t>(count));
    return b;
}

// The fields an .ico file's entry and a group record's entry share.
void AppendEntryHead(Bytes& b, const IconImage& im) {
    b.push_back(im.width);
    b.push_back(im.height);
    b.push_back(0);
    b.push_back(0);
    Append16(b, im.planes);
    Append16(b, im.bitCount);
    Append32(b, static_cast<std::uint32_t>(im.bytes.size()));
}

} // namespace

Bytes BuildIco(const std::vector<IconImage>& images) {
    Bytes b = IconHeader(images.size());
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (const IconImage& im : images) {
        AppendEntryHead(b, im);
        Append32(b, offset);
        offset += static_cast<std::uint32_t>(im.bytes.size());
    }
    for (const IconImage& im : images) {
        b.insert(b.end(), im.bytes.begin(), im.bytes.end());
    }
    return b;
}

Bytes BuildGroupRecord(const std::vector<IconImage>& images,
                       const std::vector<std::uint16_t>& ids) {
    Bytes b = IconHeader(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        AppendEntryHead(b, images[i]);
        Append16(b, ids[i]);
    }
    return b;
}

} // namespace resedit::testing
