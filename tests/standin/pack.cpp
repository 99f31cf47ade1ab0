// The stand-in's pack reader: a ZIP archive's entries, inflated, and its JSON string table.
#include "tests/standin/pack.h"

#include <array>
#include <cstring>

namespace standin {

namespace {

using binary::ErrorCode;
using binary::Load16;
using binary::Load32;

constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::size_t kMaxComment = 0xFFFF;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kEncrypted = 0x0001;

// End of central directory record.
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kEndCount = 10; // entries in total
constexpr std::size_t kEndDirectorySize = 12;
constexpr std::size_t kEndDirectoryOffset = 16;
constexpr std::size_t kEndCommentLength = 20;
// Central directory entry.
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kCentralFlags = 8;
constexpr std::size_t kCentralMethod = 10;
constexpr std::size_t kCentralCrc = 16;
constexpr std::size_t kCentralCompressedSize = 20;
constexpr std::size_t kCentralSizeField = 24;
constexpr std::size_t kCentralNameLength = 28;
constexpr std::size_t kCentralExtraLength = 30;
constexpr std::size_t kCentralCommentLength = 32;
constexpr std::size_t kCentralLocalHeader = 42;
// Local header.
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kLocalNameLength = 26;
constexpr std::size_t kLocalExtraLength = 28;

// Deflate's bit stream: least significant bit first.
class BitReader {
public:
    explicit BitReader(const binary::Reader& d) : d_(d) {}
    bool Bits(int n, std::uint32_t& value) {
        value = 0;
        for (int i = 0; i < n; ++i) {
            std::uint8_t byte = 0;
            if (!d_.U8(pos_, byte)) {
                return false;
            }
            value |= static_cast<std::uint32_t>((byte >> bit_) & 1) << i;
            if (++bit_ == 8) {
                bit_ = 0;
                ++pos_;
            }
        }
        return true;
    }
    void AlignToByte() {
        if (bit_) {
            bit_ = 0;
            ++pos_;
        }
    }
    bool Bytes(std::size_t n, std::vector<std::uint8_t>& out) {
        const std::uint8_t* p = d_.At(pos_, n);
        if (!p) {
            return false;
        }
        out.insert(out.end(), p, p + n);
        pos_ += n;
        return true;
    }
    // A fault at the byte being read.
    binary::Error Fault(std::string message) const {
        return d_.Fault(ErrorCode::Malformed, std::move(message), pos_, 1);
    }

private:
    binary::Reader d_;
    std::size_t pos_ = 0;
    int bit_ = 0;
};

constexpr int kMaxBits = 15;

// A canonical Huffman code: the number of codes of each length and the symbols in code order.
struct Huffman {
    std::array<std::uint16_t, kMaxBits + 1> counts{};
    std::vector<std::uint16_t> symbols;

    // False for lengths that over-subscribe the code.
    bool Build(const std::uint8_t* lengths, std::size_t n) {
        counts.fill(0);
        for (std::size_t i = 0; i < n; ++i) {
            ++counts[lengths[i]];
        }
        counts[0] = 0;
        int left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left = left * 2 - counts[len];
            if (left < 0) {
                return false;
            }
        }
        std::array<std::uint16_t, kMaxBits + 2> next{};
        for (int len = 1; len <= kMaxBits; ++len) {
            next[len + 1] = static_cast<std::uint16_t>(next[len] + counts[len]);
        }
        symbols.assign(n, 0);
        for (std::size_t i = 0; i < n; ++i) {
            if (lengths[i]) {
                symbols[next[lengths[i]]++] = static_cast<std::uint16_t>(i);
            }
        }
        return true;
    }

    // Reads one symbol: codes of each length are consecutive numbers after the shorter ones.
    bool Decode(BitReader& in, int& symbol) const {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            std::uint32_t bit = 0;
            if (!in.Bits(1, bit)) {
                return false;
            }
            code |= static_cast<int>(bit);
            const int count = counts[len];
            if (code - first < count) {
                symbol = symbols[static_cast<std::size_t>(index + code - first)];
                return true;
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return false; // no code of this bit pattern
    }
};

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                           15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block gives the code lengths of the code-length code.
constexpr std::uint8_t kLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

binary::Status Codes(BitReader& in, const Huffman& lit, const Huffman& dist, std::size_t maxSize,
                     std::vector<std::uint8_t>& out) {
    for (;;) {
        int symbol = 0;
        if (!lit.Decode(in, symbol)) {
            return in.Fault("bad literal/length code");
        }
        if (symbol < 256) {
            if (out.size() >= maxSize) {
                return in.Fault("more data than announced");
            }
            out.push_back(static_cast<std::uint8_t>(symbol));
            continue;
        }
        if (symbol == 256) {
            return binary::Ok();
        }
        symbol -= 257;
        if (symbol >= 29) {
            return in.Fault("bad length symbol");
        }
        std::uint32_t extra = 0;
        if (!in.Bits(kLengthExtra[symbol], extra)) {
            return in.Fault("data ends inside a length");
        }
        const std::size_t length = kLengthBase[symbol] + extra;
        int d = 0;
        if (!dist.Decode(in, d) || d >= 30) {
            return in.Fault("bad distance code");
        }
        if (!in.Bits(kDistExtra[d], extra)) {
            return in.Fault("data ends inside a distance");
        }
        const std::size_t distance = kDistBase[d] + extra;
        if (distance > out.size()) {
            return in.Fault("distance reaches before the start");
        }
        if (length > maxSize - out.size()) {
            return in.Fault("more data than announced");
        }
        for (std::size_t i = 0; i < length; ++i) {
            out.push_back(out[out.size() - distance]);
        }
    }
}

bool FixedCodes(Huffman& lit, Huffman& dist) {
    std::uint8_t lengths[288];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    std::uint8_t d[30];
    std::memset(d, 5, 30);
    return lit.Build(lengths, 288) && dist.Build(d, 30);
}

// The code lengths of a dynamic block, run-length coded with the code-length code.
binary::Status CodeLengths(BitReader& in, const Huffman& lencode, std::uint32_t count,
                           std::uint8_t* lengths) {
    for (std::uint32_t i = 0; i < count;) {
        int symbol = 0;
        if (!lencode.Decode(in, symbol)) {
            return in.Fault("bad code length");
        }
        if (symbol < 16) {
            lengths[i++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        std::uint8_t value = 0;
        std::uint32_t repeat = 0;
        if (symbol == 16) {
            if (i == 0) {
                return in.Fault("a repeat with nothing before it");
            }
            value = lengths[i - 1];
            if (!in.Bits(2, repeat)) {
                return in.Fault("bad block");
            }
            repeat += 3;
        } else if (symbol == 17) {
            if (!in.Bits(3, repeat)) {
                return in.Fault("bad block");
            }
            repeat += 3;
        } else {
            if (!in.Bits(7, repeat)) {
                return in.Fault("bad block");
            }
            repeat += 11;
        }
        if (i + repeat > count) {
            return in.Fault("code lengths run past their count");
        }
        while (repeat--) {
            lengths[i++] = value;
        }
    }
    return binary::Ok();
}

binary::Status DynamicCodes(BitReader& in, Huffman& lit, Huffman& dist) {
    std::uint32_t hlit = 0, hdist = 0, hclen = 0;
    if (!in.Bits(5, hlit) || !in.Bits(5, hdist) || !in.Bits(4, hclen)) {
        return in.Fault("data ends in a block header");
    }
    hlit += 257;
    hdist += 1;
    hclen += 4;
    if (hlit > 286 || hdist > 30) {
        return in.Fault("too many codes");
    }
    std::uint8_t lengths[320] = {};
    for (std::uint32_t i = 0; i < hclen; ++i) {
        std::uint32_t v = 0;
        if (!in.Bits(3, v)) {
            return in.Fault("data ends in a block header");
        }
        lengths[kLengthOrder[i]] = static_cast<std::uint8_t>(v);
    }
    Huffman lencode;
    if (!lencode.Build(lengths, 19)) {
        return in.Fault("bad code-length code");
    }
    std::memset(lengths, 0, sizeof lengths);
    binary::Status read = CodeLengths(in, lencode, hlit + hdist, lengths);
    if (!read) {
        return read;
    }
    if (lengths[256] == 0) {
        return in.Fault("no end-of-block code");
    }
    if (!lit.Build(lengths, hlit) || !dist.Build(lengths + hlit, hdist)) {
        return in.Fault("bad literal or distance code");
    }
    return binary::Ok();
}

// A stored block: its length, the length's complement, the bytes.
binary::Status StoredBlock(BitReader& in, std::size_t maxSize, std::vector<std::uint8_t>& out) {
    in.AlignToByte();
    std::vector<std::uint8_t> header;
    if (!in.Bytes(4, header) ||
        (header[0] | header[1] << 8) != (~(header[2] | header[3] << 8) & 0xFFFF)) {
        return in.Fault("bad stored block");
    }
    const std::size_t n = static_cast<std::size_t>(header[0] | header[1] << 8);
    if (n > maxSize - out.size() || !in.Bytes(n, out)) {
        return in.Fault("bad stored block");
    }
    return binary::Ok();
}

} // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> data) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::uint8_t b : data) {
        c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

binary::Expected<std::vector<std::uint8_t>> Inflate(std::span<const std::uint8_t> data,
                                                    std::size_t maxSize) {
    return Inflate(binary::Reader(data), maxSize);
}

binary::Expected<std::vector<std::uint8_t>> Inflate(const binary::Reader& data,
                                                    std::size_t maxSize) {
    std::vector<std::uint8_t> out;
    BitReader in(data);
    for (;;) {
        std::uint32_t last = 0, type = 0;
        if (!in.Bits(1, last) || !in.Bits(2, type)) {
            return in.Fault("data ends before the last block");
        }
        binary::Status block = binary::Ok();
        if (type == 0) {
            block = StoredBlock(in, maxSize, out);
        } else if (type == 1 || type == 2) {
            Huffman lit, dist;
            if (type == 1 && !FixedCodes(lit, dist)) {
                block = in.Fault("bad block");
            } else if (type == 2) {
                block = DynamicCodes(in, lit, dist);
            }
            if (block) {
                block = Codes(in, lit, dist, maxSize, out);
            }
        } else {
            block = in.Fault("reserved block type");
        }
        if (!block) {
            return block.TakeError();
        }
        if (last) {
            return out;
        }
    }
}

binary::Expected<std::vector<ZipEntry>> ReadZipDirectory(std::span<const std::uint8_t> bytes) {
    const binary::Reader zip(bytes);
    if (zip.Size() < kEndSize) {
        return zip.Fault(ErrorCode::Truncated, "too short for a ZIP archive", 0, zip.Size());
    }
    // The end record, allowing for an archive comment after it.
    std::size_t end = zip.Size() - kEndSize;
    for (;;) {
        const std::uint8_t* record = zip.At(end, kEndSize);
        if (Load32(record) == kEndSignature &&
            Load16(record + kEndCommentLength) == zip.Size() - end - kEndSize) {
            break;
        }
        if (end == 0 || zip.Size() - end - kEndSize >= kMaxComment) {
            return zip.Fault(ErrorCode::BadSignature, "no end-of-central-directory record", end,
                             kEndSize);
        }
        --end;
    }
    const std::uint8_t* record = zip.At(end, kEndSize);
    const std::uint16_t count = Load16(record + kEndCount);
    const std::uint32_t size = Load32(record + kEndDirectorySize);
    std::size_t pos = Load32(record + kEndDirectoryOffset);
    if (!zip.Has(pos, size) || pos + size > end) {
        return zip.Fault(ErrorCode::Truncated, "the central directory lies outside the archive",
                         pos, size);
    }
    std::vector<ZipEntry> entries;
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint8_t* h = zip.At(pos, kCentralSize);
        if (!h || Load32(h) != kCentralSignature) {
            return zip.Fault(ErrorCode::Malformed, "bad central directory entry", pos,
                             kCentralSize);
        }
        ZipEntry e;
        const std::uint16_t flags = Load16(h + kCentralFlags);
        e.method = Load16(h + kCentralMethod);
        e.crc = Load32(h + kCentralCrc);
        e.compressedSize = Load32(h + kCentralCompressedSize);
        e.size = Load32(h + kCentralSizeField);
        const std::size_t nameLen = Load16(h + kCentralNameLength),
                          extraLen = Load16(h + kCentralExtraLength),
                          commentLen = Load16(h + kCentralCommentLength);
        e.localHeader = Load32(h + kCentralLocalHeader);
        const std::uint8_t* name = zip.At(pos + kCentralSize, nameLen + extraLen + commentLen);
        if (!name) {
            return zip.Fault(ErrorCode::Truncated, "bad central directory entry", pos,
                             kCentralSize + nameLen + extraLen + commentLen);
        }
        e.name.assign(reinterpret_cast<const char*>(name), nameLen);
        if (flags & kEncrypted) {
            return zip.Fault(ErrorCode::Unsupported, "encrypted entry " + e.name, pos,
                             kCentralSize);
        }
        entries.push_back(std::move(e));
        pos += kCentralSize + nameLen + extraLen + commentLen;
    }
    return entries;
}

binary::Expected<std::vector<std::uint8_t>> ReadZipEntry(std::span<const std::uint8_t> bytes,
                                                         const ZipEntry& entry) {
    const binary::Reader zip(bytes);
    const std::size_t at = entry.localHeader;
    const std::uint8_t* local = zip.At(at, kLocalSize);
    if (!local || Load32(local) != kLocalSignature) {
        return zip.Fault(ErrorCode::Malformed, "bad local header of " + entry.name, at, kLocalSize);
    }
    const std::size_t data =
        at + kLocalSize + Load16(local + kLocalNameLength) + Load16(local + kLocalExtraLength);
    const binary::Reader compressed = zip.Sub(data, entry.compressedSize);
    if (!zip.Has(data, entry.compressedSize)) {
        return zip.Fault(ErrorCode::Truncated,
                         "the data of " + entry.name + " lies outside the archive", data,
                         entry.compressedSize);
    }
    std::vector<std::uint8_t> out;
    if (entry.method == kStored) {
        if (entry.compressedSize != entry.size) {
            return zip.Fault(ErrorCode::Malformed, "bad stored entry " + entry.name, at,
                             kLocalSize);
        }
        out.assign(compressed.Data(), compressed.Data() + compressed.Size());
    } else if (entry.method == kDeflated) {
        binary::Expected<std::vector<std::uint8_t>> inflated = Inflate(compressed, entry.size);
        if (!inflated) {
            binary::Error e = inflated.TakeError();
            e.message = entry.name + ": " + e.message;
            return e;
        }
        out = std::move(*inflated);
        if (out.size() != entry.size) {
            return zip.Fault(ErrorCode::Malformed, entry.name + ": less data than announced", data,
                             entry.compressedSize);
        }
    } else {
        return zip.Fault(ErrorCode::Unsupported, "unsupported compression method of " + entry.name,
                         at, kLocalSize);
    }
    if (Crc32(out) != entry.crc) {
        return zip.Fault(ErrorCode::Malformed, "CRC mismatch in " + entry.name, data,
                         entry.compressedSize);
    }
    return out;
}

namespace {

// JSON text through the reader's cursor; every fault names the byte where it was found.
class JsonReader {
public:
    explicit JsonReader(std::span<const std::uint8_t> d) : r_(d) {}

    void Space() {
        std::uint8_t c = 0;
        while (r_.U8(r_.Offset(), c) && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
            r_.Seek(r_.Offset() + 1);
        }
    }
    bool Take(char c) {
        Space();
        std::uint8_t next = 0;
        if (r_.U8(r_.Offset(), next) && next == static_cast<std::uint8_t>(c)) {
            r_.Seek(r_.Offset() + 1);
            return true;
        }
        return false;
    }
    bool AtEnd() {
        Space();
        return r_.Remaining() == 0;
    }
    bool Hex4(std::uint32_t& v) {
        std::span<const std::uint8_t> digits;
        if (!r_.ReadBytes(4, digits)) {
            return false;
        }
        v = 0;
        for (const std::uint8_t c : digits) {
            v <<= 4;
            if (c >= '0' && c <= '9') {
                v |= c - '0';
            } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
                v |= (c | 0x20) - 'a' + 10;
            } else {
                return false;
            }
        }
        return true;
    }
    binary::Error Fault(std::string message) const {
        return r_.Fault(ErrorCode::Malformed, std::move(message), r_.Offset(), 1);
    }

    // A string as UTF-16; the UTF-8 is decoded strictly.
    binary::Expected<std::u16string> String() {
        std::u16string out;
        if (!Take('"')) {
            return Fault("a string was expected");
        }
        std::uint8_t byte = 0;
        while (r_.Read8(byte)) {
            std::uint32_t c = byte;
            if (c == '"') {
                return out;
            }
            if (c < 0x20) {
                break;
            }
            binary::Status added = c == '\\' ? Escape(out) : Character(c, out);
            if (!added) {
                return added.TakeError();
            }
        }
        return Fault("unterminated string");
    }

private:
    // The escape after a backslash.
    binary::Status Escape(std::u16string& out) {
        std::uint8_t e = 0;
        if (!r_.Read8(e)) {
            return Fault("unterminated string");
        }
        std::uint32_t c = 0;
        switch (e) {
        case '"':
        case '\\':
        case '/':
            out += static_cast<char16_t>(e);
            break;
        case 'b':
            out += u'\b';
            break;
        case 'f':
            out += u'\f';
            break;
        case 'n':
            out += u'\n';
            break;
        case 'r':
            out += u'\r';
            break;
        case 't':
            out += u'\t';
            break;
        case 'u':
            if (!Hex4(c)) {
                return Fault("bad \\u escape");
            }
            out += static_cast<char16_t>(c);
            break;
        default:
            return Fault("bad escape");
        }
        return binary::Ok();
    }

    // One UTF-8 character whose first byte is c.
    binary::Status Character(std::uint32_t c, std::u16string& out) {
        int more = 0;
        if (c >= 0xF0 && c < 0xF5) {
            more = 3, c &= 0x07;
        } else if (c >= 0xE0) {
            more = 2, c &= 0x0F;
        } else if (c >= 0xC2 && c < 0xE0) {
            more = 1, c &= 0x1F;
        } else if (c >= 0x80) {
            return Fault("bad UTF-8");
        }
        for (int i = 0; i < more; ++i) {
            std::uint8_t next = 0;
            if (!r_.U8(r_.Offset(), next) || (next & 0xC0) != 0x80) {
                return Fault("bad UTF-8");
            }
            r_.Seek(r_.Offset() + 1);
            c = c << 6 | (next & 0x3F);
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        return binary::Ok();
    }

    binary::Reader r_;
};

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

binary::Expected<StringTable> ParseStringTable(std::span<const std::uint8_t> json) {
    if (json.size() >= 3 && json[0] == 0xEF && json[1] == 0xBB && json[2] == 0xBF) {
        json = json.subspan(3); // a byte-order mark
    }
    JsonReader in(json);
    if (!in.Take('{')) {
        return in.Fault("the string table is not a JSON object");
    }
    StringTable table;
    if (!in.Take('}')) {
        for (;;) {
            binary::Expected<std::u16string> key = in.String();
            if (!key) {
                return key.TakeError();
            }
            if (!in.Take(':')) {
                return in.Fault("a key and a text were expected");
            }
            binary::Expected<std::u16string> value = in.String();
            if (!value) {
                return value.TakeError();
            }
            table[Narrow(*key)] = std::move(*value);
            if (in.Take(',')) {
                continue;
            }
            if (in.Take('}')) {
                break;
            }
            return in.Fault("a ',' or '}' was expected");
        }
    }
    if (!in.AtEnd()) {
        return in.Fault("data after the string table");
    }
    return table;
}

} // namespace standin
