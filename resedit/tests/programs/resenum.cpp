// Loads a file as a data file (LoadLibraryExW with LOAD_LIBRARY_AS_DATAFILE), as the Windows
// loader reads any executable's resources, and prints every resource it enumerates:
// "type/name/language size checksum" (ids as numbers, names in double quotes, the FNV-1a of
// the bytes). Exit code 0 when the file loaded.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Key(LPCWSTR key) {
    if (IS_INTRESOURCE(key)) {
        return std::to_string(reinterpret_cast<ULONG_PTR>(key));
    }
    std::string s(1, '"');
    for (const wchar_t* p = key; *p; ++p) {
        s += static_cast<char>(*p < 128 ? *p : '?');
    }
    s += '"';
    return s;
}

BOOL CALLBACK OnLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR) {
    HRSRC r = FindResourceExW(module, type, name, language);
    const DWORD size = r ? SizeofResource(module, r) : 0;
    const BYTE* bytes =
        r ? static_cast<const BYTE*>(LockResource(LoadResource(module, r))) : nullptr;
    unsigned h = 2166136261u;
    for (DWORD i = 0; bytes && i < size; ++i) {
        h = (h ^ bytes[i]) * 16777619u;
    }
    std::printf("%s/%s/%u %lu %08x\n", Key(type).c_str(), Key(name).c_str(), language,
                static_cast<unsigned long>(size), h);
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR) {
    return EnumResourceLanguagesW(module, type, name, OnLanguage, 0);
}

BOOL CALLBACK OnType(HMODULE module, LPWSTR type, LONG_PTR) {
    return EnumResourceNamesW(module, type, OnName, 0);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        return 2;
    }
    HMODULE module = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        std::printf("cannot load: error %lu\n", GetLastError());
        return 1;
    }
    EnumResourceTypesW(module, OnType, 0);
    FreeLibrary(module);
    return 0;
}
