// What the stand-in target needs to read its resource pack: the entries of a ZIP archive
// (stored or deflated), and its string table, one JSON object of texts. Every read is
// bounds-checked; a malformed pack gives an error, never a read past its end.
#pragma once

#include "binary/error.h"
#include "binary/reader.h"

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace standin {

struct ZipEntry {
    std::string name;
    std::uint16_t method = 0; // 0 stored, 8 deflated
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::uint32_t localHeader = 0;
};

// The archive's entries from its central directory.
binary::Expected<std::vector<ZipEntry>> ReadZipDirectory(std::span<const std::uint8_t> zip);
// One entry's bytes, inflated and checked against its CRC-32.
binary::Expected<std::vector<std::uint8_t>> ReadZipEntry(std::span<const std::uint8_t> zip,
                                                         const ZipEntry& entry);

// Raw deflate data into at most maxSize bytes; faults are placed in the input the reader's
// range belongs to.
binary::Expected<std::vector<std::uint8_t>> Inflate(const binary::Reader& data,
                                                    std::size_t maxSize);
binary::Expected<std::vector<std::uint8_t>> Inflate(std::span<const std::uint8_t> data,
                                                    std::size_t maxSize);
std::uint32_t Crc32(std::span<const std::uint8_t> data);

using StringTable = std::map<std::string, std::u16string>;
// A JSON object whose values are all strings (UTF-8 in, UTF-16 out).
binary::Expected<StringTable> ParseStringTable(std::span<const std::uint8_t> json);

} // namespace standin
