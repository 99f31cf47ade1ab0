// POSIX implementation of the file services: descriptors, mmap, advisory locks standing in
// for Windows share modes, and errno translated into Windows error codes.
#include "platform/collation.h"
#include "platform/file.h"
#include "platform/file_pieces.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

thread_local std::uint32_t tLastError = error::kSuccess;

std::uint32_t FromErrno(int e) {
    switch (e) {
    case 0:
        return error::kSuccess;
    case ENOENT:
        return error::kFileNotFound;
    case ENOTDIR:
        return error::kPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return error::kAccessDenied;
    case EBADF:
        return error::kInvalidHandle;
    case ENOMEM:
        return error::kNotEnoughMemory;
    case EWOULDBLOCK:
    case ETXTBSY:
    case EBUSY:
        return error::kSharingViolation;
    case EEXIST:
        return error::kFileExists;
    case ENOTEMPTY:
        return error::kDirNotEmpty;
    case EXDEV:
        return error::kNotSameDevice;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return error::kDiskFull;
    case EINVAL:
        return error::kInvalidParameter;
    case EIO:
        return error::kWriteFault;
    default:
        return error::kInvalidParameter;
    }
}

bool Fail(int e) {
    tLastError = FromErrno(e);
    return false;
}

// A transfer call, again while a signal interrupts it.
template <typename Call> ssize_t Retried(Call call) {
    ssize_t r = 0;
    do {
        r = call();
    } while (r < 0 && errno == EINTR);
    return r;
}

// The bytes a transfer call moved; false when it failed.
bool Moved(ssize_t result, std::size_t& moved) {
    moved = result > 0 ? static_cast<std::size_t>(result) : 0;
    return result >= 0 || Fail(errno);
}

off_t Off(std::uint64_t position) {
    return static_cast<off_t>(position);
}

int Fd(FileHandle file) {
    return static_cast<int>(file.value);
}

std::string NativePath(std::u16string_view path) {
    return Utf8(path);
}

// Stands in for the Windows share mode: an exclusive opener excludes everyone, a sharing
// opener excludes only exclusive ones.
bool Lock(int fd, Share share) {
    const int op = (share == Share::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (flock(fd, op) == 0) {
        return true;
    }
    // File systems without locks cannot enforce the share mode; go on without it.
    return errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS;
}

FileHandle OpenWith(std::u16string_view path, int flags, Share share) {
    const int fd = ::open(NativePath(path).c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        Fail(errno);
        return {};
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int e = errno;
        ::close(fd);
        Fail(S_ISDIR(st.st_mode) ? EISDIR : e);
        return {};
    }
    if (!Lock(fd, share)) {
        ::close(fd);
        Fail(EWOULDBLOCK);
        return {};
    }
    tLastError = error::kSuccess;
    return FileHandle{fd};
}

class PosixOs final : public Os {
public:
    FileHandle OpenExisting(std::u16string_view path, Access access, Share share) override {
        return OpenWith(path, access == Access::Read ? O_RDONLY : O_RDWR, share);
    }

    FileHandle CreateAlways(std::u16string_view path) override {
        // Opened first and truncated only once locked, so a file that another process holds
        // exclusively is left alone.
        FileHandle file = OpenWith(path, O_RDWR | O_CREAT, Share::Exclusive);
        if (file.IsValid() && ftruncate(Fd(file), 0) != 0) {
            const int e = errno;
            Close(file);
            Fail(e);
            return {};
        }
        return file;
    }

    FileHandle CreateNew(std::u16string_view path) override {
        // O_EXCL: fails on any existing name, a symbolic link included, without following it.
        return OpenWith(path, O_RDWR | O_CREAT | O_EXCL, Share::Exclusive);
    }

    bool Close(FileHandle& file) override {
        if (!file.IsValid()) {
            return true;
        }
        const int fd = Fd(file);
        file = {};
        // The descriptor is gone even when close reports an error (EINTR included).
        return ::close(fd) == 0 || Fail(errno);
    }

    bool GetLength(FileHandle file, std::uint64_t& length) override {
        struct stat st {};
        if (fstat(Fd(file), &st) != 0) {
            return Fail(errno);
        }
        length = static_cast<std::uint64_t>(st.st_size);
        return true;
    }

    bool SetLength(FileHandle file, std::uint64_t length) override {
        std::uint64_t current = 0;
        if (!GetLength(file, current)) {
            return false;
        }
        if (length > current) {
            // Reserve the blocks now: a sparse hole would run out of disk space later, inside
            // a write through the mapping, where it cannot be reported.
            const int r = posix_fallocate(Fd(file), static_cast<off_t>(current),
                                          static_cast<off_t>(length - current));
            if (r == 0) {
                return true;
            }
            if (r != EOPNOTSUPP && r != EINVAL) {
                return Fail(r);
            }
        }
        if (ftruncate(Fd(file), static_cast<off_t>(length)) != 0) {
            return Fail(errno);
        }
        return true;
    }

    bool ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t size,
                std::size_t& got) override {
        return MoveInPieces(
            offset, static_cast<char*>(buffer), size, got,
            [&](std::uint64_t at, char* to, std::size_t count, std::size_t& moved) {
                return Moved(Retried([&] { return pread(Fd(file), to, count, Off(at)); }), moved);
            });
    }

    bool WriteAt(FileHandle file, std::uint64_t offset, const void* data,
                 std::size_t size) override {
        return WriteInPieces(
            offset, data, size,
            [&](std::uint64_t at, const char* from, std::size_t count, std::size_t& moved) {
                return Moved(Retried([&] { return pwrite(Fd(file), from, count, Off(at)); }),
                             moved);
            },
            [] { Fail(EIO); });
    }

    bool Map(FileHandle file, MappedView& view) override {
        std::uint64_t length = 0;
        if (!GetLength(file, length)) {
            return false;
        }
        if (length == 0) {
            tLastError = error::kFileInvalid; // what CreateFileMappingW says for an empty file
            return false;
        }
        void* p = mmap(nullptr, static_cast<std::size_t>(length), PROT_READ | PROT_WRITE,
                       MAP_SHARED, Fd(file), 0);
        if (p == MAP_FAILED) {
            return Fail(errno == EACCES ? EACCES : ENOMEM);
        }
        view.base = static_cast<std::uint8_t*>(p);
        view.size = length;
        view.mapping = 0;
        return true;
    }

    void Unmap(MappedView& view) override {
        if (view.base) {
            munmap(view.base, static_cast<std::size_t>(view.size));
        }
        view = {};
    }

    bool Delete(std::u16string_view path) override {
        if (::unlink(NativePath(path).c_str()) != 0) {
            return Fail(errno);
        }
        return true;
    }

    std::u16string TempFolder() override {
        const char* dir = std::getenv("TMPDIR");
        std::string folder = dir && *dir ? dir : "/tmp";
        if (folder.back() != '/') {
            folder.push_back('/');
        }
        return Utf16(folder);
    }

    std::uint32_t ProcessId() override { return static_cast<std::uint32_t>(getpid()); }

    int CompareNoCase(std::u16string_view a, std::u16string_view b) override {
        return CollateNoCase(a, b);
    }

    std::uint32_t LastError() override { return tLastError; }
    void SetLastError(std::uint32_t code) override { tLastError = code; }

    bool Flush(FileHandle file) override { return fsync(Fd(file)) == 0 || Fail(errno); }

    bool Rename(std::u16string_view from, std::u16string_view to) override {
        const std::string target = NativePath(to);
        if (::rename(NativePath(from).c_str(), target.c_str()) != 0) {
            return Fail(errno);
        }
        // The rename is on the disk once its folder is.
        const std::string::size_type slash = target.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return Fail(errno);
        }
        const bool synced = fsync(fd) == 0 || errno == EINVAL; // some file systems cannot
        const int e = errno;
        ::close(fd);
        return synced || Fail(e);
    }

    bool Kind(std::u16string_view path, PathKind& kind) override {
        struct stat st {};
        if (::stat(NativePath(path).c_str(), &st) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) {
                kind = PathKind::Missing;
                tLastError = error::kSuccess;
                return true;
            }
            return Fail(errno);
        }
        kind = S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
        tLastError = error::kSuccess;
        return true;
    }

    bool CreateFolder(std::u16string_view path) override {
        if (::mkdir(NativePath(path).c_str(), 0755) != 0) {
            // CreateDirectoryW's code for a name that is taken.
            tLastError = errno == EEXIST ? error::kAlreadyExists : FromErrno(errno);
            return false;
        }
        return true;
    }

    bool RemoveFolder(std::u16string_view path) override {
        return ::rmdir(NativePath(path).c_str()) == 0 || Fail(errno);
    }
};

} // namespace

Os& SystemOs() {
    static PosixOs os;
    return os;
}

} // namespace platform
