// Module bytes off Windows: a file read at offsets; there are no own resources to read.
#include "platform/file_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

namespace platform {

ModuleFile FileOpenRead(const char* name) {
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    return fd < 0 ? nullptr : reinterpret_cast<ModuleFile>(static_cast<std::intptr_t>(fd) + 1);
}

std::uint32_t FileReadAt(ModuleFile file, std::uint32_t offset, void* destination,
                         std::uint32_t count) {
    if (!file) {
        return 0;
    }
    int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(file) - 1);
    std::uint32_t done = 0;
    auto* out = static_cast<unsigned char*>(destination);
    while (done < count) {
        ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(offset) + done);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

void FileClose(ModuleFile file) {
    if (file) {
        ::close(static_cast<int>(reinterpret_cast<std::intptr_t>(file) - 1));
    }
}

bool FindRawDataResource(std::uintptr_t, const char*, const void**, std::uint32_t*) {
    return false;
}

} // namespace platform
