// Win32 implementation of the resource functions: thin wrappers over the loader's resource
// functions and BeginUpdateResourceW / UpdateResourceW / EndUpdateResourceW.
#include "platform/resource.h"
#include "platform/text.h"

#include <windows.h>

#include <vector>

namespace platform {

namespace {

// The pointer form the resource functions take: MAKEINTRESOURCE for an id, else the text.
class NameArg {
public:
    explicit NameArg(const ResourceName& name) : name_(name) {
        if (!name.isId) {
            text_.assign(name.text.begin(), name.text.end());
        }
    }
    LPCWSTR Get() const { return name_.isId ? MAKEINTRESOURCEW(name_.id) : text_.c_str(); }

private:
    const ResourceName& name_;
    std::wstring text_;
};

HMODULE Module(ModuleHandle m) {
    return reinterpret_cast<HMODULE>(m);
}
HRSRC Resource(ResourceHandle r) {
    return reinterpret_cast<HRSRC>(r);
}

class Win32Resources final : public Resources {
public:
    ModuleHandle LoadModule(std::u16string_view path) override {
        return reinterpret_cast<ModuleHandle>(LoadLibraryW(Wide(path).c_str()));
    }
    bool UnloadModule(ModuleHandle module) override { return ::FreeLibrary(Module(module)) != 0; }

    ResourceHandle Find(ModuleHandle module, const ResourceName& name,
                        const ResourceName& type) override {
        const NameArg n(name), t(type);
        return reinterpret_cast<ResourceHandle>(FindResourceW(Module(module), n.Get(), t.Get()));
    }
    ResourceData Load(ModuleHandle module, ResourceHandle resource) override {
        return reinterpret_cast<ResourceData>(::LoadResource(Module(module), Resource(resource)));
    }
    const void* Lock(ResourceData data) override {
        return ::LockResource(reinterpret_cast<HGLOBAL>(data));
    }
    std::uint32_t SizeOf(ModuleHandle module, ResourceHandle resource) override {
        return ::SizeofResource(Module(module), Resource(resource));
    }

    UpdateHandle BeginUpdate(std::u16string_view path, bool deleteExisting) override {
        return reinterpret_cast<UpdateHandle>(
            BeginUpdateResourceW(Wide(path).c_str(), deleteExisting));
    }
    bool Update(UpdateHandle update, const ResourceName& type, const ResourceName& name,
                std::uint16_t language, const void* data, std::uint32_t size) override {
        const NameArg t(type), n(name);
        return UpdateResourceW(reinterpret_cast<HANDLE>(update), t.Get(), n.Get(), language,
                               const_cast<void*>(data), size) != 0;
    }
    bool EndUpdate(UpdateHandle update, bool discard) override {
        return EndUpdateResourceW(reinterpret_cast<HANDLE>(update), discard) != 0;
    }

    std::u16string OwnExecutablePath() override {
        std::vector<wchar_t> buffer(MAX_PATH);
        for (;;) {
            const DWORD n =
                GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (n == 0) {
                return {};
            }
            if (n < buffer.size()) {
                return std::u16string(buffer.data(), buffer.data() + n);
            }
            buffer.resize(buffer.size() * 2);
        }
    }
    std::uint32_t LastError() override { return GetLastError(); }
};

} // namespace

Resources& SystemResources() {
    static Win32Resources resources;
    return resources;
}

std::u16string SystemErrorText(std::uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::u16string text;
    if (n && buffer) {
        text.assign(buffer, buffer + n);
    }
    LocalFree(buffer);
    while (!text.empty() && text.back() <= u' ') {
        text.pop_back();
    }
    if (text.empty()) {
        const std::string number = std::to_string(code);
        text = u"System error " + std::u16string(number.begin(), number.end());
    }
    return text;
}

} // namespace platform
