// Prints what the program's PE layout (binary/pe.h) makes of files, for the Python walker's
// test to compare with its own answers. Reads requests from standard input, two lines each:
// a file's path, then the addresses to translate (hexadecimal, space-separated). For each it
// prints the located and parsed headers or the fault, the data directories, the sections and,
// per address, the section starting there, the section holding it and its file offset.
#include "binary/pe.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace pe = binary::pe;

const char* CodeName(binary::ErrorCode code) {
    switch (code) {
    case binary::ErrorCode::Truncated:
        return "Truncated";
    case binary::ErrorCode::BadSignature:
        return "BadSignature";
    case binary::ErrorCode::Malformed:
        return "Malformed";
    case binary::ErrorCode::NotFound:
        return "NotFound";
    case binary::ErrorCode::Unsupported:
        return "Unsupported";
    default:
        return "Other";
    }
}

void PrintError(const binary::Error& e) {
    std::printf("error %s ", CodeName(e.code));
    if (e.HasPlace()) {
        std::printf("%llx %llx", static_cast<unsigned long long>(e.offset),
                    static_cast<unsigned long long>(e.size));
    } else {
        std::printf("- -");
    }
    std::printf(" %s\n", e.message.c_str());
}

template <typename T> void PrintOptional(const std::optional<T>& v) {
    if (v) {
        std::printf(" %llx", static_cast<unsigned long long>(*v));
    } else {
        std::printf(" -");
    }
}

void Probe(const std::string& path, const std::vector<std::uint32_t>& rvas) {
    std::printf("file %s\n", path.c_str());
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    const binary::Reader file(bytes.data(), bytes.size());
    const binary::Expected<pe::Layout> located = pe::LocateHeaders(file);
    if (!located) {
        PrintError(located.error());
        return;
    }
    std::printf("located %x %x %d %x %x %x %x\n", located->pe, located->optionalHeader,
                located->pe32Plus ? 1 : 0, located->numberOfSections, located->sizeOfOptionalHeader,
                located->sectionTable, located->dataDirectories);
    const binary::Expected<pe::Layout> layout = pe::ParseLayout(file);
    if (!layout) {
        PrintError(layout.error());
        return;
    }
    std::printf("parsed %x\n", layout->dataDirectoryCount);
    for (std::uint32_t k = 0; k < pe::kMaxDataDirectories; ++k) {
        const pe::DataDirectory d = pe::Directory(file, *layout, k);
        std::printf("dir %x %x %x\n", k, d.address, d.size);
    }
    for (std::uint32_t i = 0; i < layout->numberOfSections; ++i) {
        const pe::Section s = pe::ReadSection(file, *layout, i);
        std::printf("section %x %x %x %x %x %x %x %x\n", i, s.virtualSize, s.virtualAddress,
                    s.sizeOfRawData, s.pointerToRawData, s.pointerToRelocations,
                    s.pointerToLinenumbers, s.characteristics);
    }
    for (const std::uint32_t rva : rvas) {
        std::printf("rva %x", rva);
        PrintOptional(pe::SectionAt(file, *layout, rva));
        PrintOptional(pe::SectionHolding(file, *layout, rva));
        PrintOptional(pe::RvaToOffset(file, *layout, rva));
        std::printf("\n");
    }
}

} // namespace

int main() {
    std::string path;
    std::string line;
    while (std::getline(std::cin, path) && std::getline(std::cin, line)) {
        std::vector<std::uint32_t> rvas;
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            rvas.push_back(static_cast<std::uint32_t>(std::stoul(word, nullptr, 16)));
        }
        Probe(path, rvas);
        std::printf("end\n");
    }
    return 0;
}
