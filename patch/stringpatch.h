// Rewrites the resource-pack name inside the target executable, in place.
#pragma once

#include "binary/error.h"
#include "patch/host.h"
#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace patch {

// The name the target executable holds as UTF-16, and the length every replacement has.
inline constexpr std::u16string_view kPackNameInTarget = u"res_cn.data";
inline constexpr std::size_t kPackNameUnits = 11;
// The target file as the string patch names it (the platform compares names without case).
inline constexpr std::u16string_view kStringPatchTarget = u"itools.exe";

// The one message of a failed string patch, for the target path P.
std::u16string StringPatchFailureText(const std::u16string& path);

// Rewrites every UTF-16 "res_cn.data" of targetDir + "itools.exe" that starts at an even
// byte offset from 2 up to the file's record count minus 13 (in 2-byte records) into
// replacement (11 code units). The file keeps its size and every other byte. Any failure,
// closing the file included, shows the one message box and is returned; matches already
// rewritten stay rewritten. A replacement of another length is refused the same way, without
// touching the file. `rewritten`, when given, receives the number of matches rewritten, also
// after a failure.
binary::Status PatchExeString(platform::Os& os, MessageBoxes& boxes,
                              const std::u16string& targetDir, std::u16string_view replacement,
                              std::uint64_t* rewritten = nullptr);

// Rewrites replacement back to "res_cn.data" at the positions PatchExeString tests, without
// any message: for a run that could not write the pack the replacement names.
binary::Status RevertExeString(platform::Os& os, const std::u16string& targetDir,
                               std::u16string_view replacement);

// The scan itself; stops at the first failing file operation, which the error names (Io) with
// the part of the file it concerned. blockBytes is the size of one read (tests use small
// blocks to cross block boundaries). `rewritten`, when given, counts the matches rewritten.
binary::Status RewriteUtf16(platform::Os& os, const std::u16string& path,
                            std::u16string_view search, std::u16string_view replacement,
                            std::size_t blockBytes, std::uint64_t* rewritten = nullptr);

// The number of occurrences of search at the positions the string patch tests, reading the
// file only (others may read and write it meanwhile).
binary::Expected<std::uint64_t> CountUtf16(platform::Os& os, const std::u16string& path,
                                           std::u16string_view search);

} // namespace patch
