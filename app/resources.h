// Names of the program's own resources and access to their bytes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>

namespace app {

inline constexpr wchar_t kMainIconResource[] = L"MAINICON";
inline constexpr wchar_t kNormalSheetResource[] = L"IMAGE1";
inline constexpr wchar_t kIntenseSheetResource[] = L"IMAGE2";
inline constexpr wchar_t kLogoResource[] = L"LOGO";
inline constexpr wchar_t kRabbitResource[] = L"RABBIT";
inline constexpr wchar_t kSkinResource[] = L"MATRIXSKIN";

// The bytes of a resource of the given module, viewed in place; none if it is missing.
inline std::optional<std::span<const std::uint8_t>>
ResourceBytes(HINSTANCE module, const wchar_t* name, const wchar_t* type) {
    HRSRC info = FindResourceW(module, name, type);
    if (!info) {
        return std::nullopt;
    }
    HGLOBAL handle = LoadResource(module, info);
    const void* data = handle ? LockResource(handle) : nullptr;
    if (!data) {
        return std::nullopt;
    }
    return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(data),
                                         SizeofResource(module, info));
}

} // namespace app
