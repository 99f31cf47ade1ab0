// The patch run: one click on the rabbit applies the whole localisation to the target folder
// in a fixed order of steps.
#pragma once

#include "patch/host.h"
#include "resedit/resedit.h"

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
// tests record the calls.
class PatchSteps {
public:
    virtual ~PatchSteps() = default;
    // Raises PatchError on failure (see payload.h); the run does not catch it.
    virtual void SaveResourceToFile(std::u16string_view resName,
                                    const std::u16string& fileName) = 0;
    virtual resedit::TResEditHandle* ResEditOpen(const std::u16string& fileName,
                                                 bool dropExisting) = 0;
    virtual bool ResEditReplaceIconGroup(resedit::TResEditHandle* handle,
                                         const resedit::ResKey& groupName, std::uint16_t language,
                                         const std::u16string& icoFileName) = 0;
    virtual bool ResEditClose(resedit::TResEditHandle* handle, bool discard) = 0;
    // True when the name was rewritten everywhere (a failure has shown its message).
    virtual bool PatchExeString(std::u16string_view replacement) = 0;
    // The replacement back to the Chinese pack's name, silently; true when done.
    virtual bool RevertExeString(std::u16string_view replacement) = 0;
    virtual bool TransplantDialog(const std::u16string& fileName, std::uint16_t resType,
                                  std::uint16_t resId) = 0;
};

// The run, TForm1.GoClick. targetDir is the program-wide target folder (with its trailing
// backslash); the run replaces it when the user picks iTools.exe elsewhere.
void GoClick(PatchHost& host, PatchSteps& steps, std::u16string& targetDir);

// The rabbit's click handler: repaint, the run, the frame timer off for good, repaint. An
// error the run raises leaves the timer running; the window's error handler shows it.
void RabbitClick(PatchHost& host, PatchSteps& steps, std::u16string& targetDir);

// TargetDir for a path picked in the open-file dialog: its folder and one backslash, so a
// file in a drive's root gives a folder ending in two backslashes.
std::u16string TargetDirForPick(std::u16string_view pickedPath);

} // namespace patch
