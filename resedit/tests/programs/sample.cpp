// Reports the icon group "106" (Chinese, Simplified) of its own executable: its entries, and
// the colour at the centre of the icon the system builds from it at 16, 32 and 48 pixels; then
// the size and a hash of its base relocations as loaded. Exit code 0 when the group was found
// and every icon could be built.
#include <windows.h>

#include <cstdio>
#include <initializer_list>

namespace {

const WORD kLanguage = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

bool CentrePixel(HICON icon, int size, unsigned& rgb) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) {
        return false;
    }
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = size;
    bmi.bmiHeader.biHeight = -size;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    unsigned* pixels = new unsigned[size * size];
    HDC dc = GetDC(nullptr);
    const int lines = GetDIBits(dc, info.hbmColor, 0, size, pixels, &bmi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    rgb = pixels[(size / 2) * size + size / 2] & 0xFFFFFF;
    delete[] pixels;
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return lines == size;
}

} // namespace

int main() {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC group = FindResourceExW(self, RT_GROUP_ICON, L"106", kLanguage);
    if (!group) {
        std::printf("no group \"106\"\n");
        return 1;
    }
    const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(self, group)));
    const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
    std::printf("group \"106\": %u images\n", count);
    const GroupEntry* entries = reinterpret_cast<const GroupEntry*>(dir + 6);
    for (WORD i = 0; i < count; ++i) {
        HRSRC image = FindResourceExW(self, RT_ICON, MAKEINTRESOURCEW(entries[i].id), kLanguage);
        std::printf("image %u: id %u, %u bytes, %s\n", i, entries[i].id,
                    static_cast<unsigned>(entries[i].bytes),
                    image && SizeofResource(self, image) == entries[i].bytes ? "found" : "MISSING");
    }
    int rc = 0;
    for (int size : {16, 32, 48}) {
        const int id =
            LookupIconIdFromDirectoryEx(const_cast<BYTE*>(dir), TRUE, size, size, LR_DEFAULTCOLOR);
        HRSRC image = FindResourceExW(self, RT_ICON, MAKEINTRESOURCEW(id), kLanguage);
        HICON icon = nullptr;
        if (image) {
            BYTE* bits = static_cast<BYTE*>(LockResource(LoadResource(self, image)));
            icon = CreateIconFromResourceEx(bits, SizeofResource(self, image), TRUE, 0x00030000,
                                            size, size, 0);
        }
        unsigned rgb = 0;
        if (!icon || !CentrePixel(icon, size, rgb)) {
            std::printf("icon %d: cannot build\n", size);
            rc = 1;
            continue;
        }
        std::printf("icon %d: image %d, centre %06x\n", size, id, rgb); // 0xRRGGBB from BGRA bytes
        DestroyIcon(icon);
    }
    // The base relocations where the loaded image's headers say they are, as the loader
    // mapped them: an edit that moves them must leave this line as it was.
    const BYTE* base = reinterpret_cast<const BYTE*>(self);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& relocations =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    unsigned h = 2166136261u; // FNV-1a
    for (DWORD i = 0; i < relocations.Size; ++i) {
        h = (h ^ base[relocations.VirtualAddress + i]) * 16777619u;
    }
    std::printf("relocations: %lu bytes, %08x\n", static_cast<unsigned long>(relocations.Size), h);
    return rc;
}
