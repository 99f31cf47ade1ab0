#include "skin/skindata.h"

#include <charconv>
#include <cstring>

namespace skin {

namespace {

constexpr std::string_view kMagic = "ITRSKIN1";
constexpr std::uint16_t kBmpSignature = 0x4D42; // "BM"
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kMinInfoHeader = 40;
constexpr int kMaxDimension = 8192;

bool Fail(Error* error, std::string message) {
    if (error) {
        error->message = std::move(message);
    }
    return false;
}

// Little-endian reads through one bounds-checked cursor.
struct Reader {
    std::span<const std::uint8_t> data;
    size_t pos = 0;

    bool Has(size_t n) const { return pos <= data.size() && n <= data.size() - pos; }
    std::uint32_t U(size_t offset, int bytes) const {
        std::uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) {
            v = (v << 8) | data[offset + static_cast<size_t>(i)];
        }
        return v;
    }
    bool Read(int bytes, std::uint32_t& out) {
        if (!Has(static_cast<size_t>(bytes))) {
            return false;
        }
        out = U(pos, bytes);
        pos += static_cast<size_t>(bytes);
        return true;
    }
};

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

std::optional<Entries> ParseContainer(std::span<const std::uint8_t> data, Error* error) {
    if (data.size() < kMagic.size() ||
        std::memcmp(data.data(), kMagic.data(), kMagic.size()) != 0) {
        Fail(error, "skin data: no ITRSKIN1 signature");
        return std::nullopt;
    }
    Reader r{data, kMagic.size()};
    std::uint32_t count = 0;
    if (!r.Read(4, count)) {
        Fail(error, "skin data: truncated entry count");
        return std::nullopt;
    }
    Entries entries;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t nameLength = 0, size = 0;
        if (!r.Read(2, nameLength) || !r.Has(nameLength)) {
            Fail(error, "skin data: entry " + std::to_string(i) + " has a truncated name");
            return std::nullopt;
        }
        std::string name(reinterpret_cast<const char*>(data.data() + r.pos), nameLength);
        r.pos += nameLength;
        if (!r.Read(4, size) || !r.Has(size)) {
            Fail(error, "skin data: entry '" + name + "' runs past the end of the data");
            return std::nullopt;
        }
        entries[name] = data.subspan(r.pos, size);
        r.pos += size;
    }
    return entries;
}

std::optional<Image> DecodeBmp(std::span<const std::uint8_t> file, Error* error) {
    Reader r{file, 0};
    if (!r.Has(14 + kMinInfoHeader) || r.U(0, 2) != kBmpSignature) {
        Fail(error, "not a BMP file");
        return std::nullopt;
    }
    const std::uint32_t pixelOffset = r.U(10, 4);
    const std::uint32_t headerSize = r.U(14, 4);
    const auto width = static_cast<std::int32_t>(r.U(18, 4));
    const auto rawHeight = static_cast<std::int32_t>(r.U(22, 4));
    const std::uint32_t bits = r.U(28, 2);
    const std::uint32_t compression = r.U(30, 4);
    std::uint32_t colorsUsed = r.U(46, 4);
    if (headerSize < kMinInfoHeader || !r.Has(14 + static_cast<size_t>(headerSize))) {
        Fail(error, "BMP header is truncated");
        return std::nullopt;
    }
    const bool topDown = rawHeight < 0;
    const std::int64_t height = topDown ? -static_cast<std::int64_t>(rawHeight) : rawHeight;
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) {
        Fail(error, "BMP size out of range");
        return std::nullopt;
    }
    if (!(bits == 8 || bits == 24 || bits == 32) ||
        !(compression == kBiRgb || (compression == kBiBitfields && bits == 32))) {
        Fail(error, "BMP format not supported (only uncompressed 8, 24 and 32 bits)");
        return std::nullopt;
    }
    std::vector<std::uint32_t> palette;
    if (bits == 8) {
        if (colorsUsed == 0 || colorsUsed > 256) {
            colorsUsed = 256;
        }
        const size_t paletteStart = 14 + headerSize;
        if (!r.Has(paletteStart) || file.size() - paletteStart < colorsUsed * 4u) {
            Fail(error, "BMP palette is truncated");
            return std::nullopt;
        }
        for (std::uint32_t i = 0; i < colorsUsed; ++i) {
            palette.push_back(0xFF000000u | r.U(paletteStart + 4 * i, 3));
        }
    }
    const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    const size_t h = static_cast<size_t>(height);
    if (pixelOffset > file.size() || (file.size() - pixelOffset) / stride < h) {
        Fail(error, "BMP pixel data is truncated");
        return std::nullopt;
    }
    Image image;
    image.width = width;
    image.height = static_cast<int>(height);
    image.pixels.resize(static_cast<size_t>(width) * h);
    for (size_t y = 0; y < h; ++y) {
        const size_t srcRow = topDown ? y : h - 1 - y;
        const std::uint8_t* row = file.data() + pixelOffset + srcRow * stride;
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

std::optional<FormOptions> ReadFormOptions(const IniSections& ini, Error* error) {
    FormOptions o;
    if (auto skinSection = ini.find("Skin"); skinSection != ini.end()) {
        if (auto name = skinSection->second.find("Name"); name != skinSection->second.end()) {
            o.skinName = name->second;
        }
    }
    auto form = ini.find("FORM");
    if (form == ini.end()) {
        Fail(error, "skin options have no [FORM] section");
        return std::nullopt;
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
            Fail(error,
                 std::string("skin option ") + k.name + " has a bad value '" + it->second + "'");
            return std::nullopt;
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
            Fail(error, std::string("skin option ") + k.name + " is not an RRGGBB colour");
            return std::nullopt;
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

std::optional<SkinData> LoadSkin(std::span<const std::uint8_t> packed, Error* error) {
    auto entries = ParseContainer(packed, error);
    if (!entries) {
        return std::nullopt;
    }
    auto entry = [&](const char* name) -> std::optional<std::span<const std::uint8_t>> {
        auto it = entries->find(name);
        if (it == entries->end()) {
            Fail(error, std::string("skin data has no entry ") + name);
            return std::nullopt;
        }
        return it->second;
    };
    auto ini = entry("options.ini");
    auto caption = entry("caption.bmp");
    auto buttons = entry("buttons.bmp");
    if (!ini || !caption || !buttons) {
        return std::nullopt;
    }
    SkinData skin;
    auto options = ReadFormOptions(
        ParseIni(std::string_view(reinterpret_cast<const char*>(ini->data()), ini->size())), error);
    if (!options) {
        return std::nullopt;
    }
    skin.options = *options;
    auto captionImage = DecodeBmp(*caption, error);
    auto buttonImage = DecodeBmp(*buttons, error);
    if (!captionImage || !buttonImage) {
        return std::nullopt;
    }
    if (buttonImage->width != kButtonStates * skin.options.buttonSize ||
        buttonImage->height != kButtonKinds * skin.options.buttonSize) {
        Fail(error, "buttons.bmp does not hold 3 x 2 buttons of ButtonSize");
        return std::nullopt;
    }
    if (skin.options.captionSliceLeft + skin.options.captionSliceRight > captionImage->width) {
        Fail(error, "caption slices are wider than caption.bmp");
        return std::nullopt;
    }
    skin.caption = std::move(*captionImage);
    skin.buttons = std::move(*buttonImage);
    return skin;
}

} // namespace skin
