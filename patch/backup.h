// A way back: the target's own files are copied into a folder of the target folder before the
// patch run changes anything, and the restore puts them back.
//
// The backup holds iTools.exe, TSRes.dll and res_cn.data as they were before the first run
// (those of them that exist). A copy is written under a temporary name, flushed and renamed,
// so a copy cut short never passes for a whole one; a file that the backup holds is never
// written again. A target that an earlier run has localised gets no backup: there is no
// original left to keep, and a "restore" would remove the pack that its iTools.exe loads.
#pragma once

#include "binary/error.h"
#include "patch/host.h"
#include "patch/patchrun.h"
#include "platform/file.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace patch {

inline constexpr std::u16string_view kBackupFolder = u"iTools3-Rus backup";
// The files kept, in the order the restore puts them back: the pack before the executable
// that loads it, so that at every moment of a restore iTools.exe finds the pack it names.
inline constexpr std::array<std::u16string_view, 3> kKeptFiles = {kChinesePack, kDialogLibrary,
                                                                  kTargetExe};
// A copy is written under its final name and this suffix, then renamed.
inline constexpr std::u16string_view kPartialSuffix = u".partial";

// The path of a file of targetDir's backup folder (name empty: the folder itself). Paths are
// joined with the target folder's own separator (its last character).
std::u16string BackupPath(const std::u16string& targetDir, std::u16string_view name = {});

// Whether an earlier run has localised the target: res_ru.data or patchdata.data is there, or
// iTools.exe names "res_ru.data" at a position the string patch tests. (A run stopped before its
// string patch, e.g. at the icon file, leaves none of these, so its target counts as original.)
binary::Expected<bool> AlreadyLocalised(platform::Os& os, const std::u16string& targetDir);

// Keeps the originals, before the patch run changes the target folder. With the backup folder
// there, only a file it lacks and the target has is copied (a backup cut short by a killed
// process is completed; nothing else changes). Without it, a target already localised gets
// none; otherwise the folder is made and each existing original copied. A failure takes back
// what this call made, so the target folder is as it was, and its error is the message the
// user is shown: the file, the system's reason, and that nothing was changed.
binary::Status KeepOriginals(platform::Os& os, const std::u16string& targetDir);

// What a restore did.
struct RestoreOutcome {
    std::vector<std::u16string> restored; // names put back
    std::vector<std::u16string> removed;  // res_ru.data and patchdata.data where they were
    bool folderRemoved = false;
    std::u16string folderLeft; // why the backup folder stayed, when it did
};

// Puts every file of the backup back (each copied beside its target under a temporary name,
// then renamed over it), removes res_ru.data and patchdata.data, and then the backup folder.
// Without a backup nothing changes and the error says so (NotFound). A failure before the
// first file is renamed leaves the target as it was; any failure leaves the backup whole, so
// the restore can run again. The error is the message the user is shown.
binary::Status RestoreOriginals(platform::Os& os, const std::u16string& targetDir,
                                RestoreOutcome& outcome);

// The message of a restore that went through.
std::u16string RestoreDoneText(const std::u16string& targetDir, const RestoreOutcome& outcome);

// iTools3-Rus.exe /restore: the running-target check and the target located as the patch run
// does them, then the restore and one message box saying what it did or why it could not.
// When the user names no file twice, the second message says so and nothing is restored: the
// program then ends with the restore, as the patch run ends the program.
void RestoreRun(TargetHost& host, platform::Os& os, std::u16string& targetDir);

} // namespace patch
