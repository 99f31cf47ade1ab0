// For tests: an Os that passes every call to a real one, after asking Fails whether this
// call is to fail instead (then with the error code Fails has set). Calls that cannot fail
// are only reported to Seen.
#pragma once

#include "platform/file.h"

namespace platform::testing {

class InterceptingOs : public Os {
public:
    explicit InterceptingOs(Os& real) : real_(real) {}

    FileHandle OpenExisting(std::u16string_view path, Access access, Share share) override {
        return Fails("OpenExisting") ? FileHandle{} : real_.OpenExisting(path, access, share);
    }
    FileHandle CreateAlways(std::u16string_view path) override {
        return Fails("CreateAlways") ? FileHandle{} : real_.CreateAlways(path);
    }
    FileHandle CreateNew(std::u16string_view path) override {
        return Fails("CreateNew") ? FileHandle{} : real_.CreateNew(path);
    }
    // The file is closed in any case; a close made to fail reports the failure after that.
    bool Close(FileHandle& file) override {
        Seen("Close");
        const bool closed = real_.Close(file);
        return !FailsClose() && closed;
    }
    bool GetLength(FileHandle file, std::uint64_t& length) override {
        return !Fails("GetLength") && real_.GetLength(file, length);
    }
    bool SetLength(FileHandle file, std::uint64_t length) override {
        return !Fails("SetLength") && real_.SetLength(file, length);
    }
    bool ReadAt(FileHandle file, std::uint64_t offset, void* buffer, std::size_t size,
                std::size_t& got) override {
        return !Fails("ReadAt") && real_.ReadAt(file, offset, buffer, size, got);
    }
    bool WriteAt(FileHandle file, std::uint64_t offset, const void* data,
                 std::size_t size) override {
        return !Fails("WriteAt") && real_.WriteAt(file, offset, data, size);
    }
    bool Map(FileHandle file, MappedView& view) override {
        return !Fails("Map") && real_.Map(file, view);
    }
    void Unmap(MappedView& view) override { real_.Unmap(view); }
    bool Delete(std::u16string_view path) override {
        return !Fails("Delete") && real_.Delete(path);
    }
    std::u16string TempFolder() override { return real_.TempFolder(); }
    std::uint32_t ProcessId() override { return real_.ProcessId(); }
    int CompareNoCase(std::u16string_view a, std::u16string_view b) override {
        return real_.CompareNoCase(a, b);
    }
    std::uint32_t LastError() override { return real_.LastError(); }
    void SetLastError(std::uint32_t code) override { real_.SetLastError(code); }
    bool Flush(FileHandle file) override { return !Fails("Flush") && real_.Flush(file); }
    bool Rename(std::u16string_view from, std::u16string_view to) override {
        return !Fails("Rename") && real_.Rename(from, to);
    }
    bool Kind(std::u16string_view path, PathKind& kind) override {
        return !Fails("Kind") && real_.Kind(path, kind);
    }
    bool CreateFolder(std::u16string_view path) override {
        return !Fails("CreateFolder") && real_.CreateFolder(path);
    }
    bool RemoveFolder(std::u16string_view path) override {
        return !Fails("RemoveFolder") && real_.RemoveFolder(path);
    }

protected:
    // True makes the call named `call` fail; set the error code before answering true.
    virtual bool Fails(const char* call) = 0;
    virtual void Seen(const char*) {}
    // True makes this Close report a failure. Close stays out of Fails, so tests that fail
    // every call in turn keep failing the calls they count.
    virtual bool FailsClose() { return false; }

    Os& real_;
};

} // namespace platform::testing
