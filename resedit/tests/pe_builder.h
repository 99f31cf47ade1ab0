// Builds small but well-formed PE files for the editor's tests: PE32 or PE32+, sections in
// any memory order, a resource section from a list of resources, and optionally a debug
// directory, a certificate table, a COFF symbol table and data appended after the sections.
#pragma once

#include "resedit/resedit.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace resedit::testing {

using Bytes = std::vector<std::uint8_t>;

struct Resource {
    ResKey type;
    ResKey name;
    std::uint16_t language;
    Bytes bytes;
    std::uint32_t codePage = 0;
    // The section (an index into the recipe's sections) that holds the bytes, after its own,
    // as packers leave them; -1: the resource section.
    int inSection = -1;
};

enum class SectionKind { Code, Data, Resources, Relocations, Discardable, Debug };

struct SectionRecipe {
    std::string name;
    SectionKind kind = SectionKind::Data;
    Bytes bytes;                   // ignored for Resources (built from the resources)
    std::uint32_t virtualSize = 0; // 0: the size of the bytes
    std::uint32_t rawPadding = 0;  // extra zero bytes in the file, counted in SizeOfRawData
    bool noRawData = false;        // its bytes are only in memory: none in the file
    // Its bytes lie inside the previous section's in the file, behind that one's own, whose
    // SizeOfRawData is grown over them.
    bool inPreviousSlack = false;
};

struct PeRecipe {
    bool pe32Plus = false;
    std::uint32_t fileAlignment = 0x200;
    std::uint32_t sectionAlignment = 0x1000;
    std::vector<SectionRecipe> sections; // in memory order
    std::vector<Resource> resources;
    Bytes resourceImage; // when not empty, the resource section's bytes as they are
    // Debug directory in the first Data section, with this many entries; their raw data lies
    // in the Debug section (or, without one, in the appended data). debugSizeField 0 gives
    // 28 times the entry count.
    std::uint32_t debugEntries = 0;
    std::uint32_t debugSizeField = 0;
    bool certificate = false; // a certificate table behind everything
    bool symbolTable = false; // COFF symbols behind the sections
    Bytes appended;           // data after the last section (before symbols/certificate)
    std::uint32_t checkSum = 0x1234ABCD;
    // Data that another part of the program keeps in the resource section behind the
    // resources (as packers keep their imports there), made for its address and named by data
    // directory entry trailerDirectory.
    std::function<Bytes(std::uint32_t va)> resourceTrailer;
    std::uint32_t trailerDirectory = 0;
};

// The file, and where its parts went.
struct PeFile {
    Bytes bytes;
    std::uint32_t peOffset = 0;
    std::uint32_t resourceSection = 0; // index
    std::uint32_t resourceVa = 0;
    std::uint32_t resourceRaw = 0;
    std::uint32_t debugOffset = 0; // file offset of the debug directory
    std::uint32_t certificateOffset = 0;
    std::uint32_t symbolOffset = 0;
    std::uint32_t appendedOffset = 0;
    std::uint32_t trailerVa = 0;
    std::uint32_t trailerSize = 0;
};

PeFile BuildPe(const PeRecipe& recipe);

// A resource section image for address va, laid out differently from the editor's writer
// (tables breadth first, then data entries, then names, then data).
Bytes BuildResourceSection(const std::vector<Resource>& resources, std::uint32_t va);

// A resource section for address va that shares what the format lets it share: a type
// directory referred to by two types, a name directory by two names (the two images of the
// group icon "106", language 2052), one data entry by two languages, data that overlaps
// another leaf's, and a name of zero length. `expanded` lists every resource as a reader
// that copies shared parts into each place sees them.
struct SharedSection {
    Bytes bytes;
    std::vector<Resource> expanded;
};
SharedSection BuildSharedResourceSection(std::uint32_t va);

// An import directory as a packer keeps it in the resource section behind the resources, for
// address va: the descriptors of one library and the closing empty one, the library's name,
// its lookup and address tables and one hint/name entry.
Bytes BuildImportTrailer(std::uint32_t va, bool pe32Plus);

// The usual program: .text, .data, .rsrc, .reloc.
PeRecipe TypicalRecipe(bool pe32Plus, std::vector<Resource> resources);

// An .ico file with the given images (each: width, height, planes, bit count, bytes).
struct IconImage {
    std::uint8_t width;
    std::uint8_t height;
    std::uint16_t planes;
    std::uint16_t bitCount;
    Bytes bytes;
};
Bytes BuildIco(const std::vector<IconImage>& images);
// A group icon record listing ids for images (entries as BuildIco makes them).
Bytes BuildGroupRecord(const std::vector<IconImage>& images, const std::vector<std::uint16_t>& ids);

Bytes Pattern(std::size_t size, std::uint8_t seed);

// Header field access for tests that bend a built file.
std::uint32_t Get32(const Bytes& b, std::size_t at);
void Put32(Bytes& b, std::size_t at, std::uint32_t v);
std::uint16_t Get16(const Bytes& b, std::size_t at);
void Put16(Bytes& b, std::size_t at, std::uint16_t v);
// Offsets inside a built file.
std::uint32_t OptionalHeader(const PeFile& f);
std::uint32_t DataDirectory(const PeFile& f, std::uint32_t k); // its VirtualAddress field
std::uint32_t SectionHeader(const PeFile& f, std::uint32_t i);

} // namespace resedit::testing
