// Replaces an icon group the way the platform's update-resource functions do it, for the
// benchmark: the old group's images are deleted, the icon file's images stored under the old
// ids (then under free ids) and the group record written, all between BeginUpdateResourceW and
// EndUpdateResourceW. Prints the time those calls took.
//
//   resedit_wineupdres FILE GROUP LANGUAGE ICOFILE   (GROUP is a text)
//   resedit_wineupdres --noop                        (start-up only)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

std::set<WORD> gUsedIds;

BOOL CALLBACK OnIconName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR) {
    if (IS_INTRESOURCE(name)) {
        gUsedIds.insert(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)));
    }
    return TRUE;
}

std::vector<BYTE> ReadAll(const wchar_t* path) {
    std::vector<BYTE> bytes;
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(f, &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(f);
    bytes.resize(got);
    return bytes;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"--noop") == 0) {
        return 0;
    }
    if (argc != 5) {
        std::fprintf(stderr, "usage: resedit_wineupdres FILE GROUP LANGUAGE ICOFILE\n");
        return 2;
    }
    const wchar_t* file = argv[1];
    const wchar_t* group = argv[2];
    const WORD language = static_cast<WORD>(_wtoi(argv[3]));
    const std::vector<BYTE> ico = ReadAll(argv[4]);
    if (ico.size() < 6) {
        std::fprintf(stderr, "cannot read the icon file\n");
        return 1;
    }

    // The old group's ids and every id in use, read before the update starts.
    std::vector<WORD> oldIds;
    HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        std::fprintf(stderr, "cannot load the file: %lu\n", GetLastError());
        return 1;
    }
    if (HRSRC r = FindResourceExW(module, RT_GROUP_ICON, group, language)) {
        const BYTE* record = static_cast<const BYTE*>(LockResource(LoadResource(module, r)));
        const WORD count = *reinterpret_cast<const WORD*>(record + 4);
        for (WORD i = 0; i < count; ++i) {
            oldIds.push_back(reinterpret_cast<const GroupEntry*>(record + 6)[i].id);
        }
    }
    EnumResourceNamesW(module, RT_ICON, OnIconName, 0);
    FreeLibrary(module);

    LARGE_INTEGER frequency{}, start{}, end{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HANDLE update = BeginUpdateResourceW(file, FALSE);
    if (!update) {
        std::fprintf(stderr, "BeginUpdateResourceW failed: %lu\n", GetLastError());
        return 1;
    }
    for (WORD id : oldIds) {
        UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(id), language, nullptr, 0);
        gUsedIds.erase(id);
    }
    const WORD count = *reinterpret_cast<const WORD*>(ico.data() + 4);
    std::vector<BYTE> record(6 + 14 * count);
    std::memcpy(record.data(), ico.data(), 6);
    WORD next = 50;
    if (!oldIds.empty()) {
        next = *std::min_element(oldIds.begin(), oldIds.end());
    }
    bool ok = true;
    for (WORD i = 0; i < count; ++i) {
        const BYTE* entry = ico.data() + 6 + 16 * i;
        WORD id = 0;
        if (i < oldIds.size()) {
            id = oldIds[i];
        } else {
            while (gUsedIds.count(next)) {
                ++next;
            }
            id = next;
        }
        gUsedIds.insert(id);
        std::memcpy(record.data() + 6 + 14 * i, entry, 12);
        std::memcpy(record.data() + 6 + 14 * i + 12, &id, 2);
        DWORD bytes = 0, offset = 0;
        std::memcpy(&bytes, entry + 8, 4);
        std::memcpy(&offset, entry + 12, 4);
        ok = UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(id), language,
                             const_cast<BYTE*>(ico.data() + offset), bytes) &&
             ok;
    }
    ok = UpdateResourceW(update, RT_GROUP_ICON, group, language, record.data(),
                         static_cast<DWORD>(record.size())) &&
         ok;
    if (!EndUpdateResourceW(update, !ok)) {
        std::fprintf(stderr, "EndUpdateResourceW failed: %lu\n", GetLastError());
        return 1;
    }
    QueryPerformanceCounter(&end);
    std::printf("%.3f\n", static_cast<double>(end.QuadPart - start.QuadPart) /
                              static_cast<double>(frequency.QuadPart));
    return ok ? 0 : 1;
}
