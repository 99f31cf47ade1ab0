// The resource functions where there is no Windows loader: every call fails with
// ERROR_NOT_SUPPORTED. The error texts are those of the codes the file services give.
#include "platform/file.h"
#include "platform/resource.h"

namespace platform {

namespace {

class NoResources final : public Resources {
public:
    ModuleHandle LoadModule(std::u16string_view) override { return 0; }
    bool UnloadModule(ModuleHandle) override { return false; }
    ResourceHandle Find(ModuleHandle, const ResourceName&, const ResourceName&) override {
        return 0;
    }
    ResourceData Load(ModuleHandle, ResourceHandle) override { return 0; }
    const void* Lock(ResourceData) override { return nullptr; }
    std::uint32_t SizeOf(ModuleHandle, ResourceHandle) override { return 0; }
    UpdateHandle BeginUpdate(std::u16string_view, bool) override { return 0; }
    bool Update(UpdateHandle, const ResourceName&, const ResourceName&, std::uint16_t, const void*,
                std::uint32_t) override {
        return false;
    }
    bool EndUpdate(UpdateHandle, bool) override { return false; }
    std::u16string OwnExecutablePath() override { return {}; }
    std::uint32_t LastError() override { return error::kNotSupported; }
};

} // namespace

Resources& SystemResources() {
    static NoResources resources;
    return resources;
}

std::u16string SystemErrorText(std::uint32_t code) {
    switch (code) {
    case error::kSuccess:
        return u"The operation completed successfully.";
    case error::kFileNotFound:
        return u"The system cannot find the file specified.";
    case error::kPathNotFound:
        return u"The system cannot find the path specified.";
    case error::kAccessDenied:
        return u"Access is denied.";
    case error::kSharingViolation:
        return u"The process cannot access the file because it is being used by another process.";
    case error::kDiskFull:
        return u"There is not enough space on the disk.";
    case error::kNotSupported:
        return u"The request is not supported.";
    case error::kDirNotEmpty:
        return u"The directory is not empty.";
    case error::kAlreadyExists:
        return u"Cannot create a file when that file already exists.";
    default: {
        const std::string number = std::to_string(code);
        return u"System error " + std::u16string(number.begin(), number.end());
    }
    }
}

} // namespace platform
