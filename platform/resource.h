// The resource functions of the program's own module and the platform's update-resource
// functions for another file, as the patch run needs them. The logic calls them through the
// Resources interface, so that native tests can stand in for the platform.
//
// Handles are opaque values; 0 is "none". A module handle of 0 given to FindResource,
// LoadResource or SizeofResource means the running program's own image, as on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Resource types by id.
constexpr std::uint16_t kRtDialog = 5;
constexpr std::uint16_t kRtRcData = 10;

// A resource type or name: an integer id or a text (the text "101" is not the id 101).
struct ResourceName {
    static ResourceName Id(std::uint16_t id) { return ResourceName{true, id, {}}; }
    static ResourceName Text(std::u16string_view text) {
        return ResourceName{false, 0, std::u16string(text)};
    }
    bool isId = true;
    std::uint16_t id = 0;
    std::u16string text;
};

using ModuleHandle = std::uintptr_t;
using ResourceHandle = std::uintptr_t; // a found resource (HRSRC)
using ResourceData = std::uintptr_t;   // a loaded resource (HGLOBAL)
using UpdateHandle = std::uintptr_t;   // an update of another file's resources

// Every call that can fail returns 0 (or false) and leaves the reason in LastError().
class Resources {
public:
    virtual ~Resources() = default;

    // Loads an executable file as a module.
    virtual ModuleHandle LoadModule(std::u16string_view path) = 0;
    virtual bool UnloadModule(ModuleHandle module) = 0;
    // Names are found without regard to case; no language is given, so the platform picks one.
    virtual ResourceHandle Find(ModuleHandle module, const ResourceName& name,
                                const ResourceName& type) = 0;
    virtual ResourceData Load(ModuleHandle module, ResourceHandle resource) = 0;
    // The resource's bytes, read-only and valid while the module is loaded.
    virtual const void* Lock(ResourceData data) = 0;
    virtual std::uint32_t SizeOf(ModuleHandle module, ResourceHandle resource) = 0;

    // Starts an update of a file's resources, keeping them unless deleteExisting.
    virtual UpdateHandle BeginUpdate(std::u16string_view path, bool deleteExisting) = 0;
    // Adds or replaces one resource. Never give null data or size 0: that deletes it.
    virtual bool Update(UpdateHandle update, const ResourceName& type, const ResourceName& name,
                        std::uint16_t language, const void* data, std::uint32_t size) = 0;
    // Writes the update into the file (discard false) or drops it.
    virtual bool EndUpdate(UpdateHandle update, bool discard) = 0;

    // The full path of the running program's executable.
    virtual std::u16string OwnExecutablePath() = 0;
    virtual std::uint32_t LastError() = 0;
};

// The platform's implementation. Without a Windows loader (the native builds) every call
// fails with ERROR_NOT_SUPPORTED.
Resources& SystemResources();

// The system's text for an error code, without the trailing line break.
std::u16string SystemErrorText(std::uint32_t code);

} // namespace platform
