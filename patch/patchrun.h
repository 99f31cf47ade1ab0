// The patch run: one click on the rabbit applies the whole localisation to the target folder
// in a fixed order of steps.
#pragma once

#include "binary/error.h"
#include "patch/host.h"
#include "platform/file.h"
#include "resedit/resedit.h"
#include "show/console.h"
#include "show/window_loop.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace patch {

inline constexpr std::u16string_view kTargetWindowClass = u"CHWindow";
inline constexpr std::u16string_view kTargetWindowTitle = u"iTools 3";
inline constexpr std::u16string_view kTargetExe = u"iTools.exe";
inline constexpr std::u16string_view kIconResource = u"patchdata";
inline constexpr std::u16string_view kIconFile = u"patchdata.data";
inline constexpr std::u16string_view kIconGroup = u"106"; // a name, not the id 106
inline constexpr std::uint16_t kIconLanguage = 2052;
inline constexpr std::u16string_view kRussianPack = u"res_ru.data";
inline constexpr std::u16string_view kPackResource = u"res_ru";
inline constexpr std::u16string_view kChinesePack = u"res_cn.data";
inline constexpr std::u16string_view kDialogLibrary = u"TSRes.dll";
inline constexpr std::uint16_t kDialogType = 5;
inline constexpr std::array<std::uint16_t, 3> kDialogIds = {101, 226, 520};

// The open-file dialog's stored default file name and filter (display text | pattern).
inline constexpr std::u16string_view kDefaultTargetPath =
    u"C:\\Program Files (x86)\\ThinkSky\\iTools 3\\iTools.exe";
inline constexpr std::u16string_view kOpenDialogFilter = u"iTools.exe|iTools.exe";

inline constexpr std::u16string_view kIconNotInstalledCaption = u"Иконка не установлена!!!";

// The operations the run calls, in the order of its steps. The program uses SystemSteps;
// tests record the calls. The resource editor's three keep its own results (a handle or
// null, true or false, with the reason in the thread's last-error code).
class PatchSteps {
public:
    virtual ~PatchSteps() = default;
    // Its error is the text the user is shown (see payload.h).
    virtual binary::Status SaveResourceToFile(std::u16string_view resName,
                                              const std::u16string& fileName) = 0;
    [[nodiscard]] virtual resedit::TResEditHandle* ResEditOpen(const std::u16string& fileName,
                                                               bool dropExisting) = 0;
    [[nodiscard]] virtual bool ResEditReplaceIconGroup(resedit::TResEditHandle* handle,
                                                       const resedit::ResKey& groupName,
                                                       std::uint16_t language,
                                                       const std::u16string& icoFileName) = 0;
    [[nodiscard]] virtual bool ResEditClose(resedit::TResEditHandle* handle, bool discard) = 0;
    // Keeps copies of the target's files before the run changes the folder (backup.h). Its
    // error is the text the user is shown; the run does not start then.
    virtual binary::Status KeepOriginals(const std::u16string& targetDir) = 0;
    // Ok when the name was rewritten everywhere; a failure has shown its message. `rewritten`
    // is the number of occurrences this call rewrote, also after a failure.
    virtual binary::Status PatchExeString(std::u16string_view replacement,
                                          std::uint64_t& rewritten) = 0;
    // The replacement back to the Chinese pack's name, silently.
    virtual binary::Status RevertExeString(std::u16string_view replacement) = 0;
    // Ok when the platform accepted the update; each failure has been reported.
    virtual binary::Status TransplantDialog(const std::u16string& fileName, std::uint16_t resType,
                                            std::uint16_t resId) = 0;
};

// Step 4 of the run: the target in targetDir, else the not-found message and the open-file
// dialog, whose pick replaces targetDir. False after a second miss, which the second message
// has named: the caller ends the program.
[[nodiscard]] bool LocateTarget(TargetHost& host, platform::Os& os, std::u16string& targetDir);

// The run, TForm1.GoClick: lines in the console, the window's loop pumped once, files looked
// up and removed through os. targetDir is the program-wide target folder (with its trailing
// backslash); the run replaces it when the user picks iTools.exe elsewhere. Every failure
// but two is reported where it happens and the run goes on or ends quietly; a backup that
// cannot be made or a payload that cannot be written ends the run with its error, which the
// caller shows as the window shows any error that no handler caught.
binary::Status GoClick(PatchHost& host, show::Console& console, show::WindowLoop& loop,
                       PatchSteps& steps, platform::Os& os, std::u16string& targetDir);

// The rabbit's click handler: repaint, the run, the frame timer off for good, repaint. An
// error of the run ends the handler too, with the timer still running.
binary::Status RabbitClick(PatchHost& host, show::Console& console, show::WindowLoop& loop,
                           PatchSteps& steps, platform::Os& os, std::u16string& targetDir);

// TargetDir for a path picked in the open-file dialog: its folder and one backslash, so a
// file in a drive's root gives a folder ending in two backslashes.
std::u16string TargetDirForPick(std::u16string_view pickedPath);

} // namespace patch
