// The patch run's steps as the program performs them: the payload writer, the resource
// editor, the string patch and the dialog transplant on the platform's files and resources.
#pragma once

#include "patch/patchrun.h"
#include "platform/file.h"
#include "platform/resource.h"

namespace patch {

class SystemSteps final : public PatchSteps {
public:
    // targetDir is read at every step, so a folder picked during the run is used.
    SystemSteps(Reporter& reporter, platform::Resources& resources, platform::Os& os,
                const std::u16string& targetDir)
        : reporter_(reporter), resources_(resources), os_(os), targetDir_(targetDir) {}

    void SaveResourceToFile(std::u16string_view resName, const std::u16string& fileName) override;
    resedit::TResEditHandle* ResEditOpen(const std::u16string& fileName,
                                         bool dropExisting) override;
    bool ResEditReplaceIconGroup(resedit::TResEditHandle* handle, const resedit::ResKey& groupName,
                                 std::uint16_t language,
                                 const std::u16string& icoFileName) override;
    bool ResEditClose(resedit::TResEditHandle* handle, bool discard) override;
    bool PatchExeString(std::u16string_view replacement) override;
    bool RevertExeString(std::u16string_view replacement) override;
    bool TransplantDialog(const std::u16string& fileName, std::uint16_t resType,
                          std::uint16_t resId) override;

private:
    Reporter& reporter_;
    platform::Resources& resources_;
    platform::Os& os_;
    const std::u16string& targetDir_;
};

} // namespace patch
