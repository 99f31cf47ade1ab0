// An embedded payload written out to a file of the target folder.
#include "patch/payload.h"

#include "patch/user_error.h"

namespace patch {

binary::Status SaveResourceToFile(platform::Resources& resources, platform::Os& os,
                                  std::u16string_view resName, const std::u16string& fileName) {
    using binary::ErrorCode;
    using platform::ResourceName;
    const platform::ResourceHandle found =
        resources.Find(0, ResourceName::Text(resName), ResourceName::Id(platform::kRtRcData));
    const platform::ResourceData loaded = found ? resources.Load(0, found) : 0;
    const void* bytes = loaded ? resources.Lock(loaded) : nullptr;
    if (!bytes) {
        return UserError(ErrorCode::NotFound,
                         u"Resource " + std::u16string(resName) + u" not found");
    }
    const std::uint32_t size = resources.SizeOf(0, found);

    platform::ScopedFile file(os, os.CreateAlways(fileName));
    if (!file.IsValid()) {
        const std::uint32_t code = os.LastError();
        return UserError(ErrorCode::Io, u"Cannot create file \"" + fileName + u"\". " +
                                            platform::SystemErrorText(code));
    }
    if (!os.WriteAt(file.Get(), 0, bytes, size)) {
        return UserError(ErrorCode::Io, u"Stream write error");
    }
    return binary::Ok();
}

} // namespace patch
