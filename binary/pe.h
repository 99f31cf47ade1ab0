// The layout of a PE file (PE32 and PE32+ alike): where the headers, the data directories
// and the section table are, the fields of a section header, the resource directory's
// structures, and the translation of addresses (RVAs) to file offsets.
#pragma once

#include "binary/error.h"
#include "binary/reader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace binary::pe {

constexpr std::uint16_t kDosMagic = 0x5A4D; // "MZ"
constexpr std::uint32_t kDosPeOffset = 0x3C;
constexpr std::uint32_t kPeSignature = 0x00004550; // "PE\0\0"

// File header, relative to the PE signature.
constexpr std::uint32_t kMachine = 4;
constexpr std::uint32_t kNumberOfSections = 6;
constexpr std::uint32_t kTimeDateStamp = 8;
constexpr std::uint32_t kPointerToSymbolTable = 12;
constexpr std::uint32_t kNumberOfSymbols = 16;
constexpr std::uint32_t kSizeOfOptionalHeader = 20;
constexpr std::uint32_t kCharacteristics = 22;
constexpr std::uint32_t kOptionalHeader = 24;

// Optional header, relative to its start.
constexpr std::uint32_t kMagic = 0;
constexpr std::uint32_t kMajorLinkerVersion = 2;
constexpr std::uint32_t kSizeOfCode = 4;
constexpr std::uint32_t kSizeOfInitializedData = 8;
constexpr std::uint32_t kAddressOfEntryPoint = 16;
constexpr std::uint32_t kBaseOfCode = 20;
constexpr std::uint32_t kSectionAlignment = 32;
constexpr std::uint32_t kFileAlignment = 36;
constexpr std::uint32_t kMajorOperatingSystemVersion = 40;
constexpr std::uint32_t kMajorSubsystemVersion = 48;
constexpr std::uint32_t kSizeOfImage = 56;
constexpr std::uint32_t kSizeOfHeaders = 60;
constexpr std::uint32_t kCheckSum = 64;
constexpr std::uint32_t kSubsystem = 68;
constexpr std::uint32_t kDllCharacteristics = 70;
constexpr std::uint32_t kSizeOfStackReserve = 72; // then three more sizes, 4 or 8 bytes each
constexpr std::uint32_t kOptionalHeaderSizePe32 = 224;
constexpr std::uint32_t kOptionalHeaderSizePe32Plus = 240;
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
constexpr std::uint32_t kSecName = 0;
constexpr std::uint32_t kSecNameSize = 8;
constexpr std::uint32_t kSecVirtualSize = 8;
constexpr std::uint32_t kSecVirtualAddress = 12;
constexpr std::uint32_t kSecSizeOfRawData = 16;
constexpr std::uint32_t kSecPointerToRawData = 20;
constexpr std::uint32_t kSecPointerToRelocations = 24;
constexpr std::uint32_t kSecPointerToLinenumbers = 28;
constexpr std::uint32_t kSecCharacteristics = 36;
constexpr std::uint32_t kScnMemDiscardable = 0x02000000;

// Import directory: descriptors of 20 bytes up to an empty one.
constexpr std::uint32_t kDirImport = 1;
constexpr std::uint32_t kImportDescriptorSize = 20;
constexpr std::uint32_t kImportLookupTable = 0; // OriginalFirstThunk
constexpr std::uint32_t kImportName = 12;
constexpr std::uint32_t kImportAddressTable = 16; // FirstThunk
constexpr std::uint32_t kImportHint = 2;          // a hint/name entry's name follows its hint

// Debug directory entry.
constexpr std::uint32_t kDebugEntrySize = 28;
constexpr std::uint32_t kDebugType = 12;
constexpr std::uint32_t kDebugSizeOfData = 16;
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

// Bytes at the start of a loaded image that are always mapped: its headers' first page.
constexpr std::uint32_t kLoadedHeaderBytes = 0x1000;

// The positions of one file's header fields, all as offsets in the file (or image).
struct Layout {
    std::uint32_t pe = 0; // the PE signature
    std::uint32_t optionalHeader = 0;
    bool pe32Plus = false;
    std::uint16_t numberOfSections = 0;
    std::uint16_t sizeOfOptionalHeader = 0;
    std::uint32_t sectionTable = 0;
    std::uint32_t dataDirectories = 0;
    // Data directory entries present (NumberOfRvaAndSizes, at most 16, and what fits). Set
    // by ParseLayout; LocateHeaders leaves it 0.
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

// Finds the headers: the "MZ" and "PE" signatures (BadSignature when either is missing), the
// file header and the optional header's magic (PE32 or PE32+). Checks nothing beyond: enough
// for an image the system's loader has already accepted.
Expected<Layout> LocateHeaders(const Reader& file);
// LocateHeaders, then checks that the optional header holds its data directories and that it
// and the section table lie inside the file: after this every header field of the layout can
// be read without a check.
Expected<Layout> ParseLayout(const Reader& file);

// A data directory entry; {0, 0} for one the header does not have.
struct DataDirectory {
    std::uint32_t address = 0; // an RVA (the certificate table: a file offset)
    std::uint32_t size = 0;
};
DataDirectory Directory(const Reader& file, const Layout& layout, std::uint32_t k);

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
// Section i of a parsed layout (i below numberOfSections).
Section ReadSection(const Reader& file, const Layout& layout, std::uint32_t i);

// The first section, in table order, that starts at the address.
std::optional<std::uint32_t> SectionAt(const Reader& file, const Layout& layout, std::uint32_t rva);
// The section an address falls in: the first, in table order, that starts at or below it
// while the next one in the table starts above it (the last reaches to the end of the
// address space). Sections lie in ascending address order, as the format requires; an
// address in a gap between two of them counts to the lower one.
std::optional<std::uint32_t> SectionHolding(const Reader& file, const Layout& layout,
                                            std::uint32_t rva);
// The file offset of an address, through the section that holds it.
std::optional<std::uint64_t> RvaToOffset(const Reader& file, const Layout& layout,
                                         std::uint32_t rva);

// The address range [address, address + size).
struct AddressRange {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};
// The ranges the import directory uses: its descriptors up to the empty one that closes them,
// and what they name: each library's name, its lookup and address tables up to their closing
// zero entries, and the hint/name entries of the lookup table (or, without one, of the
// address table). Bytes are read as the loader maps them: a section's bytes beyond those in
// the file are zero. A part that lies outside every section ends its walk (the loader would
// refuse it); a directory that takes more reads than any real program's is refused.
// Empty without an import directory.
Expected<std::vector<AddressRange>> ImportRanges(const Reader& file, const Layout& layout);

// The PE checksum: the 16-bit little-endian words of the file (its CheckSum field counted as
// zero, an odd last byte as the low byte of a word) added with end-around carry, plus the
// file's length. WordSum keeps the plain sum of the words, so that the parts of a file can be
// summed apart and in any order, and a part taken out again.
struct WordSum {
    std::uint64_t value = 0;
    // Adds bytes that lie at `offset` in the file: one at an even offset is a low byte.
    void Add(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size);
};
// The checksum of a file of `length` bytes whose words (the field's counted as zero) sum to
// wordSum.
std::uint32_t CheckSum(std::uint64_t wordSum, std::uint64_t length);
// The checksum a whole file should carry.
std::uint32_t ComputeCheckSum(const Reader& file, const Layout& layout);

// The image the system's loader mapped at base: its headers located in the first page (which
// every loaded image maps), its extent SizeOfImage. In an image an address is its offset.
Expected<Reader> LoadedImage(const std::uint8_t* base);
// The time stamp of a loaded image's root resource directory (PE32 or PE32+): an error when
// the image has no resource directory or its headers do not lie inside it. The loader has
// checked the headers of an image it mapped, so only the reads themselves are checked.
Expected<std::uint32_t> ResourceDirectoryStamp(const Reader& image);

} // namespace binary::pe
