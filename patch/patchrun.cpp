// The patch run: the target located, the steps in their order, the rabbit's click handler.
#include "patch/patchrun.h"

#include "platform/path.h"

namespace patch {

bool LocateTarget(TargetHost& host, platform::Os& os, std::u16string& targetDir) {
    if (platform::IsExistingFile(os, targetDir + std::u16string(kTargetExe))) {
        return true;
    }
    host.ShowMessage(u"Не найден файл: " + targetDir + u"\"iTools.exe\"" + u"\n\r" + u"\n\r" +
                     u"Выберите файл \"iTools.exe\" вручную!");
    if (host.ExecuteOpenDialog()) {
        targetDir = TargetDirForPick(host.OpenDialogFileName());
    }
    const std::u16string picked = host.OpenDialogFileName();
    if (!platform::IsExistingFile(os, picked)) {
        host.ShowMessage(u"Вы опять не правильно указали файл!: " + picked);
        return false;
    }
    return true;
}

namespace {

// Steps 5 to 7: the icon file written out, put into iTools.exe, removed again.
binary::Status ReplaceIcon(PatchHost& host, PatchSteps& steps, platform::Os& os,
                           const std::u16string& targetDir) {
    const std::u16string iconFile = targetDir + std::u16string(kIconFile);
    binary::Status saved = steps.SaveResourceToFile(kIconResource, iconFile);
    if (!saved) {
        return saved;
    }
    // A target the editor cannot open is skipped without a report.
    if (resedit::TResEditHandle* handle =
            steps.ResEditOpen(targetDir + std::u16string(kTargetExe), false)) {
        if (!steps.ResEditReplaceIconGroup(handle, resedit::ResKey::FromName(kIconGroup),
                                           kIconLanguage, iconFile)) {
            host.SetCaption(std::u16string(kIconNotInstalledCaption));
        }
        // Closed keeping the changes in either case; whether that worked is not looked at.
        static_cast<void>(steps.ResEditClose(handle, false));
    }
    // A file that stays behind is not reported.
    static_cast<void>(os.Delete(iconFile));
    return binary::Ok();
}

// Steps 11 and 12: the Russian pack in, the Chinese one out. The Chinese pack is resolved
// against the target folder: after a pick in the dialog the current folder can be anywhere.
// While iTools.exe may still name the Chinese pack (its string patch failed), the pack stays:
// without it the target would not start.
binary::Status ReplacePack(PatchSteps& steps, platform::Os& os, const std::u16string& targetDir,
                           bool packRenamed, bool renamedNow) {
    binary::Status saved =
        steps.SaveResourceToFile(kPackResource, targetDir + std::u16string(kRussianPack));
    if (!saved) {
        // When this run pointed iTools.exe at the pack it could not write, iTools.exe goes
        // back to naming the Chinese one while that is there, or the target would not start.
        // A target localised before keeps its name. Silently, as it was not the failure; the
        // write's error still ends the run.
        if (renamedNow && platform::IsExistingFile(os, targetDir + std::u16string(kChinesePack))) {
            static_cast<void>(steps.RevertExeString(kRussianPack));
        }
        return saved;
    }
    if (packRenamed) {
        // A pack that cannot be removed is not reported.
        static_cast<void>(os.Delete(targetDir + std::u16string(kChinesePack)));
    }
    return binary::Ok();
}

} // namespace

std::u16string TargetDirForPick(std::u16string_view pickedPath) {
    return platform::ExtractFileDir(pickedPath) + u"\\";
}

binary::Status GoClick(PatchHost& host, show::Console& console, show::WindowLoop& loop,
                       PatchSteps& steps, platform::Os& os, std::u16string& targetDir) {
    // 1. A clean console without a caret.
    console.ClearLog();
    console.HideCaret();

    // 2. Nothing may be touched while the target runs.
    if (host.TopLevelWindowExists(kTargetWindowClass, kTargetWindowTitle)) {
        host.ShowMessage(u"Please, close iTools!");
        return binary::Ok();
    }

    // 3. and 4.
    console.AppendLog(u"Working Please wait!");
    if (!LocateTarget(host, os, targetDir)) {
        loop.EndProgram();
    }

    // The originals are kept before anything in the folder changes; without them the run
    // does not start.
    binary::Status kept = steps.KeepOriginals(targetDir);
    if (!kept) {
        return kept;
    }

    // 5 to 7.
    binary::Status icon = ReplaceIcon(host, steps, os, targetDir);
    if (!icon) {
        return icon;
    }

    // 8.
    loop.ProcessMessages();

    // 9. iTools.exe loads the Russian pack from now on; a failure has shown its message.
    std::uint64_t rewritten = 0;
    const bool packRenamed = static_cast<bool>(steps.PatchExeString(kRussianPack, rewritten));

    // 10. Three dialogs of TSRes.dll, each a complete update of its own. The run goes on
    // whatever each gives: its failures have been reported.
    for (std::uint16_t id : kDialogIds) {
        static_cast<void>(steps.TransplantDialog(std::u16string(kDialogLibrary), kDialogType, id));
    }

    // 11 and 12.
    binary::Status pack = ReplacePack(steps, os, targetDir, packRenamed, rewritten > 0);
    if (!pack) {
        return pack;
    }

    // 13.
    console.AppendLog(u"");
    console.AppendLog(u"have nice day!");
    console.AppendLog(u"Blorn rulezzz 4ever!!!");
    return binary::Ok();
}

binary::Status RabbitClick(PatchHost& host, show::Console& console, show::WindowLoop& loop,
                           PatchSteps& steps, platform::Os& os, std::u16string& targetDir) {
    loop.RepaintWindow();
    binary::Status run = GoClick(host, console, loop, steps, os, targetDir);
    if (!run) {
        return run; // the rest of the handler is abandoned, as after any error
    }
    loop.SetTimerEnabled(false); // the rain stops for good
    loop.RepaintWindow();
    return run;
}

} // namespace patch
