#include "tests/standin/pack.h"

#include <array>
#include <cstring>

namespace standin {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kMaxComment = 0xFFFF;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kEncrypted = 0x0001;

bool Has(std::span<const std::uint8_t> d, std::size_t at, std::size_t n) {
    return at <= d.size() && n <= d.size() - at;
}
std::uint16_t Get16(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint16_t>(d[at] | d[at + 1] << 8);
}
std::uint32_t Get32(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) | static_cast<std::uint32_t>(d[at + 1]) << 8 |
           static_cast<std::uint32_t>(d[at + 2]) << 16 |
           static_cast<std::uint32_t>(d[at + 3]) << 24;
}

// Deflate's bit stream: least significant bit first.
class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> d) : d_(d) {}
    bool Bits(int n, std::uint32_t& value) {
        value = 0;
        for (int i = 0; i < n; ++i) {
            if (pos_ >= d_.size()) {
                return false;
            }
            value |= static_cast<std::uint32_t>((d_[pos_] >> bit_) & 1) << i;
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
        if (!Has(d_, pos_, n)) {
            return false;
        }
        out.insert(out.end(), d_.begin() + static_cast<std::ptrdiff_t>(pos_),
                   d_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return true;
    }

private:
    std::span<const std::uint8_t> d_;
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

bool Codes(BitReader& in, const Huffman& lit, const Huffman& dist, std::size_t maxSize,
           std::vector<std::uint8_t>& out, std::string& error) {
    for (;;) {
        int symbol = 0;
        if (!lit.Decode(in, symbol)) {
            error = "bad literal/length code";
            return false;
        }
        if (symbol < 256) {
            if (out.size() >= maxSize) {
                error = "more data than announced";
                return false;
            }
            out.push_back(static_cast<std::uint8_t>(symbol));
            continue;
        }
        if (symbol == 256) {
            return true;
        }
        symbol -= 257;
        if (symbol >= 29) {
            error = "bad length symbol";
            return false;
        }
        std::uint32_t extra = 0;
        if (!in.Bits(kLengthExtra[symbol], extra)) {
            error = "data ends inside a length";
            return false;
        }
        const std::size_t length = kLengthBase[symbol] + extra;
        int d = 0;
        if (!dist.Decode(in, d) || d >= 30) {
            error = "bad distance code";
            return false;
        }
        if (!in.Bits(kDistExtra[d], extra)) {
            error = "data ends inside a distance";
            return false;
        }
        const std::size_t distance = kDistBase[d] + extra;
        if (distance > out.size()) {
            error = "distance reaches before the start";
            return false;
        }
        if (length > maxSize - out.size()) {
            error = "more data than announced";
            return false;
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

bool DynamicCodes(BitReader& in, Huffman& lit, Huffman& dist, std::string& error) {
    std::uint32_t hlit = 0, hdist = 0, hclen = 0;
    if (!in.Bits(5, hlit) || !in.Bits(5, hdist) || !in.Bits(4, hclen)) {
        error = "data ends in a block header";
        return false;
    }
    hlit += 257;
    hdist += 1;
    hclen += 4;
    if (hlit > 286 || hdist > 30) {
        error = "too many codes";
        return false;
    }
    std::uint8_t lengths[320] = {};
    for (std::uint32_t i = 0; i < hclen; ++i) {
        std::uint32_t v = 0;
        if (!in.Bits(3, v)) {
            error = "data ends in a block header";
            return false;
        }
        lengths[kLengthOrder[i]] = static_cast<std::uint8_t>(v);
    }
    Huffman lencode;
    if (!lencode.Build(lengths, 19)) {
        error = "bad code-length code";
        return false;
    }
    std::memset(lengths, 0, sizeof lengths);
    for (std::uint32_t i = 0; i < hlit + hdist;) {
        int symbol = 0;
        if (!lencode.Decode(in, symbol)) {
            error = "bad code length";
            return false;
        }
        if (symbol < 16) {
            lengths[i++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        std::uint8_t value = 0;
        std::uint32_t repeat = 0;
        if (symbol == 16) {
            if (i == 0) {
                error = "a repeat with nothing before it";
                return false;
            }
            value = lengths[i - 1];
            if (!in.Bits(2, repeat)) {
                return false;
            }
            repeat += 3;
        } else if (symbol == 17) {
            if (!in.Bits(3, repeat)) {
                return false;
            }
            repeat += 3;
        } else {
            if (!in.Bits(7, repeat)) {
                return false;
            }
            repeat += 11;
        }
        if (i + repeat > hlit + hdist) {
            error = "code lengths run past their count";
            return false;
        }
        while (repeat--) {
            lengths[i++] = value;
        }
    }
    if (lengths[256] == 0) {
        error = "no end-of-block code";
        return false;
    }
    if (!lit.Build(lengths, hlit) || !dist.Build(lengths + hlit, hdist)) {
        error = "bad literal or distance code";
        return false;
    }
    return true;
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

bool Inflate(std::span<const std::uint8_t> data, std::size_t maxSize,
             std::vector<std::uint8_t>& out, std::string& error) {
    out.clear();
    BitReader in(data);
    for (;;) {
        std::uint32_t last = 0, type = 0;
        if (!in.Bits(1, last) || !in.Bits(2, type)) {
            error = "data ends before the last block";
            return false;
        }
        if (type == 0) {
            in.AlignToByte();
            std::vector<std::uint8_t> header;
            if (!in.Bytes(4, header) ||
                (header[0] | header[1] << 8) != (~(header[2] | header[3] << 8) & 0xFFFF)) {
                error = "bad stored block";
                return false;
            }
            const std::size_t n = static_cast<std::size_t>(header[0] | header[1] << 8);
            if (n > maxSize - out.size() || !in.Bytes(n, out)) {
                error = "bad stored block";
                return false;
            }
        } else if (type == 1 || type == 2) {
            Huffman lit, dist;
            if (type == 1 ? !FixedCodes(lit, dist) : !DynamicCodes(in, lit, dist, error)) {
                if (error.empty()) {
                    error = "bad block";
                }
                return false;
            }
            if (!Codes(in, lit, dist, maxSize, out, error)) {
                return false;
            }
        } else {
            error = "reserved block type";
            return false;
        }
        if (last) {
            return true;
        }
    }
}

bool ReadZipDirectory(std::span<const std::uint8_t> zip, std::vector<ZipEntry>& entries,
                      std::string& error) {
    entries.clear();
    if (zip.size() < kEndSize) {
        error = "too short for a ZIP archive";
        return false;
    }
    // The end record, allowing for an archive comment after it.
    std::size_t end = zip.size() - kEndSize;
    for (;;) {
        if (Get32(zip, end) == kEndSignature &&
            Get16(zip, end + 20) == zip.size() - end - kEndSize) {
            break;
        }
        if (end == 0 || zip.size() - end - kEndSize >= kMaxComment) {
            error = "no end-of-central-directory record";
            return false;
        }
        --end;
    }
    const std::uint16_t count = Get16(zip, end + 10);
    const std::uint32_t size = Get32(zip, end + 12);
    std::size_t pos = Get32(zip, end + 16);
    if (!Has(zip, pos, size) || pos + size > end) {
        error = "the central directory lies outside the archive";
        return false;
    }
    for (std::uint16_t i = 0; i < count; ++i) {
        if (!Has(zip, pos, kCentralSize) || Get32(zip, pos) != kCentralSignature) {
            error = "bad central directory entry";
            return false;
        }
        ZipEntry e;
        const std::uint16_t flags = Get16(zip, pos + 8);
        e.method = Get16(zip, pos + 10);
        e.crc = Get32(zip, pos + 16);
        e.compressedSize = Get32(zip, pos + 20);
        e.size = Get32(zip, pos + 24);
        const std::size_t nameLen = Get16(zip, pos + 28), extraLen = Get16(zip, pos + 30),
                          commentLen = Get16(zip, pos + 32);
        e.localHeader = Get32(zip, pos + 42);
        if (!Has(zip, pos + kCentralSize, nameLen + extraLen + commentLen)) {
            error = "bad central directory entry";
            return false;
        }
        e.name.assign(reinterpret_cast<const char*>(zip.data() + pos + kCentralSize), nameLen);
        if (flags & kEncrypted) {
            error = "encrypted entry " + e.name;
            return false;
        }
        entries.push_back(std::move(e));
        pos += kCentralSize + nameLen + extraLen + commentLen;
    }
    return true;
}

bool ReadZipEntry(std::span<const std::uint8_t> zip, const ZipEntry& entry,
                  std::vector<std::uint8_t>& out, std::string& error) {
    const std::size_t at = entry.localHeader;
    if (!Has(zip, at, kLocalSize) || Get32(zip, at) != kLocalSignature) {
        error = "bad local header of " + entry.name;
        return false;
    }
    const std::size_t data = at + kLocalSize + Get16(zip, at + 26) + Get16(zip, at + 28);
    if (!Has(zip, data, entry.compressedSize)) {
        error = "the data of " + entry.name + " lies outside the archive";
        return false;
    }
    const auto bytes = zip.subspan(data, entry.compressedSize);
    if (entry.method == kStored) {
        if (entry.compressedSize != entry.size) {
            error = "bad stored entry " + entry.name;
            return false;
        }
        out.assign(bytes.begin(), bytes.end());
    } else if (entry.method == kDeflated) {
        if (!Inflate(bytes, entry.size, out, error)) {
            error = entry.name + ": " + error;
            return false;
        }
        if (out.size() != entry.size) {
            error = entry.name + ": less data than announced";
            return false;
        }
    } else {
        error = "unsupported compression method of " + entry.name;
        return false;
    }
    if (Crc32(out) != entry.crc) {
        error = "CRC mismatch in " + entry.name;
        return false;
    }
    return true;
}

namespace {

class JsonReader {
public:
    explicit JsonReader(std::span<const std::uint8_t> d) : d_(d) {}
    std::string error;

    void Space() {
        while (pos_ < d_.size() &&
               (d_[pos_] == ' ' || d_[pos_] == '\t' || d_[pos_] == '\r' || d_[pos_] == '\n')) {
            ++pos_;
        }
    }
    bool Take(char c) {
        Space();
        if (pos_ < d_.size() && d_[pos_] == static_cast<std::uint8_t>(c)) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool AtEnd() {
        Space();
        return pos_ == d_.size();
    }
    bool Hex4(std::uint32_t& v) {
        if (!Has(d_, pos_, 4)) {
            return false;
        }
        v = 0;
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t c = d_[pos_++];
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
    // A string as UTF-16; the UTF-8 is decoded strictly.
    bool String(std::u16string& out) {
        out.clear();
        if (!Take('"')) {
            error = "a string was expected";
            return false;
        }
        while (pos_ < d_.size()) {
            std::uint32_t c = d_[pos_++];
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                break;
            }
            if (c == '\\') {
                if (pos_ >= d_.size()) {
                    break;
                }
                const std::uint8_t e = d_[pos_++];
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
                        error = "bad \\u escape";
                        return false;
                    }
                    out += static_cast<char16_t>(c);
                    break;
                default:
                    error = "bad escape";
                    return false;
                }
                continue;
            }
            int more = 0;
            if (c >= 0xF0 && c < 0xF5) {
                more = 3, c &= 0x07;
            } else if (c >= 0xE0) {
                more = 2, c &= 0x0F;
            } else if (c >= 0xC2 && c < 0xE0) {
                more = 1, c &= 0x1F;
            } else if (c >= 0x80) {
                error = "bad UTF-8";
                return false;
            }
            for (int i = 0; i < more; ++i) {
                if (pos_ >= d_.size() || (d_[pos_] & 0xC0) != 0x80) {
                    error = "bad UTF-8";
                    return false;
                }
                c = c << 6 | (d_[pos_++] & 0x3F);
            }
            if (c >= 0x10000) {
                c -= 0x10000;
                out += static_cast<char16_t>(0xD800 + (c >> 10));
                out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
            } else {
                out += static_cast<char16_t>(c);
            }
        }
        error = "unterminated string";
        return false;
    }

private:
    std::span<const std::uint8_t> d_;
    std::size_t pos_ = 0;
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

bool ParseStringTable(std::span<const std::uint8_t> json,
                      std::map<std::string, std::u16string>& table, std::string& error) {
    table.clear();
    if (json.size() >= 3 && json[0] == 0xEF && json[1] == 0xBB && json[2] == 0xBF) {
        json = json.subspan(3); // a byte-order mark
    }
    JsonReader in(json);
    if (!in.Take('{')) {
        error = "the string table is not a JSON object";
        return false;
    }
    if (!in.Take('}')) {
        for (;;) {
            std::u16string key, value;
            if (!in.String(key) || !in.Take(':') || !in.String(value)) {
                error = in.error.empty() ? "a key and a text were expected" : in.error;
                return false;
            }
            table[Narrow(key)] = std::move(value);
            if (in.Take(',')) {
                continue;
            }
            if (in.Take('}')) {
                break;
            }
            error = "a ',' or '}' was expected";
            return false;
        }
    }
    if (!in.AtEnd()) {
        error = "data after the string table";
        return false;
    }
    return true;
}

} // namespace standin
