// Writing an embedded raw-data resource of the program's own module out as a file.
#pragma once

#include "binary/error.h"
#include "platform/file.h"
#include "platform/resource.h"

#include <string>
#include <string_view>

namespace patch {

// Writes the RT_RCDATA resource resName (matched without regard to case) of the running
// program as fileName, replacing and truncating any file of that name. Fails with the error
// the user is shown (patch/user_error.h): "Resource <name> not found" (NotFound), "Cannot create
// file "<path>". <system text>" or "Stream write error" (Io). The file is closed on every
// path once it was created.
binary::Status SaveResourceToFile(platform::Resources& resources, platform::Os& os,
                                  std::u16string_view resName, const std::u16string& fileName);

} // namespace patch
