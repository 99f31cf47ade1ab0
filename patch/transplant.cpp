// The dialog transplant: one template of the program's own image into a file of the target.
#include "patch/transplant.h"

#include <string>

namespace patch {

namespace {

using binary::ErrorCode;

std::u16string Decimal(std::uint16_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

} // namespace

binary::Status TransplantDialog(const Reporter& reporter, platform::Resources& resources,
                                const std::u16string& targetDir, const std::u16string& fileName,
                                std::uint16_t resType, std::uint16_t resId) {
    using platform::ResourceName;
    const std::u16string id = Decimal(resId);

    reporter.console.AppendLog(u"Load: " + fileName);
    // A failed load leaves module 0, which the resource functions take as the running
    // program's own image: the same file, so the steps below still find the template.
    const platform::ModuleHandle module = resources.LoadModule(resources.OwnExecutablePath());
    if (!module) {
        reporter.console.AppendLog(u"Could not load:" + fileName);
    }

    reporter.console.AppendLog(u"Find resources in: " + fileName);
    const platform::ResourceHandle found =
        resources.Find(module, ResourceName::Id(resId), ResourceName::Id(resType));
    if (!found) {
        reporter.boxes.ShowMessage(u"Could not locate :" + id);
    }
    const platform::ResourceData loaded = found ? resources.Load(module, found) : 0;
    if (!loaded) {
        reporter.boxes.ShowMessage(u"Could not load dialog box:" + id);
    }

    reporter.console.AppendLog(u"Read resources in: " + fileName);
    const void* bytes = loaded ? resources.Lock(loaded) : nullptr;
    if (!bytes) {
        reporter.boxes.ShowMessage(u"Could not lock dialog box:" + id);
    }

    reporter.console.AppendLog(u"Open file for writing: " + fileName);
    const platform::UpdateHandle update = resources.BeginUpdate(targetDir + fileName, false);
    if (!update) {
        reporter.boxes.ShowMessage(u"Could not open file for writing.");
    }

    // Null data or size 0 would ask the platform to delete the target's resource: without a
    // template there is nothing to add.
    const std::uint32_t size = found ? resources.SizeOf(module, found) : 0;
    const bool haveTemplate = bytes != nullptr && size > 0;
    const bool added = update && haveTemplate &&
                       resources.Update(update, ResourceName::Id(resType), ResourceName::Id(resId),
                                        kTransplantLanguage, bytes, size);
    reporter.console.AppendLog(u"Adding patched resources: " + id + u" in file:" + fileName);
    if (!added) {
        reporter.boxes.ShowMessage(u"Could not add resource:" + id);
    }

    if (!update || !resources.EndUpdate(update, !haveTemplate)) {
        reporter.boxes.ShowMessage(u"Could not write changes to file:" + fileName);
    }

    reporter.console.AppendLog(u"Clean up...");
    if (!module || !resources.UnloadModule(module)) {
        reporter.boxes.ShowMessage(u"Could not free executable:" + fileName);
    }
    if (added) {
        return binary::Ok();
    }
    const std::string dialog = "dialog " + std::to_string(resId);
    return haveTemplate ? binary::Fault(ErrorCode::Io, "the update of " + dialog + " was refused")
                        : binary::Fault(ErrorCode::NotFound, dialog + " is not in the program");
}

} // namespace patch
