// Module bytes on Windows: a file read at offsets, and the program's own raw-data resources.
#include "platform/file_source.h"

#include <windows.h>

namespace platform {

ModuleFile FileOpenRead(const char* name) {
    HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

std::uint32_t FileReadAt(ModuleFile file, std::uint32_t offset, void* destination,
                         std::uint32_t count) {
    if (!file) {
        return 0;
    }
    LONG high = 0;
    if (SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        return 0;
    }
    DWORD done = 0;
    if (!ReadFile(file, destination, count, &done, nullptr)) {
        return 0;
    }
    return done;
}

void FileClose(ModuleFile file) {
    if (file) {
        CloseHandle(file);
    }
}

bool FindRawDataResource(std::uintptr_t module, const char* name, const void** data,
                         std::uint32_t* size) {
    HMODULE m = reinterpret_cast<HMODULE>(module);
    HRSRC info = FindResourceA(m, name, MAKEINTRESOURCEA(10));
    if (!info) {
        return false;
    }
    HGLOBAL loaded = LoadResource(m, info);
    if (!loaded) {
        return false;
    }
    *data = LockResource(loaded);
    *size = SizeofResource(m, info);
    return *data != nullptr;
}

} // namespace platform
