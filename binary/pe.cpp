// Finding the headers of a PE file and reading its sections and data directories; the ranges
// of its import directory; its checksum; a loaded image's extent and its resource directory's
// time stamp.
#include "binary/pe.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace binary::pe {

namespace {

constexpr std::uint64_t kMaxFileSize = UINT32_MAX;             // offsets in the headers are 32-bit
constexpr std::uint32_t kFileHeaderRead = kOptionalHeader + 2; // up to the optional magic

} // namespace

Expected<Layout> LocateHeaders(const Reader& file) {
    std::uint16_t mz = 0;
    if (!file.U16(0, mz) || mz != kDosMagic) {
        return file.Fault(ErrorCode::BadSignature, "no MZ signature", 0, 2);
    }
    std::uint32_t pe = 0;
    if (!file.U32(kDosPeOffset, pe)) {
        return file.Fault(ErrorCode::BadSignature, "no PE signature", kDosPeOffset, 4);
    }
    std::uint32_t signature = 0;
    if (!file.U32(pe, signature) || signature != kPeSignature) {
        return file.Fault(ErrorCode::BadSignature, "no PE signature", pe, 4);
    }
    if (file.Size() > kMaxFileSize) {
        return file.Fault(ErrorCode::Unsupported, "the file is larger than a PE file can be", 0,
                          file.Size());
    }
    if (!file.Has(pe, kFileHeaderRead)) {
        return file.Fault(ErrorCode::Truncated, "the file header is truncated", pe,
                          kFileHeaderRead);
    }
    Layout layout;
    layout.pe = pe;
    layout.optionalHeader = pe + kOptionalHeader;
    const std::uint8_t* header = file.At(pe, kFileHeaderRead);
    layout.numberOfSections = Load16(header + kNumberOfSections);
    layout.sizeOfOptionalHeader = Load16(header + kSizeOfOptionalHeader);
    const std::uint16_t magic = Load16(header + kOptionalHeader + kMagic);
    if (magic == kMagicPe32) {
        layout.dataDirectories = layout.optionalHeader + kDataDirectoriesPe32;
    } else if (magic == kMagicPe32Plus) {
        layout.pe32Plus = true;
        layout.dataDirectories = layout.optionalHeader + kDataDirectoriesPe32Plus;
    } else {
        return file.Fault(ErrorCode::Unsupported, "unknown optional header magic",
                          layout.optionalHeader, 2);
    }
    layout.sectionTable = layout.optionalHeader + layout.sizeOfOptionalHeader;
    return layout;
}

Expected<Layout> ParseLayout(const Reader& file) {
    Expected<Layout> located = LocateHeaders(file);
    if (!located) {
        return located;
    }
    Layout& layout = *located;
    const std::uint32_t directories = layout.dataDirectories - layout.optionalHeader;
    if (layout.sizeOfOptionalHeader < directories ||
        !file.Has(layout.optionalHeader, layout.sizeOfOptionalHeader)) {
        return file.Fault(ErrorCode::Truncated, "the optional header is truncated",
                          layout.optionalHeader, layout.sizeOfOptionalHeader);
    }
    const std::uint32_t countField =
        layout.pe32Plus ? kNumberOfRvaAndSizesPe32Plus : kNumberOfRvaAndSizesPe32;
    const std::uint32_t count = Load32(file.Data() + layout.Optional(countField));
    const std::uint32_t fits = (layout.sizeOfOptionalHeader - directories) / kDataDirectorySize;
    layout.dataDirectoryCount = count < fits ? count : fits;
    if (layout.dataDirectoryCount > kMaxDataDirectories) {
        layout.dataDirectoryCount = kMaxDataDirectories;
    }
    const std::uint64_t tableSize =
        static_cast<std::uint64_t>(layout.numberOfSections) * kSectionHeaderSize;
    if (!file.Has(layout.sectionTable, tableSize)) {
        return file.Fault(ErrorCode::Truncated, "the section table lies outside the file",
                          layout.sectionTable, tableSize);
    }
    return located;
}

DataDirectory Directory(const Reader& file, const Layout& layout, std::uint32_t k) {
    if (!layout.HasDir(k)) {
        return {};
    }
    const std::uint8_t* entry = file.Data() + layout.DirAddress(k);
    return {Load32(entry), Load32(entry + 4)};
}

Section ReadSection(const Reader& file, const Layout& layout, std::uint32_t i) {
    const std::uint8_t* h = file.Data() + layout.Section(i);
    Section s;
    s.virtualSize = Load32(h + kSecVirtualSize);
    s.virtualAddress = Load32(h + kSecVirtualAddress);
    s.sizeOfRawData = Load32(h + kSecSizeOfRawData);
    s.pointerToRawData = Load32(h + kSecPointerToRawData);
    s.pointerToRelocations = Load32(h + kSecPointerToRelocations);
    s.pointerToLinenumbers = Load32(h + kSecPointerToLinenumbers);
    s.characteristics = Load32(h + kSecCharacteristics);
    return s;
}

std::optional<std::uint32_t> SectionAt(const Reader& file, const Layout& layout,
                                       std::uint32_t rva) {
    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        if (Load32(file.Data() + layout.Section(i) + kSecVirtualAddress) == rva) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> SectionHolding(const Reader& file, const Layout& layout,
                                            std::uint32_t rva) {
    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        const bool last = i + 1 == layout.numberOfSections;
        if (ReadSection(file, layout, i).virtualAddress <= rva &&
            (last || ReadSection(file, layout, i + 1).virtualAddress > rva)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> RvaToOffset(const Reader& file, const Layout& layout,
                                         std::uint32_t rva) {
    const std::optional<std::uint32_t> i = SectionHolding(file, layout, rva);
    if (!i) {
        return std::nullopt;
    }
    const Section s = ReadSection(file, layout, *i);
    return std::uint64_t{s.pointerToRawData} + (rva - s.virtualAddress);
}

namespace {

// Limits of the import walk, far beyond real programs (whose tables hold thousands of entries),
// so that a malformed directory costs little: the length of a name, and the reads of the whole
// walk (descriptors, table entries and names).
constexpr std::uint32_t kMaxImportName = 0x1000;
constexpr std::uint32_t kMaxImportReads = 0x100000;
constexpr std::uint64_t kOrdinalFlag32 = 0x80000000u;
constexpr std::uint64_t kOrdinalFlag64 = 0x8000000000000000u;
constexpr std::uint32_t kHintNameMask = 0x7FFFFFFF;

// Reads the loaded image, as the loader maps it: each section's bytes from the file, zero
// beyond them; counting its reads against the walk's limit.
class ImageReader {
public:
    ImageReader(const Reader& file, const Layout& layout) : file_(file), layout_(layout) {}

    bool Exhausted() const { return reads_ > kMaxImportReads; }

    // The bytes at an address; false when they do not all lie in one section.
    bool Read(std::uint64_t rva, std::uint32_t size, std::uint8_t* out) {
        std::uint64_t at = 0;
        Section s;
        if (!Locate(rva, size, s, at)) {
            return false;
        }
        for (std::uint32_t k = 0; k < size; ++k) {
            std::uint8_t b = 0;
            if (at + k < s.sizeOfRawData) {
                (void)file_.U8(std::uint64_t{s.pointerToRawData} + at + k, b);
            }
            out[k] = b;
        }
        return true;
    }

    // The length of the zero-terminated text at an address, its zero included; 0 when it does
    // not end within a name's length inside its section.
    std::uint32_t TextLength(std::uint64_t rva) {
        std::uint64_t at = 0;
        Section s;
        if (!Locate(rva, 1, s, at)) {
            return 0;
        }
        const std::uint64_t extent = std::max(s.virtualSize, s.sizeOfRawData);
        const std::uint64_t limit = std::min<std::uint64_t>(kMaxImportName, extent - at);
        // The part in the file, then zero.
        std::uint64_t inFile = at < s.sizeOfRawData ? std::min(limit, s.sizeOfRawData - at) : 0;
        const std::uint64_t offset = std::uint64_t{s.pointerToRawData} + at;
        inFile = std::min(inFile, file_.Size() > offset ? file_.Size() - offset : 0);
        if (inFile > 0) {
            const std::uint8_t* bytes = file_.At(offset, inFile);
            const void* zero = std::memchr(bytes, 0, static_cast<std::size_t>(inFile));
            if (zero) {
                return static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(zero) - bytes +
                                                  1);
            }
        }
        return inFile < limit ? static_cast<std::uint32_t>(inFile + 1) : 0;
    }

private:
    bool Locate(std::uint64_t rva, std::uint32_t size, Section& s, std::uint64_t& at) {
        ++reads_;
        if (rva > UINT32_MAX || Exhausted()) {
            return false;
        }
        const std::optional<std::uint32_t> i =
            SectionHolding(file_, layout_, static_cast<std::uint32_t>(rva));
        if (!i) {
            return false;
        }
        s = ReadSection(file_, layout_, *i);
        at = rva - s.virtualAddress;
        return at + size <= std::max(s.virtualSize, s.sizeOfRawData);
    }

    const Reader& file_;
    const Layout& layout_;
    std::uint32_t reads_ = 0;
};

} // namespace

Expected<std::vector<AddressRange>> ImportRanges(const Reader& file, const Layout& layout) {
    std::vector<AddressRange> ranges;
    const DataDirectory imports = Directory(file, layout, kDirImport);
    if (imports.address == 0 || imports.size == 0) {
        return ranges;
    }
    ImageReader image(file, layout);
    const std::uint32_t thunkSize = layout.pe32Plus ? 8 : 4;
    const std::uint64_t ordinalFlag = layout.pe32Plus ? kOrdinalFlag64 : kOrdinalFlag32;
    auto add = [&](std::uint64_t address, std::uint64_t size) {
        if (size != 0) {
            ranges.push_back(
                {static_cast<std::uint32_t>(address), static_cast<std::uint32_t>(size)});
        }
    };
    // A table of thunks up to its zero entry; with names, the hint/name entries it names.
    auto table = [&](std::uint32_t address, bool names) {
        std::uint8_t entry[8] = {};
        for (std::uint64_t n = 0;; ++n) {
            const std::uint64_t at = address + n * thunkSize;
            if (!image.Read(at, thunkSize, entry)) {
                add(address, n * thunkSize);
                return;
            }
            std::uint64_t value = Load32(entry);
            if (layout.pe32Plus) {
                value |= std::uint64_t{Load32(entry + 4)} << 32;
            }
            if (value == 0) {
                add(address, (n + 1) * thunkSize);
                return;
            }
            if (names && (value & ordinalFlag) == 0) {
                const std::uint64_t hint = value & kHintNameMask;
                const std::uint32_t length = image.TextLength(hint + kImportHint);
                add(hint, length != 0 ? kImportHint + length : 0);
            }
        }
    };
    std::uint8_t descriptor[kImportDescriptorSize];
    for (std::uint64_t d = 0;; ++d) {
        const std::uint64_t at = imports.address + d * kImportDescriptorSize;
        if (!image.Read(at, kImportDescriptorSize, descriptor)) {
            add(imports.address, d * kImportDescriptorSize);
            break;
        }
        const std::uint32_t lookup = Load32(descriptor + kImportLookupTable);
        const std::uint32_t name = Load32(descriptor + kImportName);
        const std::uint32_t addresses = Load32(descriptor + kImportAddressTable);
        if (lookup == 0 && name == 0 && addresses == 0) {
            add(imports.address, (d + 1) * kImportDescriptorSize);
            break;
        }
        if (name != 0) {
            add(name, image.TextLength(name));
        }
        if (lookup != 0) {
            table(lookup, true);
        }
        if (addresses != 0) {
            table(addresses, lookup == 0);
        }
    }
    if (image.Exhausted()) {
        return file.Fault(ErrorCode::Unsupported,
                          "the import directory is larger than any program's",
                          layout.DirAddress(kDirImport), kDataDirectorySize);
    }
    return ranges;
}

void WordSum::Add(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) {
        return;
    }
    if (offset % 2 != 0) {
        value += std::uint64_t{bytes[0]} << 8;
        ++bytes;
        --size;
    }
    std::size_t words = size / 2;
    if constexpr (std::endian::native == std::endian::little) {
        // Four words at a time, two to each 32-bit half of a 64-bit sum, in runs short enough
        // that neither half overflows: the compiler turns this into vector additions.
        constexpr std::uint64_t kEveryOtherWord = 0x0000FFFF0000FFFFull;
        constexpr std::size_t kRun = 0x4000; // 2 x 0xFFFF added to a half per step
        while (words >= 4) {
            const std::size_t run = std::min(words / 4, kRun);
            std::uint64_t halves = 0;
            for (std::size_t k = 0; k < run; ++k) {
                std::uint64_t v;
                std::memcpy(&v, bytes + 8 * k, 8);
                halves += (v & kEveryOtherWord) + ((v >> 16) & kEveryOtherWord);
            }
            value += (halves & 0xFFFFFFFF) + (halves >> 32);
            bytes += 8 * run;
            words -= 4 * run;
        }
    }
    for (; words > 0; --words, bytes += 2) {
        value += Load16(bytes);
    }
    if (size % 2 != 0) {
        value += *bytes;
    }
}

std::uint32_t CheckSum(std::uint64_t wordSum, std::uint64_t length) {
    // End-around carry leaves the sum's remainder by 0xFFFF, as 0xFFFF rather than 0 once
    // any word is not zero.
    constexpr std::uint64_t kModulus = 0xFFFF;
    const std::uint64_t folded = wordSum == 0 ? 0 : (wordSum - 1) % kModulus + 1;
    return static_cast<std::uint32_t>(folded + length);
}

std::uint32_t ComputeCheckSum(const Reader& file, const Layout& layout) {
    WordSum sum;
    sum.Add(0, file.Data(), static_cast<std::size_t>(file.Size()));
    const std::uint32_t field = layout.Optional(kCheckSum);
    WordSum stored;
    if (const std::uint8_t* at = file.At(field, 4)) {
        stored.Add(field, at, 4);
    }
    return CheckSum(sum.value - stored.value, file.Size());
}

Expected<Reader> LoadedImage(const std::uint8_t* base) {
    const Reader headers(base, kLoadedHeaderBytes);
    Expected<Layout> layout = LocateHeaders(headers);
    if (!layout) {
        return layout.TakeError();
    }
    std::uint32_t sizeOfImage = 0;
    if (!headers.U32(layout->Optional(kSizeOfImage), sizeOfImage)) {
        return headers.Fault(ErrorCode::Truncated, "the optional header is truncated",
                             layout->optionalHeader, kSizeOfImage + 4);
    }
    return Reader(base, sizeOfImage);
}

Expected<std::uint32_t> ResourceDirectoryStamp(const Reader& image) {
    const Expected<Layout> layout = LocateHeaders(image);
    if (!layout) {
        return layout.error();
    }
    // In an image an address is an offset.
    const std::uint32_t entry = layout->DirAddress(kDirResource);
    std::uint32_t rva = 0;
    if (!image.U32(entry, rva)) {
        return image.Fault(ErrorCode::Truncated, "the data directories lie outside the image",
                           entry, kDataDirectorySize);
    }
    if (rva == 0) {
        return image.Fault(ErrorCode::NotFound, "the image has no resource directory", entry,
                           kDataDirectorySize);
    }
    std::uint32_t stamp = 0;
    if (!image.U32(std::uint64_t{rva} + kDirTimeDateStamp, stamp)) {
        return image.Fault(ErrorCode::Truncated, "the resource directory lies outside the image",
                           rva, kDirTableSize);
    }
    return stamp;
}

} // namespace binary::pe
