#include "patch/patchrun.h"

#include "platform/path.h"

namespace patch {

std::u16string TargetDirForPick(std::u16string_view pickedPath) {
    return platform::ExtractFileDir(pickedPath) + u"\\";
}

void GoClick(PatchHost& host, PatchSteps& steps, std::u16string& targetDir) {
    // 1. A clean console without a caret.
    host.ClearLog();
    host.HideConsoleCaret();

    // 2. Nothing may be touched while the target runs.
    if (host.TopLevelWindowExists(kTargetWindowClass, kTargetWindowTitle)) {
        host.ShowMessage(u"Please, close iTools!");
        return;
    }

    // 3.
    host.AppendLog(u"Working Please wait!");

    // 4. Locate the target, asking the user when it is not in the target folder.
    if (!host.FileExists(targetDir + std::u16string(kTargetExe))) {
        host.ShowMessage(u"Не найден файл: " + targetDir + u"\"iTools.exe\"" + u"\n\r" + u"\n\r" +
                         u"Выберите файл \"iTools.exe\" вручную!");
        if (host.ExecuteOpenDialog()) {
            targetDir = TargetDirForPick(host.OpenDialogFileName());
        }
        const std::u16string picked = host.OpenDialogFileName();
        if (!host.FileExists(picked)) {
            host.ShowMessage(u"Вы опять не правильно указали файл!: " + picked);
            host.EndProgram();
        }
    }

    // 5 to 7. The icon: written out, put into iTools.exe, removed again.
    const std::u16string iconFile = targetDir + std::u16string(kIconFile);
    steps.SaveResourceToFile(kIconResource, iconFile);
    if (resedit::TResEditHandle* handle =
            steps.ResEditOpen(targetDir + std::u16string(kTargetExe), false)) {
        if (!steps.ResEditReplaceIconGroup(handle, resedit::ResKey::FromName(kIconGroup),
                                           kIconLanguage, iconFile)) {
            host.SetCaption(std::u16string(kIconNotInstalledCaption));
        }
        steps.ResEditClose(handle, false);
    }
    host.RemoveFile(iconFile);

    // 8.
    host.ProcessMessages();

    // 9. iTools.exe loads the Russian pack from now on.
    const bool packRenamed = steps.PatchExeString(kRussianPack);

    // 10. Three dialogs of TSRes.dll, each a complete update of its own.
    for (std::uint16_t id : kDialogIds) {
        steps.TransplantDialog(std::u16string(kDialogLibrary), kDialogType, id);
    }

    // 11 and 12. The Russian pack in, the Chinese one out. The Chinese pack is resolved
    // against the target folder: after a pick in the dialog the current folder can be anywhere.
    // While iTools.exe may still name the Chinese pack (its string patch failed), the pack
    // stays: without it the target would not start.
    try {
        steps.SaveResourceToFile(kPackResource, targetDir + std::u16string(kRussianPack));
    } catch (...) {
        // iTools.exe now names a pack that is not there: while the Chinese one is, it goes
        // back to naming that, or the target would not start. The error still ends the run.
        if (host.FileExists(targetDir + std::u16string(kChinesePack))) {
            steps.RevertExeString(kRussianPack);
        }
        throw;
    }
    if (packRenamed) {
        host.RemoveFile(targetDir + std::u16string(kChinesePack));
    }

    // 13.
    host.AppendLog(u"");
    host.AppendLog(u"have nice day!");
    host.AppendLog(u"Blorn rulezzz 4ever!!!");
}

void RabbitClick(PatchHost& host, PatchSteps& steps, std::u16string& targetDir) {
    host.RepaintWindow();
    GoClick(host, steps, targetDir);
    host.SetTimerEnabled(false); // the rain stops for good
    host.RepaintWindow();
}

} // namespace patch
