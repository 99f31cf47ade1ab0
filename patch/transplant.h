// Copies a dialog template of the program's own executable into a file of the target folder
// through the platform's update-resource functions.
#pragma once

#include "binary/error.h"
#include "patch/host.h"
#include "platform/resource.h"

#include <cstdint>
#include <string>

namespace patch {

// Every template goes into the target in this language, whatever its own.
inline constexpr std::uint16_t kTransplantLanguage = 2052;

// One complete cycle: load the own executable, find, load and lock dialog resId of type
// resType, update targetDir + fileName with it (language 2052) and commit. Reports progress
// as console lines and each failure in a message box; nothing ends the cycle early. When the
// template could not be found, loaded or locked, the update is ended without writing, so the
// target's dialog is never deleted. Ok when the platform accepted the resource update;
// otherwise what kept it from that (NotFound: no template; Io: the update was refused).
binary::Status TransplantDialog(const Reporter& reporter, platform::Resources& resources,
                                const std::u16string& targetDir, const std::u16string& fileName,
                                std::uint16_t resType, std::uint16_t resId);

} // namespace patch
