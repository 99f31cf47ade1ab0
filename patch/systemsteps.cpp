#include "patch/systemsteps.h"

#include "patch/payload.h"
#include "patch/stringpatch.h"
#include "patch/transplant.h"

namespace patch {

void SystemSteps::SaveResourceToFile(std::u16string_view resName, const std::u16string& fileName) {
    patch::SaveResourceToFile(resources_, os_, resName, fileName);
}

resedit::TResEditHandle* SystemSteps::ResEditOpen(const std::u16string& fileName,
                                                  bool dropExisting) {
    return resedit::ResEditOpen(os_, fileName, dropExisting);
}

bool SystemSteps::ResEditReplaceIconGroup(resedit::TResEditHandle* handle,
                                          const resedit::ResKey& groupName, std::uint16_t language,
                                          const std::u16string& icoFileName) {
    return resedit::ResEditReplaceIconGroup(handle, groupName, language, icoFileName);
}

bool SystemSteps::ResEditClose(resedit::TResEditHandle* handle, bool discard) {
    return resedit::ResEditClose(handle, discard);
}

bool SystemSteps::PatchExeString(std::u16string_view replacement) {
    return patch::PatchExeString(os_, reporter_, targetDir_, replacement);
}

bool SystemSteps::RevertExeString(std::u16string_view replacement) {
    return patch::RevertExeString(os_, targetDir_, replacement);
}

bool SystemSteps::TransplantDialog(const std::u16string& fileName, std::uint16_t resType,
                                   std::uint16_t resId) {
    return patch::TransplantDialog(reporter_, resources_, targetDir_, fileName, resType, resId);
}

} // namespace patch
