// The packed data of the internal skin: a small container of named entries holding the
// skin's option file and its pictures, and the decoders for both. Everything here is
// bounds-checked; a malformed entry is refused with a message, never read past its end.
#pragma once

#include "binary/error.h"
#include "binary/reader.h"

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace skin {

// A decoded picture, top-down, 0xAARRGGBB with premultiplied alpha (what AlphaBlend takes).
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// Bytes of one container entry, viewing the container's storage (and knowing their place in
// it, which errors name).
using Entries = std::map<std::string, binary::Reader, std::less<>>;

// Parses "ITRSKIN1", a u32 entry count, then (u16 name length, name, u32 size, bytes) each.
binary::Expected<Entries> ParseContainer(std::span<const std::uint8_t> data);

// An uncompressed 8-, 24- or 32-bit BMP file (BITMAPFILEHEADER + BITMAPINFOHEADER or a later
// header). 32-bit pixels carry straight alpha, which is premultiplied here; 8- and 24-bit
// pixels are opaque.
binary::Expected<Image> DecodeBmp(std::span<const std::uint8_t> file);
binary::Expected<Image> DecodeBmp(const binary::Reader& file);

// "[section]" / "key=value" text; keys are kept per section as written. ';' starts a comment.
using IniSections =
    std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>>;
IniSections ParseIni(std::string_view text);

// The skin's options for the window frame, in pixels at 96 DPI.
struct FormOptions {
    std::string skinName;
    int captionHeight = 22;
    int borderWidth = 4;
    std::uint32_t clientColor = 0x000000; // 0xRRGGBB
    std::uint32_t frameOuterColor = 0x0F3F0F;
    std::uint32_t frameInnerColor = 0x1F7F1F;
    std::uint32_t captionTextColor = 0x25AB03;
    std::uint32_t captionShadowColor = 0x000000;
    std::string captionFont = "Tahoma";
    int captionFontHeight = 13;
    bool captionFontBold = true;
    int captionSliceLeft = 0;
    int captionSliceRight = 0;
    int buttonSize = 18;
    int buttonSpacing = 2;
    int buttonMargin = 4;
};

// Reads the [Skin] and [FORM] sections; missing keys keep their defaults, bad values are errors.
binary::Expected<FormOptions> ReadFormOptions(const IniSections& ini);

// The whole skin as the window uses it.
struct SkinData {
    FormOptions options;
    Image caption; // caption bar background, 3-slice
    Image buttons; // 3 states x 2 buttons
};

constexpr int kButtonStates = 3; // normal, hot, pressed
constexpr int kButtonKinds = 2;  // close, the extra caption-bar button

binary::Expected<SkinData> LoadSkin(std::span<const std::uint8_t> packed);

} // namespace skin
