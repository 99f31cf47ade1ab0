// What the stand-in target needs to read its resource pack: the entries of a ZIP archive
// (stored or deflated), and its string table, one JSON object of texts. Every read is
// bounds-checked; a malformed pack gives an error, never a read past its end.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
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

// The archive's entries from its central directory; an error text on failure.
bool ReadZipDirectory(std::span<const std::uint8_t> zip, std::vector<ZipEntry>& entries,
                      std::string& error);
// One entry's bytes, inflated and checked against its CRC-32.
bool ReadZipEntry(std::span<const std::uint8_t> zip, const ZipEntry& entry,
                  std::vector<std::uint8_t>& out, std::string& error);

// Raw deflate data into at most maxSize bytes.
bool Inflate(std::span<const std::uint8_t> data, std::size_t maxSize,
             std::vector<std::uint8_t>& out, std::string& error);
std::uint32_t Crc32(std::span<const std::uint8_t> data);

// A JSON object whose values are all strings (UTF-8 in, UTF-16 out).
bool ParseStringTable(std::span<const std::uint8_t> json,
                      std::map<std::string, std::u16string>& table, std::string& error);

} // namespace standin
