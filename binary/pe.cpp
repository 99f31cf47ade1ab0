// Finding the headers of a PE file and reading its sections and data directories; a loaded
// image's extent and its resource directory's time stamp.
#include "binary/pe.h"

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
