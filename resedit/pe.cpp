#include "resedit/pe.h"

namespace resedit::pe {

bool ParseLayout(const ByteReader& file, Layout& layout, bool& signatureOk, std::string& why) {
    signatureOk = false;
    std::uint16_t mz = 0;
    std::uint32_t pe = 0;
    std::uint32_t signature = 0;
    if (!file.U16(0, mz) || mz != kDosMagic) {
        why = "no MZ signature";
        return false;
    }
    if (!file.U32(kDosPeOffset, pe) || !file.U32(pe, signature) || signature != kPeSignature) {
        why = "no PE signature";
        return false;
    }
    signatureOk = true;
    if (file.Size() > UINT32_MAX) {
        why = "the file is larger than a PE file can be";
        return false;
    }
    if (!file.Has(pe, kOptionalHeader + 2)) {
        why = "the file header is truncated";
        return false;
    }

    layout = {};
    layout.pe = pe;
    layout.optionalHeader = pe + kOptionalHeader;
    std::uint16_t sizeOfOptional = 0;
    std::uint16_t magic = 0;
    if (!file.U16(pe + kNumberOfSections, layout.numberOfSections) ||
        !file.U16(pe + kSizeOfOptionalHeader, sizeOfOptional) ||
        !file.U16(layout.optionalHeader + kMagic, magic)) {
        why = "the file header is truncated";
        return false;
    }
    std::uint32_t countField = 0;
    std::uint32_t directories = 0;
    if (magic == kMagicPe32) {
        countField = kNumberOfRvaAndSizesPe32;
        directories = kDataDirectoriesPe32;
    } else if (magic == kMagicPe32Plus) {
        layout.pe32Plus = true;
        countField = kNumberOfRvaAndSizesPe32Plus;
        directories = kDataDirectoriesPe32Plus;
    } else {
        why = "unknown optional header magic";
        return false;
    }
    if (sizeOfOptional < directories || !file.Has(layout.optionalHeader, sizeOfOptional)) {
        why = "the optional header is truncated";
        return false;
    }
    std::uint32_t count = 0;
    file.U32(layout.optionalHeader + countField, count);
    const std::uint32_t fits = (sizeOfOptional - directories) / kDataDirectorySize;
    layout.dataDirectoryCount = count < fits ? count : fits;
    if (layout.dataDirectoryCount > kMaxDataDirectories) {
        layout.dataDirectoryCount = kMaxDataDirectories;
    }
    layout.dataDirectories = layout.optionalHeader + directories;
    layout.sectionTable = layout.optionalHeader + sizeOfOptional;
    if (!file.Has(layout.sectionTable,
                  static_cast<std::uint64_t>(layout.numberOfSections) * kSectionHeaderSize)) {
        why = "the section table lies outside the file";
        return false;
    }
    return true;
}

bool FindResourceSection(const ByteReader& file, const Layout& layout, std::uint32_t& index) {
    if (!layout.HasDir(kDirResource)) {
        return false;
    }
    const std::uint32_t va = Load32(file.Data() + layout.DirAddress(kDirResource));
    if (va == 0) {
        return false;
    }
    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        if (Load32(file.Data() + layout.Section(i) + kSecVirtualAddress) == va) {
            index = i;
            return true;
        }
    }
    return false;
}

Section ReadSection(const std::uint8_t* h) {
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

} // namespace resedit::pe
