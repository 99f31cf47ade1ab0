// Files, mappings and the few process services that the file-editing logic needs (the
// resource editor, the string patch). The logic calls them through the Os interface so that
// tests can wrap the real implementation and make any single call fail.
//
// Error codes are Windows system error codes on every platform: the POSIX implementation
// translates errno, so callers and tests see the same numbers natively and under Wine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Windows system error codes used by the logic and its tests.
namespace error {
constexpr std::uint32_t kSuccess = 0;
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kPathNotFound = 3;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kInvalidHandle = 6;
constexpr std::uint32_t kNotEnoughMemory = 8;
constexpr std::uint32_t kInvalidData = 13;
constexpr std::uint32_t kNotSameDevice = 17;
constexpr std::uint32_t kWriteFault = 29;
constexpr std::uint32_t kReadFault = 30;
constexpr std::uint32_t kSharingViolation = 32;
constexpr std::uint32_t kHandleEof = 38;
constexpr std::uint32_t kNotSupported = 50;
constexpr std::uint32_t kFileExists = 80;
constexpr std::uint32_t kInvalidParameter = 87;
constexpr std::uint32_t kDiskFull = 112;
constexpr std::uint32_t kDirNotEmpty = 145;
constexpr std::uint32_t kAlreadyExists = 183;
constexpr std::uint32_t kBadExeFormat = 193;
constexpr std::uint32_t kFileInvalid = 1006;
} // namespace error

// An open file; `value` is the HANDLE on Windows and the descriptor elsewhere.
struct FileHandle {
    static constexpr std::intptr_t kInvalid = -1;
    std::intptr_t value = kInvalid;
    bool IsValid() const { return value != kInvalid; }
};

// A read/write view of a whole file. `mapping` is the Win32 mapping handle (unused elsewhere).
struct MappedView {
    std::uint8_t* base = nullptr;
    std::uint64_t size = 0;
    std::intptr_t mapping = 0;
    bool IsMapped() const { return base != nullptr; }
};

enum class Access { Read, ReadWrite };
// Exclusive: nobody else may open the file while it is open. ReadWrite: others may read and
// write it too.
enum class Share { Exclusive, ReadWrite };

// What a path names.
enum class PathKind { Missing, File, Folder };

// Result values of CompareNoCase, as CompareStringW gives them; 0 means the call failed.
constexpr int kCompareLess = 1;
constexpr int kCompareEqual = 2;
constexpr int kCompareGreater = 3;

// Every call that can fail returns false (or an invalid handle) and leaves the reason in the
// thread's last-error code.
class Os {
public:
    virtual ~Os() = default;

    // Opens a file only if it exists.
    virtual FileHandle OpenExisting(std::u16string_view path, Access access, Share share) = 0;
    // Creates a file for reading and writing, exclusively, replacing any file of that name.
    virtual FileHandle CreateAlways(std::u16string_view path) = 0;
    // Creates a file for reading and writing, exclusively, only where nothing of that name
    // exists: an existing file, folder or link (even one that leads nowhere) is neither opened
    // nor changed, and the call fails with kFileExists.
    virtual FileHandle CreateNew(std::u16string_view path) = 0;
    // Closes the file; the handle is released and invalid afterwards whatever the result. False
    // when the system reports a failure (data that could not be written out, among others). A
    // handle that is not open is left alone, and so is the last-error code.
    virtual bool Close(FileHandle& file) = 0;

    virtual bool GetLength(FileHandle file, std::uint64_t& length) = 0;
    // Grows (reserving the disk space, so that later writes through a mapping cannot run
    // out of it) or truncates the file.
    virtual bool SetLength(FileHandle file, std::uint64_t length) = 0;
    // Reads up to size bytes; `got` is the number read (fewer only at the end of the file).
    virtual bool ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t size,
                        std::size_t& got) = 0;
    // Writes all size bytes or fails.
    virtual bool WriteAt(FileHandle file, std::uint64_t offset, const void* data,
                         std::size_t size) = 0;

    // Maps the whole file for reading and writing; an empty file cannot be mapped.
    virtual bool Map(FileHandle file, MappedView& view) = 0;
    // Unmaps the view (changes stay in the file) and releases the mapping.
    virtual void Unmap(MappedView& view) = 0;

    virtual bool Delete(std::u16string_view path) = 0;
    // The temporary folder with a trailing separator, or empty when it cannot be determined.
    virtual std::u16string TempFolder() = 0;
    virtual std::uint32_t ProcessId() = 0;
    // Case-insensitive comparison in the order of CompareStringW under locale 9 (English)
    // with NORM_IGNORECASE: kCompareLess, kCompareEqual, kCompareGreater, or 0 on failure.
    virtual int CompareNoCase(std::u16string_view a, std::u16string_view b) = 0;

    virtual std::uint32_t LastError() = 0;
    virtual void SetLastError(std::uint32_t code) = 0;

    // Whole files and folders, for keeping copies of the target's files.
    // Writes the file's buffered data through to the disk.
    virtual bool Flush(FileHandle file) = 0;
    // Renames a file within its volume, replacing a file of the new name; the new name is on
    // the disk when it returns.
    virtual bool Rename(std::u16string_view from, std::u16string_view to) = 0;
    // What path names; false (kind untouched) when the system cannot tell.
    virtual bool Kind(std::u16string_view path, PathKind& kind) = 0;
    virtual bool CreateFolder(std::u16string_view path) = 0;
    // Removes an empty folder.
    virtual bool RemoveFolder(std::u16string_view path) = 0;
};

// The implementation of the operating system the program runs on.
Os& SystemOs();

// Whether path names an existing file (not a folder); false also when the system cannot tell.
inline bool IsExistingFile(Os& os, std::u16string_view path) {
    PathKind kind = PathKind::Missing;
    return os.Kind(path, kind) && kind == PathKind::File;
}

// Keeps a file open for the lifetime of a scope.
class ScopedFile {
public:
    ScopedFile(Os& os, FileHandle file) : os_(os), file_(file) {}
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    ~ScopedFile() {
        if (file_.IsValid()) {
            os_.Close(file_);
        }
    }
    // Closes the file now, for a caller that acts on the result.
    bool Close() { return os_.Close(file_); }
    FileHandle Get() const { return file_; }
    bool IsValid() const { return file_.IsValid(); }

private:
    Os& os_;
    FileHandle file_;
};

// Keeps the thread's last-error code across clean-up calls that may change it.
class PreserveLastError {
public:
    explicit PreserveLastError(Os& os) : os_(os), code_(os.LastError()) {}
    PreserveLastError(const PreserveLastError&) = delete;
    PreserveLastError& operator=(const PreserveLastError&) = delete;
    ~PreserveLastError() { os_.SetLastError(code_); }

private:
    Os& os_;
    std::uint32_t code_;
};

} // namespace platform
