// The packed skin data: its container, the BMP pictures in it and the skin's options.
#include "skin/skindata.h"

#include <charconv>
#include <cstring>

namespace skin {

namespace {

using binary::ErrorCode;
using binary::Load16;
using binary::Load32;

constexpr std::string_view kMagic = "ITRSKIN1";

// BITMAPFILEHEADER, then BITMAPINFOHEADER (or a later, longer header) at kInfoHeader.
constexpr std::uint16_t kBmpSignature = 0x4D42; // "BM"
constexpr std::uint32_t kBfOffBits = 10;
constexpr std::uint32_t kInfoHeader = 14;
constexpr std::uint32_t kBiSize = 0; // relative to the info header
constexpr std::uint32_t kBiWidth = 4;
constexpr std::uint32_t kBiHeight = 8;
constexpr std::uint32_t kBiBitCount = 14;
constexpr std::uint32_t kBiCompression = 16;
constexpr std::uint32_t kBiClrUsed = 32;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kMinInfoHeader = 40;
constexpr std::uint32_t kPaletteEntry = 4; // blue, green, red, unused
constexpr int kMaxDimension = 8192;

std::uint32_t Premultiply(std::uint32_t b, std::uint32_t g, std::uint32_t r, std::uint32_t a) {
    auto mul = [a](std::uint32_t c) { return (c * a + 127) / 255; };
    return (a << 24) | (mul(r) << 16) | (mul(g) << 8) | mul(b);
}

bool ParseInt(std::string_view text, int& out) {
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && p == text.data() + text.size();
}

bool ParseColor(std::string_view text, std::uint32_t& out) {
    if (text.size() != 6) {
        return false;
    }
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out, 16);
    return ec == std::errc() && p == text.data() + text.size();
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

} // namespace

binary::Expected<Entries> ParseContainer(std::span<const std::uint8_t> data) {
    binary::Reader r(data);
    std::span<const std::uint8_t> magic;
    if (!r.ReadBytes(kMagic.size(), magic) ||
        std::memcmp(magic.data(), kMagic.data(), kMagic.size()) != 0) {
        return r.Fault(ErrorCode::BadSignature, "skin data: no ITRSKIN1 signature", 0,
                       kMagic.size());
    }
    std::uint32_t count = 0;
    if (!r.Read32(count)) {
        return r.Fault(ErrorCode::Truncated, "skin data: truncated entry count", r.Offset(), 4);
    }
    Entries entries;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t nameAt = r.Offset();
        std::uint16_t nameLength = 0;
        std::span<const std::uint8_t> nameBytes;
        if (!r.Read16(nameLength) || !r.ReadBytes(nameLength, nameBytes)) {
            return r.Fault(ErrorCode::Truncated,
                           "skin data: entry " + std::to_string(i) + " has a truncated name",
                           nameAt, 2 + std::uint64_t{nameLength});
        }
        std::string name(reinterpret_cast<const char*>(nameBytes.data()), nameBytes.size());
        const std::uint64_t sizeAt = r.Offset();
        std::uint32_t size = 0;
        std::span<const std::uint8_t> bytes;
        if (!r.Read32(size) || !r.ReadBytes(size, bytes)) {
            return r.Fault(ErrorCode::Truncated,
                           "skin data: entry '" + name + "' runs past the end of the data", sizeAt,
                           4 + std::uint64_t{size});
        }
        entries[name] = r.Sub(sizeAt + 4, size);
    }
    return entries;
}

binary::Expected<Image> DecodeBmp(std::span<const std::uint8_t> file) {
    return DecodeBmp(binary::Reader(file));
}

binary::Expected<Image> DecodeBmp(const binary::Reader& r) {
    const std::uint8_t* info = r.At(0, kInfoHeader + kMinInfoHeader);
    if (!info || Load16(info) != kBmpSignature) {
        return r.Fault(ErrorCode::BadSignature, "not a BMP file", 0, 2);
    }
    const std::uint32_t pixelOffset = Load32(info + kBfOffBits);
    info += kInfoHeader;
    const std::uint32_t headerSize = Load32(info + kBiSize);
    const auto width = static_cast<std::int32_t>(Load32(info + kBiWidth));
    const auto rawHeight = static_cast<std::int32_t>(Load32(info + kBiHeight));
    const std::uint32_t bits = Load16(info + kBiBitCount);
    const std::uint32_t compression = Load32(info + kBiCompression);
    std::uint32_t colorsUsed = Load32(info + kBiClrUsed);
    if (headerSize < kMinInfoHeader || !r.Has(kInfoHeader, headerSize)) {
        return r.Fault(ErrorCode::Truncated, "BMP header is truncated", kInfoHeader, headerSize);
    }
    const bool topDown = rawHeight < 0;
    const std::int64_t height = topDown ? -static_cast<std::int64_t>(rawHeight) : rawHeight;
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) {
        return r.Fault(ErrorCode::Unsupported, "BMP size out of range", kInfoHeader + kBiWidth, 8);
    }
    if (!(bits == 8 || bits == 24 || bits == 32) ||
        !(compression == kBiRgb || (compression == kBiBitfields && bits == 32))) {
        return r.Fault(ErrorCode::Unsupported,
                       "BMP format not supported (only uncompressed 8, 24 and 32 bits)",
                       kInfoHeader + kBiBitCount, 6);
    }
    std::vector<std::uint32_t> palette;
    if (bits == 8) {
        if (colorsUsed == 0 || colorsUsed > 256) {
            colorsUsed = 256;
        }
        const std::uint64_t paletteStart = kInfoHeader + std::uint64_t{headerSize};
        const std::uint8_t* entries = r.At(paletteStart, std::uint64_t{colorsUsed} * kPaletteEntry);
        if (!entries) {
            return r.Fault(ErrorCode::Truncated, "BMP palette is truncated", paletteStart,
                           std::uint64_t{colorsUsed} * kPaletteEntry);
        }
        for (std::uint32_t i = 0; i < colorsUsed; ++i) {
            palette.push_back(0xFF000000u | (Load32(entries + kPaletteEntry * i) & 0xFFFFFF));
        }
    }
    const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    const size_t h = static_cast<size_t>(height);
    if (pixelOffset > r.Size() || (r.Size() - pixelOffset) / stride < h) {
        return r.Fault(ErrorCode::Truncated, "BMP pixel data is truncated", pixelOffset,
                       std::uint64_t{stride} * h);
    }
    Image image;
    image.width = width;
    image.height = static_cast<int>(height);
    image.pixels.resize(static_cast<size_t>(width) * h);
    for (size_t y = 0; y < h; ++y) {
        const size_t srcRow = topDown ? y : h - 1 - y;
        const std::uint8_t* row = r.At(pixelOffset + srcRow * stride, stride);
        for (size_t x = 0; x < static_cast<size_t>(width); ++x) {
            std::uint32_t px = 0;
            if (bits == 8) {
                const std::uint8_t index = row[x];
                px = index < palette.size() ? palette[index] : 0xFF000000u;
            } else if (bits == 24) {
                px = Premultiply(row[3 * x], row[3 * x + 1], row[3 * x + 2], 255);
            } else {
                px = Premultiply(row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]);
            }
            image.pixels[y * static_cast<size_t>(width) + x] = px;
        }
    }
    return image;
}

IniSections ParseIni(std::string_view text) {
    IniSections sections;
    std::string current;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            current = std::string(Trim(line.substr(1, line.size() - 2)));
            sections[current];
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        std::string_view value = Trim(line.substr(eq + 1));
        if (size_t comment = value.find(';'); comment != std::string_view::npos) {
            value = Trim(value.substr(0, comment));
        }
        sections[current][std::string(Trim(line.substr(0, eq)))] = std::string(value);
    }
    return sections;
}

binary::Expected<FormOptions> ReadFormOptions(const IniSections& ini) {
    FormOptions o;
    if (auto skinSection = ini.find("Skin"); skinSection != ini.end()) {
        if (auto name = skinSection->second.find("Name"); name != skinSection->second.end()) {
            o.skinName = name->second;
        }
    }
    auto form = ini.find("FORM");
    if (form == ini.end()) {
        return binary::Fault(ErrorCode::NotFound, "skin options have no [FORM] section");
    }
    const auto& keys = form->second;
    struct IntKey {
        const char* name;
        int* field;
        int min, max;
    } ints[] = {
        {"CaptionHeight", &o.captionHeight, 8, 200},
        {"BorderWidth", &o.borderWidth, 0, 64},
        {"CaptionFontHeight", &o.captionFontHeight, 6, 100},
        {"CaptionSliceLeft", &o.captionSliceLeft, 0, 4096},
        {"CaptionSliceRight", &o.captionSliceRight, 0, 4096},
        {"ButtonSize", &o.buttonSize, 1, 200},
        {"ButtonSpacing", &o.buttonSpacing, 0, 100},
        {"ButtonMargin", &o.buttonMargin, 0, 200},
    };
    for (const IntKey& k : ints) {
        auto it = keys.find(k.name);
        if (it == keys.end()) {
            continue;
        }
        int v = 0;
        if (!ParseInt(it->second, v) || v < k.min || v > k.max) {
            return binary::Fault(ErrorCode::InvalidArgument, std::string("skin option ") + k.name +
                                                                 " has a bad value '" + it->second +
                                                                 "'");
        }
        *k.field = v;
    }
    struct ColorKey {
        const char* name;
        std::uint32_t* field;
    } colors[] = {
        {"ClientColor", &o.clientColor},
        {"FrameOuterColor", &o.frameOuterColor},
        {"FrameInnerColor", &o.frameInnerColor},
        {"CaptionTextColor", &o.captionTextColor},
        {"CaptionShadowColor", &o.captionShadowColor},
    };
    for (const ColorKey& k : colors) {
        auto it = keys.find(k.name);
        if (it != keys.end() && !ParseColor(it->second, *k.field)) {
            return binary::Fault(ErrorCode::InvalidArgument,
                                 std::string("skin option ") + k.name + " is not an RRGGBB colour");
        }
    }
    if (auto it = keys.find("CaptionFont"); it != keys.end() && !it->second.empty()) {
        o.captionFont = it->second;
    }
    if (auto it = keys.find("CaptionFontBold"); it != keys.end()) {
        o.captionFontBold = it->second == "1";
    }
    return o;
}

binary::Expected<SkinData> LoadSkin(std::span<const std::uint8_t> packed) {
    binary::Expected<Entries> entries = ParseContainer(packed);
    if (!entries) {
        return entries.TakeError();
    }
    const binary::Reader* parts[3] = {};
    const char* const names[3] = {"options.ini", "caption.bmp", "buttons.bmp"};
    for (int i = 0; i < 3; ++i) {
        auto it = entries->find(names[i]);
        if (it == entries->end()) {
            return binary::Fault(ErrorCode::NotFound,
                                 std::string("skin data has no entry ") + names[i]);
        }
        parts[i] = &it->second;
    }
    const binary::Reader& ini = *parts[0];
    SkinData skin;
    binary::Expected<FormOptions> options = ReadFormOptions(
        ParseIni(std::string_view(reinterpret_cast<const char*>(ini.Data()), ini.Size())));
    if (!options) {
        return options.TakeError();
    }
    skin.options = *options;
    binary::Expected<Image> captionImage = DecodeBmp(*parts[1]);
    if (!captionImage) {
        return captionImage.TakeError();
    }
    binary::Expected<Image> buttonImage = DecodeBmp(*parts[2]);
    if (!buttonImage) {
        return buttonImage.TakeError();
    }
    if (buttonImage->width != kButtonStates * skin.options.buttonSize ||
        buttonImage->height != kButtonKinds * skin.options.buttonSize) {
        return binary::Fault(ErrorCode::Malformed,
                             "buttons.bmp does not hold 3 x 2 buttons of ButtonSize");
    }
    if (skin.options.captionSliceLeft + skin.options.captionSliceRight > captionImage->width) {
        return binary::Fault(ErrorCode::Malformed, "caption slices are wider than caption.bmp");
    }
    skin.caption = std::move(*captionImage);
    skin.buttons = std::move(*buttonImage);
    return skin;
}

} // namespace skin
