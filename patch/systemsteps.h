// The patch run's steps as the program performs them: each is the function of its name on the
// platform's files and resources (the backup, the payload writer, the resource editor, the
// string patch and the dialog transplant).
#pragma once

#include "patch/backup.h"
#include "patch/patchrun.h"
#include "patch/payload.h"
#include "patch/stringpatch.h"
#include "patch/transplant.h"
#include "platform/file.h"
#include "platform/resource.h"

namespace patch {

class SystemSteps final : public PatchSteps {
public:
    // targetDir is read at every step, so a folder picked during the run is used.
    SystemSteps(Reporter reporter, platform::Resources& resources, platform::Os& os,
                const std::u16string& targetDir)
        : reporter_(reporter), resources_(resources), os_(os), targetDir_(targetDir) {}

    binary::Status SaveResourceToFile(std::u16string_view resName,
                                      const std::u16string& fileName) override {
        return patch::SaveResourceToFile(resources_, os_, resName, fileName);
    }
    resedit::TResEditHandle* ResEditOpen(const std::u16string& fileName,
                                         bool dropExisting) override {
        return resedit::ResEditOpen(os_, fileName, dropExisting);
    }
    bool ResEditReplaceIconGroup(resedit::TResEditHandle* handle, const resedit::ResKey& groupName,
                                 std::uint16_t language,
                                 const std::u16string& icoFileName) override {
        return resedit::ResEditReplaceIconGroup(handle, groupName, language, icoFileName);
    }
    bool ResEditClose(resedit::TResEditHandle* handle, bool discard) override {
        return resedit::ResEditClose(handle, discard);
    }
    binary::Status KeepOriginals(const std::u16string& targetDir) override {
        return patch::KeepOriginals(os_, targetDir);
    }
    binary::Status PatchExeString(std::u16string_view replacement,
                                  std::uint64_t& rewritten) override {
        return patch::PatchExeString(os_, reporter_.boxes, targetDir_, replacement, &rewritten);
    }
    binary::Status RevertExeString(std::u16string_view replacement) override {
        return patch::RevertExeString(os_, targetDir_, replacement);
    }
    binary::Status TransplantDialog(const std::u16string& fileName, std::uint16_t resType,
                                    std::uint16_t resId) override {
        return patch::TransplantDialog(reporter_, resources_, targetDir_, fileName, resType, resId);
    }

private:
    Reporter reporter_;
    platform::Resources& resources_;
    platform::Os& os_;
    const std::u16string& targetDir_;
};

} // namespace patch
