// Win32 implementation of the file services: thin wrappers over the file, mapping and
// locale functions; errors stay in the thread's last-error code.
#include "platform/file.h"
#include "platform/file_pieces.h"
#include "platform/owner_win32.h"
#include "platform/text.h"

#include <windows.h>

#include <algorithm>

namespace platform {

namespace {

HANDLE H(FileHandle file) {
    return reinterpret_cast<HANDLE>(file.value);
}

FileHandle FromHandle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? FileHandle{}
                                     : FileHandle{reinterpret_cast<std::intptr_t>(h)};
}

// ReadFile and WriteFile take 32-bit counts; larger transfers go in pieces.
constexpr std::size_t kMaxChunk = 0x40000000;

DWORD Chunk(std::size_t rest) {
    return static_cast<DWORD>(rest < kMaxChunk ? rest : kMaxChunk);
}

// Positioned transfers set the file pointer and then read or write from there. (An offset
// given in an OVERLAPPED does the same on Windows, but under Wine each such call also waits
// for a round trip to its server, which made moving a large file's tail a third slower.)
bool Seek(HANDLE file, std::uint64_t offset) {
    LARGE_INTEGER pos{};
    pos.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, pos, nullptr, FILE_BEGIN) != 0;
}

class Win32Os final : public Os {
public:
    FileHandle OpenExisting(std::u16string_view path, Access access, Share share) override {
        const DWORD desired = access == Access::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
        const DWORD mode = share == Share::Exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
        return FromHandle(CreateFileW(Wide(path).c_str(), desired, mode, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    FileHandle CreateAlways(std::u16string_view path) override {
        return FromHandle(CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    FileHandle CreateNew(std::u16string_view path) override {
        return FromHandle(CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    bool Close(FileHandle& file) override {
        if (!file.IsValid()) {
            return true;
        }
        const HANDLE h = H(file);
        file = {};
        return CloseHandle(h) != 0;
    }

    bool GetLength(FileHandle file, std::uint64_t& length) override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(H(file), &size)) {
            return false;
        }
        length = static_cast<std::uint64_t>(size.QuadPart);
        return true;
    }

    bool SetLength(FileHandle file, std::uint64_t length) override {
        LARGE_INTEGER pos{};
        pos.QuadPart = static_cast<LONGLONG>(length);
        return SetFilePointerEx(H(file), pos, nullptr, FILE_BEGIN) && SetEndOfFile(H(file));
    }

    bool ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t size,
                std::size_t& got) override {
        return MoveInPieces(offset, static_cast<char*>(buffer), size, got,
                            [&](std::uint64_t at, char* to, std::size_t count, std::size_t& moved) {
                                DWORD n = 0;
                                if (!Seek(H(file), at)) {
                                    return false;
                                }
                                if (!ReadFile(H(file), to, Chunk(count), &n, nullptr)) {
                                    return GetLastError() ==
                                           ERROR_HANDLE_EOF; // the end: nothing moved
                                }
                                moved = n;
                                return true;
                            });
    }

    bool WriteAt(FileHandle file, std::uint64_t offset, const void* data,
                 std::size_t size) override {
        return WriteInPieces(
            offset, data, size,
            [&](std::uint64_t at, const char* from, std::size_t count, std::size_t& moved) {
                DWORD n = 0;
                const bool ok =
                    Seek(H(file), at) && WriteFile(H(file), from, Chunk(count), &n, nullptr);
                moved = n;
                return ok;
            },
            [] { ::SetLastError(ERROR_WRITE_FAULT); });
    }

    bool Map(FileHandle file, MappedView& view) override {
        std::uint64_t length = 0;
        if (!GetLength(file, length)) {
            return false;
        }
        if (length > static_cast<std::uint64_t>(SIZE_MAX)) {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        KernelHandle mapping(CreateFileMappingW(H(file), nullptr, PAGE_READWRITE, 0, 0, nullptr));
        if (!mapping) {
            return false;
        }
        void* base = MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0);
        if (!base) {
            const DWORD e = GetLastError();
            mapping.Reset();
            ::SetLastError(e);
            return false;
        }
        view.base = static_cast<std::uint8_t*>(base);
        view.size = length;
        view.mapping = reinterpret_cast<std::intptr_t>(mapping.Detach()); // Unmap closes it
        return true;
    }

    void Unmap(MappedView& view) override {
        if (view.base) {
            UnmapViewOfFile(view.base);
        }
        if (view.mapping) {
            CloseHandle(reinterpret_cast<HANDLE>(view.mapping));
        }
        view = {};
    }

    bool Delete(std::u16string_view path) override { return DeleteFileW(Wide(path).c_str()) != 0; }

    std::u16string TempFolder() override {
        wchar_t buffer[MAX_PATH + 2];
        const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
        if (n == 0 || n > MAX_PATH + 1) {
            return {};
        }
        return std::u16string(buffer, buffer + n);
    }

    std::uint32_t ProcessId() override { return GetCurrentProcessId(); }

    int CompareNoCase(std::u16string_view a, std::u16string_view b) override {
        return CompareStringW(9, NORM_IGNORECASE, reinterpret_cast<const wchar_t*>(a.data()),
                              static_cast<int>(a.size()),
                              reinterpret_cast<const wchar_t*>(b.data()),
                              static_cast<int>(b.size()));
    }

    std::uint32_t LastError() override { return GetLastError(); }
    void SetLastError(std::uint32_t code) override { ::SetLastError(code); }

    bool Flush(FileHandle file) override { return FlushFileBuffers(H(file)) != 0; }

    bool Rename(std::u16string_view from, std::u16string_view to) override {
        return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }

    bool Kind(std::u16string_view path, PathKind& kind) override {
        const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD e = GetLastError();
            if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND) {
                return false;
            }
            kind = PathKind::Missing;
        } else {
            kind = attributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::Folder : PathKind::File;
        }
        ::SetLastError(ERROR_SUCCESS);
        return true;
    }

    bool CreateFolder(std::u16string_view path) override {
        return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
    }

    bool RemoveFolder(std::u16string_view path) override {
        return RemoveDirectoryW(Wide(path).c_str()) != 0;
    }
};

} // namespace

Os& SystemOs() {
    static Win32Os os;
    return os;
}

} // namespace platform
