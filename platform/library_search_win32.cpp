// The process's defences against planted libraries: the search for libraries loaded by name is
// limited to the system folder before anything else runs, libraries that are not known to the
// system are loaded from the system folder by full path, and the image's load configuration
// asks the loader of Windows 10 and later to resolve the image's own imports from the system
// folder too.
#include "platform/library_search.h"
#include "platform/system_library_win32.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32: the system folder and nothing else.
constexpr DWORD kSearchSystemFolder = 0x00000800;
static_assert(kSearchSystemFolder == LOAD_LIBRARY_SEARCH_SYSTEM32);

// Windows 8 and later, and Windows 7 with its update; looked up at run time, as an import of it
// would keep the program from starting on a Windows 7 without the update.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

} // namespace

void LimitLibrarySearch() {
    const auto setDefault = LibraryFunction<SetDefaultDllDirectoriesFunction>(
        GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefault && setDefault(kSearchSystemFolder)) {
        return;
    }
    // An empty folder takes the current folder out of the search.
    SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
    wchar_t folder[MAX_PATH + 1];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        return nullptr;
    }
    std::wstring path(folder, length);
    if (path.back() != L'\\') {
        path += L'\\';
    }
    path += fileName;
    // The library's own imports are then looked for beside it first, in the system folder,
    // even where the search could not be limited.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Named, not anonymous: the image's load configuration below has external linkage.
namespace load_configuration {

// The image's load configuration directory, as far as this image fills it: up to the safe
// exception handler fields, with the load flags for the image's imports where older systems
// kept a reserved word. Fields that hold addresses are pointer-sized.
struct Directory {
    std::uint32_t Size;
    std::uint32_t TimeDateStamp;
    std::uint16_t MajorVersion;
    std::uint16_t MinorVersion;
    std::uint32_t GlobalFlagsClear;
    std::uint32_t GlobalFlagsSet;
    std::uint32_t CriticalSectionDefaultTimeout;
    std::uintptr_t DeCommitFreeBlockThreshold;
    std::uintptr_t DeCommitTotalFreeThreshold;
    std::uintptr_t LockPrefixTable;
    std::uintptr_t MaximumAllocationSize;
    std::uintptr_t VirtualMemoryThreshold;
#ifdef _WIN64
    std::uintptr_t ProcessAffinityMask;
    std::uint32_t ProcessHeapFlags;
#else
    std::uint32_t ProcessHeapFlags;
    std::uintptr_t ProcessAffinityMask;
#endif
    std::uint16_t CSDVersion;
    std::uint16_t DependentLoadFlags;
    std::uintptr_t EditList;
    std::uintptr_t SecurityCookie;
    std::uintptr_t SEHandlerTable;
    std::uintptr_t SEHandlerCount;
};

#ifdef _WIN64
static_assert(offsetof(Directory, DependentLoadFlags) == 78);
static_assert(sizeof(Directory) == 112);
// The whole structure. The exception handler fields mean nothing to 64-bit images, whose
// handlers are found through their unwind tables.
constexpr std::uint32_t kSize = sizeof(Directory);
#else
static_assert(offsetof(Directory, DependentLoadFlags) == 54);
static_assert(offsetof(Directory, SEHandlerTable) == 64);
// Up to the exception handler fields, the size that every 32-bit loader accepts (and the one
// the linker writes into the header for a 32-bit image). A size that covered them would make
// the loader check every exception handler registered at run time against a table this image
// does not have: without one, handlers are checked no more than they were before the image
// had a load configuration.
constexpr std::uint32_t kSize = offsetof(Directory, SEHandlerTable);
#endif

} // namespace load_configuration

} // namespace platform

// The linker points the image's load configuration entry at the object of this name (with the
// leading underscore that 32-bit C names get, on i686), and takes its size from the first field.
extern "C" const platform::load_configuration::Directory _load_config_used;
extern "C" const platform::load_configuration::Directory _load_config_used = {
    .Size = platform::load_configuration::kSize,
    .DependentLoadFlags = platform::kSearchSystemFolder,
};
