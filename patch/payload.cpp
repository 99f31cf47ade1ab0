#include "patch/payload.h"

#include "platform/text.h"

namespace patch {

PatchError::PatchError(std::u16string text)
    : std::runtime_error(platform::Utf8(text)), text_(std::move(text)) {}

void SaveResourceToFile(platform::Resources& resources, platform::Os& os,
                        std::u16string_view resName, const std::u16string& fileName) {
    using platform::ResourceName;
    const platform::ResourceHandle found =
        resources.Find(0, ResourceName::Text(resName), ResourceName::Id(platform::kRtRcData));
    const platform::ResourceData loaded = found ? resources.Load(0, found) : 0;
    const void* bytes = loaded ? resources.Lock(loaded) : nullptr;
    if (!bytes) {
        throw PatchError(u"Resource " + std::u16string(resName) + u" not found");
    }
    const std::uint32_t size = resources.SizeOf(0, found);

    platform::ScopedFile file(os, os.CreateAlways(fileName));
    if (!file.IsValid()) {
        const std::uint32_t code = os.LastError();
        throw PatchError(u"Cannot create file \"" + fileName + u"\". " +
                         platform::SystemErrorText(code));
    }
    if (!os.WriteAt(file.Get(), 0, bytes, size)) {
        throw PatchError(u"Stream write error");
    }
}

} // namespace patch
