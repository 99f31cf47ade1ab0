// Writing an embedded raw-data resource of the program's own module out as a file.
#pragma once

#include "platform/file.h"
#include "platform/resource.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace patch {

// An error the patch routines raise to the caller; its text is what the user is shown.
class PatchError : public std::runtime_error {
public:
    explicit PatchError(std::u16string text);
    const std::u16string& Text() const { return text_; }

private:
    std::u16string text_;
};

// Writes the RT_RCDATA resource resName (matched without regard to case) of the running
// program as fileName, replacing and truncating any file of that name. Raises PatchError:
// "Resource <name> not found", "Cannot create file "<path>". <system text>" or
// "Stream write error". The file is closed on every path once it was created.
void SaveResourceToFile(platform::Resources& resources, platform::Os& os,
                        std::u16string_view resName, const std::u16string& fileName);

} // namespace patch
