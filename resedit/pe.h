// Where the fields of a PE file's headers are, for PE32 and PE32+ alike.
#pragma once

#include "resedit/bytes.h"

#include <cstdint>
#include <string>

namespace resedit::pe {

constexpr std::uint16_t kDosMagic = 0x5A4D; // "MZ"
constexpr std::uint32_t kDosPeOffset = 0x3C;
constexpr std::uint32_t kPeSignature = 0x00004550; // "PE\0\0"

// File header, relative to the PE signature.
constexpr std::uint32_t kNumberOfSections = 6;
constexpr std::uint32_t kPointerToSymbolTable = 12;
constexpr std::uint32_t kSizeOfOptionalHeader = 20;
constexpr std::uint32_t kOptionalHeader = 24;

// Optional header, relative to its start.
constexpr std::uint32_t kMagic = 0;
constexpr std::uint32_t kSizeOfInitializedData = 8;
constexpr std::uint32_t kSectionAlignment = 32;
constexpr std::uint32_t kFileAlignment = 36;
constexpr std::uint32_t kSizeOfImage = 56;
constexpr std::uint32_t kSizeOfHeaders = 60;
constexpr std::uint32_t kCheckSum = 64;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::uint32_t kNumberOfRvaAndSizesPe32 = 92;
constexpr std::uint32_t kDataDirectoriesPe32 = 96;
constexpr std::uint32_t kNumberOfRvaAndSizesPe32Plus = 108;
constexpr std::uint32_t kDataDirectoriesPe32Plus = 112;

// Data directory entries.
constexpr std::uint32_t kDataDirectorySize = 8;
constexpr std::uint32_t kMaxDataDirectories = 16;
constexpr std::uint32_t kDirResource = 2;
constexpr std::uint32_t kDirCertificate = 4; // holds a file offset, not an address
constexpr std::uint32_t kDirBaseRelocation = 5;
constexpr std::uint32_t kDirDebug = 6;

// Section header.
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kSecVirtualSize = 8;
constexpr std::uint32_t kSecVirtualAddress = 12;
constexpr std::uint32_t kSecSizeOfRawData = 16;
constexpr std::uint32_t kSecPointerToRawData = 20;
constexpr std::uint32_t kSecPointerToRelocations = 24;
constexpr std::uint32_t kSecPointerToLinenumbers = 28;
constexpr std::uint32_t kSecCharacteristics = 36;
constexpr std::uint32_t kScnMemDiscardable = 0x02000000;

// Debug directory entry.
constexpr std::uint32_t kDebugEntrySize = 28;
constexpr std::uint32_t kDebugAddressOfRawData = 20;
constexpr std::uint32_t kDebugPointerToRawData = 24;

// Resource directory structures, offsets relative to their start.
constexpr std::uint32_t kDirTableSize = 16; // IMAGE_RESOURCE_DIRECTORY
constexpr std::uint32_t kDirCharacteristics = 0;
constexpr std::uint32_t kDirTimeDateStamp = 4;
constexpr std::uint32_t kDirMajorVersion = 8;
constexpr std::uint32_t kDirMinorVersion = 10;
constexpr std::uint32_t kDirNamedEntries = 12;
constexpr std::uint32_t kDirIdEntries = 14;
constexpr std::uint32_t kEntrySize = 8; // IMAGE_RESOURCE_DIRECTORY_ENTRY
constexpr std::uint32_t kEntryName = 0;
constexpr std::uint32_t kEntryOffsetToData = 4;
constexpr std::uint32_t kDataEntrySize = 16; // IMAGE_RESOURCE_DATA_ENTRY
constexpr std::uint32_t kDataOffsetToData = 0;
constexpr std::uint32_t kDataSize = 4;
constexpr std::uint32_t kDataCodePage = 8;
constexpr std::uint32_t kDataReserved = 12;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000; // in OffsetToData
constexpr std::uint32_t kNameFlag = 0x80000000;         // in Name

// The positions of one file's header fields, all as file offsets.
struct Layout {
    std::uint32_t pe = 0; // the PE signature
    std::uint32_t optionalHeader = 0;
    bool pe32Plus = false;
    std::uint16_t numberOfSections = 0;
    std::uint32_t sectionTable = 0;
    std::uint32_t dataDirectories = 0;
    // Data directory entries present (NumberOfRvaAndSizes, at most 16, and what fits).
    std::uint32_t dataDirectoryCount = 0;

    std::uint32_t Optional(std::uint32_t field) const { return optionalHeader + field; }
    std::uint32_t DirAddress(std::uint32_t k) const {
        return dataDirectories + kDataDirectorySize * k;
    }
    std::uint32_t DirSize(std::uint32_t k) const { return DirAddress(k) + 4; }
    bool HasDir(std::uint32_t k) const { return k < dataDirectoryCount; }
    std::uint32_t Section(std::uint32_t i) const { return sectionTable + kSectionHeaderSize * i; }
    std::uint32_t SectionTableEnd() const { return Section(numberOfSections); }
};

// Finds the header fields. Checks the "MZ" and "PE" signatures first (a failure there sets
// `signatureOk` false), then that the optional header is PE32 or PE32+ and that it and the
// section table lie inside the file.
bool ParseLayout(const ByteReader& file, Layout& layout, bool& signatureOk, std::string& why);

// The first section, in table order, whose address is the resource directory's (which must
// be present and not 0).
bool FindResourceSection(const ByteReader& file, const Layout& layout, std::uint32_t& index);

// A section header's fields.
struct Section {
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t sizeOfRawData = 0;
    std::uint32_t pointerToRawData = 0;
    std::uint32_t pointerToRelocations = 0;
    std::uint32_t pointerToLinenumbers = 0;
    std::uint32_t characteristics = 0;
};
Section ReadSection(const std::uint8_t* header);

} // namespace resedit::pe
