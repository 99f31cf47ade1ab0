// The patch run's stand-ins: the recorders of the window, the steps and the file look-ups,
// and the program's own resources as a table.
#include "patch/tests/fakes.h"

#include "patch/user_error.h"
#include "platform/text.h"

#include <algorithm>

namespace patch::testing {

namespace {

std::string Name(const platform::ResourceName& n) {
    return n.isId ? std::to_string(n.id) : U8(n.text);
}

bool SameName(const platform::ResourceName& a, const platform::ResourceName& b) {
    if (a.isId != b.isId) {
        return false;
    }
    if (a.isId) {
        return a.id == b.id;
    }
    // Names are found without regard to case, as the Windows loader does.
    auto upper = [](std::u16string s) {
        for (char16_t& c : s) {
            if (c >= u'a' && c <= u'z') {
                c = static_cast<char16_t>(c - u'a' + u'A');
            }
        }
        return s;
    };
    return upper(a.text) == upper(b.text);
}

} // namespace

std::string U8(std::u16string_view text) {
    return platform::Utf8(text);
}

void RecordingReporter::AppendLog(const std::u16string& line) {
    lines.push_back(U8(line));
    events_.push_back("log:" + U8(line));
}

void RecordingReporter::ShowMessage(const std::u16string& text) {
    boxes.push_back(U8(text));
    events_.push_back("box:" + U8(text));
}

bool RecordingOs::Kind(std::u16string_view path, platform::PathKind& kind) {
    events_.push_back("exists:" + U8(path));
    if (files_) {
        kind = files_->count(std::u16string(path)) ? platform::PathKind::File
                                                   : platform::PathKind::Missing;
        return true;
    }
    return InterceptingOs::Kind(path, kind);
}

bool RecordingOs::Delete(std::u16string_view path) {
    events_.push_back("delete:" + U8(path));
    if (files_) {
        return files_->erase(std::u16string(path)) != 0;
    }
    return InterceptingOs::Delete(path);
}

bool RecordingHost::ExecuteOpenDialog() {
    events_.push_back("open-dialog:" + U8(dialogFileName));
    if (dialogShown_ >= dialogAnswers.size()) {
        return false;
    }
    const auto& [confirm, pick] = dialogAnswers[dialogShown_++];
    if (confirm) {
        dialogFileName = pick;
    }
    return confirm;
}

binary::Status RecordingSteps::SaveResourceToFile(std::u16string_view resName,
                                                  const std::u16string& fileName) {
    events_.push_back("save:" + U8(resName) + ">" + U8(fileName));
    if (resName == saveFailsFor) {
        return UserError(binary::ErrorCode::Io,
                         u"Cannot create file \"" + fileName + u"\". Access is denied.");
    }
    return binary::Ok();
}

bool RecordingSteps::ResEditReplaceIconGroup(resedit::TResEditHandle* handle,
                                             const resedit::ResKey& groupName,
                                             std::uint16_t language,
                                             const std::u16string& icoFileName) {
    const std::string key = groupName.IsId() ? "id " + std::to_string(groupName.Id())
                                             : "\"" + U8(groupName.Name()) + "\"";
    events_.push_back("resedit-replace:" + std::string(handle == &handle_ ? "handle," : "other,") +
                      key + "," + std::to_string(language) + "," + U8(icoFileName));
    return !replaceFails;
}

binary::Status RecordingSteps::KeepOriginals(const std::u16string& targetDir) {
    events_.push_back("backup:" + U8(targetDir));
    if (backupFails) {
        return UserError(binary::ErrorCode::Io, *backupFails);
    }
    return binary::Ok();
}

binary::Status RecordingSteps::PatchExeString(std::u16string_view replacement,
                                              std::uint64_t& rewritten) {
    events_.push_back("string-patch:" + U8(replacement));
    rewritten = stringPatchRewrites;
    if (!stringPatchFails) {
        return binary::Ok();
    }
    events_.push_back("box:string patch failed");
    return binary::Fault(binary::ErrorCode::Io, "cannot open the file");
}

// Module handles: 1 is the own image (also reached with 0); resources are 1 + index.
constexpr platform::ModuleHandle kOwnModule = 1;

platform::ModuleHandle FakeResources::LoadModule(std::u16string_view path) {
    calls.push_back("LoadLibrary:" + U8(path));
    if (failLoadLibrary || path != ownPath) {
        lastError_ = platform::error::kFileNotFound;
        return 0;
    }
    ++loadedModules;
    return kOwnModule;
}

bool FakeResources::UnloadModule(platform::ModuleHandle module) {
    calls.push_back("FreeLibrary:" + std::to_string(module));
    if (failFree || module != kOwnModule || loadedModules == 0) {
        lastError_ = platform::error::kInvalidHandle;
        return false;
    }
    --loadedModules;
    return true;
}

platform::ResourceHandle FakeResources::Find(platform::ModuleHandle module,
                                             const platform::ResourceName& name,
                                             const platform::ResourceName& type) {
    calls.push_back("FindResource:" + std::to_string(module) + "," + Name(name) + "," + Name(type));
    if (failFind || (module != 0 && module != kOwnModule)) {
        lastError_ = platform::error::kFileNotFound;
        return 0;
    }
    for (std::size_t i = 0; i < own.size(); ++i) {
        if (SameName(own[i].type, type) && SameName(own[i].name, name)) {
            return i + 1;
        }
    }
    lastError_ = 1813; // ERROR_RESOURCE_TYPE_NOT_FOUND
    return 0;
}

platform::ResourceData FakeResources::Load(platform::ModuleHandle,
                                           platform::ResourceHandle resource) {
    calls.push_back("LoadResource:" + std::to_string(resource));
    if (failLoad || resource == 0 || resource > own.size()) {
        return 0;
    }
    return resource;
}

const void* FakeResources::Lock(platform::ResourceData data) {
    calls.push_back("LockResource:" + std::to_string(data));
    if (failLock || data == 0 || data > own.size()) {
        return nullptr;
    }
    static const std::uint8_t kEmpty = 0; // a resource of no bytes still has an address
    return own[data - 1].bytes.empty() ? &kEmpty : own[data - 1].bytes.data();
}

std::uint32_t FakeResources::SizeOf(platform::ModuleHandle, platform::ResourceHandle resource) {
    calls.push_back("SizeofResource:" + std::to_string(resource));
    if (resource == 0 || resource > own.size()) {
        return 0;
    }
    return static_cast<std::uint32_t>(own[resource - 1].bytes.size());
}

platform::UpdateHandle FakeResources::BeginUpdate(std::u16string_view path, bool deleteExisting) {
    calls.push_back("BeginUpdateResource:" + U8(path) + (deleteExisting ? ",delete" : ",keep"));
    if (failBegin || !std::filesystem::is_regular_file(std::filesystem::path(path))) {
        lastError_ = platform::error::kFileNotFound;
        return 0;
    }
    const platform::UpdateHandle h = nextUpdate_++;
    open_[h] = Commit{std::u16string(path), false, {}};
    return h;
}

bool FakeResources::Update(platform::UpdateHandle update, const platform::ResourceName& type,
                           const platform::ResourceName& name, std::uint16_t language,
                           const void* data, std::uint32_t size) {
    calls.push_back("UpdateResource:" + std::to_string(update) + "," + Name(type) + "," +
                    Name(name) + "," + std::to_string(language) + "," + std::to_string(size) +
                    (data ? "" : ",null"));
    auto it = open_.find(update);
    if (failUpdate || it == open_.end()) {
        lastError_ = platform::error::kInvalidHandle;
        return false;
    }
    const auto* p = static_cast<const std::uint8_t*>(data);
    it->second.updates.push_back(UpdateRecord{it->second.path, type.id, name.id, language,
                                              p ? Bytes(p, p + size) : Bytes{}});
    return true;
}

bool FakeResources::EndUpdate(platform::UpdateHandle update, bool discard) {
    calls.push_back("EndUpdateResource:" + std::to_string(update) +
                    (discard ? ",discard" : ",write"));
    auto it = open_.find(update);
    if (it == open_.end()) {
        lastError_ = platform::error::kInvalidHandle;
        return false;
    }
    Commit c = std::move(it->second);
    open_.erase(it);
    if (failEnd) {
        lastError_ = platform::error::kAccessDenied;
        return false;
    }
    c.discard = discard;
    committed.push_back(std::move(c));
    return true;
}

bool CountingOs::Fails(const char* op) {
    const int n = ++counts[op];
    if (op == failOp && n == failAt) {
        real_.SetLastError(failCode);
        return true;
    }
    return false;
}

bool CountingOs::FailsClose() {
    if (failOp == "Close" && counts["Close"] == failAt) {
        real_.SetLastError(failCode);
        return true;
    }
    return false;
}

Bytes Utf16Bytes(std::u16string_view text) {
    Bytes b;
    for (char16_t c : text) {
        b.push_back(static_cast<std::uint8_t>(c & 0xFF));
        b.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return b;
}

} // namespace patch::testing
