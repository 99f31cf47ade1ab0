// The backup of the target's files before the patch run, and the restore from it.
#include "patch/backup.h"

#include "patch/stringpatch.h"
#include "patch/user_error.h"
#include "platform/resource.h"

#include <new>

namespace patch {

namespace {

using binary::ErrorCode;
using platform::PathKind;

// One read and one write of a copy.
constexpr std::size_t kCopyBlock = 1u << 20;

char16_t Separator(const std::u16string& dir) {
    return !dir.empty() && dir.back() == u'/' ? u'/' : u'\\';
}

std::u16string Quoted(const std::u16string& path) {
    return u"\"" + path + u"\"";
}

std::u16string Joined(const std::vector<std::u16string>& names) {
    std::u16string text;
    for (const std::u16string& name : names) {
        text += (text.empty() ? u"" : u", ") + name;
    }
    return text;
}

std::u16string Reason(std::uint32_t code) {
    return u"Причина: " + platform::SystemErrorText(code);
}

// A backup that could not be made stops the run before anything changed.
binary::Error NotKept(const std::u16string& what, std::uint32_t code) {
    return UserError(ErrorCode::Io, what + u"\n\r" + Reason(code) +
                                        u"\n\rРусификация отменена, файлы iTools не изменены.");
}

// A restore that failed leaves the backup, so it can run again.
binary::Error NotRestored(const std::u16string& what, std::uint32_t code,
                          const std::u16string& targetDir, const RestoreOutcome& outcome) {
    const std::u16string done = outcome.restored.empty()
                                    ? u"Файлы iTools не изменены."
                                    : u"Уже восстановлены: " + Joined(outcome.restored) + u".";
    return UserError(ErrorCode::Io, what + u"\n\r" + Reason(code) + u"\n\r" + done +
                                        u"\n\rКопия исходных файлов осталась в папке " +
                                        Quoted(BackupPath(targetDir)) +
                                        u"; устраните причину и запустите восстановление ещё раз.");
}

// Copies the bytes of `from` into a new file `to`, flushed and closed. False with the system's
// reason in `code`; both files are closed on every path.
bool CopyBytes(platform::Os& os, const std::u16string& from, const std::u16string& to,
               bool& created, std::uint32_t& code) {
    auto fail = [&] {
        code = os.LastError();
        return false;
    };
    platform::ScopedFile in(
        os, os.OpenExisting(from, platform::Access::Read, platform::Share::ReadWrite));
    if (!in.IsValid()) {
        return fail();
    }
    platform::ScopedFile out(os, os.CreateAlways(to));
    if (!out.IsValid()) {
        return fail();
    }
    created = true;
    std::vector<unsigned char> buffer;
    try {
        buffer.resize(kCopyBlock);
    } catch (const std::bad_alloc&) {
        code = platform::error::kNotEnoughMemory;
        return false;
    }
    for (std::uint64_t at = 0;;) {
        std::size_t got = 0;
        if (!os.ReadAt(in.Get(), at, buffer.data(), buffer.size(), got)) {
            return fail();
        }
        if (got == 0) {
            break;
        }
        if (!os.WriteAt(out.Get(), at, buffer.data(), got)) {
            return fail();
        }
        at += got;
    }
    if (!os.Flush(out.Get()) || !out.Close()) {
        return fail();
    }
    return true;
}

// Writes a copy of `from` as the file `to`, which is removed again when the copy fails.
bool WriteCopy(platform::Os& os, const std::u16string& from, const std::u16string& to,
               std::uint32_t& code) {
    bool created = false;
    if (CopyBytes(os, from, to, created, code)) {
        return true;
    }
    if (created) {
        os.Delete(to);
    }
    return false;
}

// A copy of `from` under the name `to`, through a temporary name beside it.
bool PlaceCopy(platform::Os& os, const std::u16string& from, const std::u16string& to,
               std::uint32_t& code) {
    const std::u16string partial = to + std::u16string(kPartialSuffix);
    if (!WriteCopy(os, from, partial, code)) {
        return false;
    }
    if (!os.Rename(partial, to)) {
        code = os.LastError();
        os.Delete(partial);
        return false;
    }
    return true;
}

// Whether path names a file; false with the system's reason when that cannot be told.
bool IsFile(platform::Os& os, const std::u16string& path, bool& file, std::uint32_t& code) {
    PathKind kind = PathKind::Missing;
    if (!os.Kind(path, kind)) {
        code = os.LastError();
        return false;
    }
    file = kind == PathKind::File;
    return true;
}

std::u16string CannotRead(const std::u16string& path) {
    return u"Не удалось прочитать " + Quoted(path) + u".";
}

binary::Status RestoreFiles(platform::Os& os, const std::u16string& targetDir,
                            RestoreOutcome& outcome) {
    std::uint32_t code = 0;
    const std::u16string folder = BackupPath(targetDir);
    PathKind kind = PathKind::Missing;
    if (!os.Kind(folder, kind)) {
        return NotRestored(CannotRead(folder), os.LastError(), targetDir, outcome);
    }
    std::vector<std::u16string> kept;
    if (kind == PathKind::Folder) {
        for (std::u16string_view name : kKeptFiles) {
            bool file = false;
            if (!IsFile(os, BackupPath(targetDir, name), file, code)) {
                return NotRestored(CannotRead(BackupPath(targetDir, name)), code, targetDir,
                                   outcome);
            }
            if (file) {
                kept.emplace_back(name);
            }
        }
    }
    if (kept.empty()) {
        return UserError(ErrorCode::NotFound, u"Копия исходных файлов iTools не найдена (папка " +
                                                  Quoted(folder) + u").\n\rНичего не изменено.");
    }

    // Every copy is made beside its target before the first one takes its place, so a copy
    // that fails leaves the target as it was.
    auto partial = [&](const std::u16string& name) {
        return targetDir + name + std::u16string(kPartialSuffix);
    };
    auto dropPartials = [&](std::size_t from, std::size_t to) {
        platform::PreserveLastError keep(os);
        for (std::size_t i = from; i < to; ++i) {
            os.Delete(partial(kept[i]));
        }
    };
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (!WriteCopy(os, BackupPath(targetDir, kept[i]), partial(kept[i]), code)) {
            dropPartials(0, i);
            return NotRestored(u"Не удалось восстановить файл " + Quoted(targetDir + kept[i]) +
                                   u".",
                               code, targetDir, outcome);
        }
    }
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (!os.Rename(partial(kept[i]), targetDir + kept[i])) {
            code = os.LastError();
            dropPartials(i, kept.size());
            return NotRestored(u"Не удалось восстановить файл " + Quoted(targetDir + kept[i]) +
                                   u".",
                               code, targetDir, outcome);
        }
        outcome.restored.push_back(kept[i]);
    }

    // What the patch run wrote and the originals lacked.
    for (std::u16string_view name : {kRussianPack, kIconFile}) {
        const std::u16string path = targetDir + std::u16string(name);
        bool file = false;
        if (!IsFile(os, path, file, code)) {
            return NotRestored(CannotRead(path), code, targetDir, outcome);
        }
        if (file) {
            if (!os.Delete(path)) {
                return NotRestored(u"Не удалось удалить файл " + Quoted(path) + u".",
                                   os.LastError(), targetDir, outcome);
            }
            outcome.removed.emplace_back(name);
        }
    }
    return binary::Ok();
}

// Removes the backup once everything is back; what stays is only reported.
void RemoveBackup(platform::Os& os, const std::u16string& targetDir, RestoreOutcome& outcome) {
    for (std::u16string_view name : kKeptFiles) {
        const std::u16string copy = BackupPath(targetDir, name);
        os.Delete(copy + std::u16string(kPartialSuffix)); // a leftover of a killed run, if any
        bool file = false;
        std::uint32_t code = 0;
        if (!IsFile(os, copy, file, code) || (file && !os.Delete(copy))) {
            outcome.folderLeft = platform::SystemErrorText(file ? os.LastError() : code);
            return;
        }
    }
    if (!os.RemoveFolder(BackupPath(targetDir))) {
        outcome.folderLeft = platform::SystemErrorText(os.LastError());
        return;
    }
    outcome.folderRemoved = true;
}

} // namespace

std::u16string BackupPath(const std::u16string& targetDir, std::u16string_view name) {
    std::u16string path = targetDir + std::u16string(kBackupFolder);
    if (!name.empty()) {
        path += Separator(targetDir);
        path += name;
    }
    return path;
}

binary::Expected<bool> AlreadyLocalised(platform::Os& os, const std::u16string& targetDir) {
    for (std::u16string_view name : {kRussianPack, kIconFile}) {
        const std::u16string path = targetDir + std::u16string(name);
        bool file = false;
        std::uint32_t code = 0;
        if (!IsFile(os, path, file, code)) {
            return NotKept(CannotRead(path), code);
        }
        if (file) {
            return true;
        }
    }
    const std::u16string exe = targetDir + std::u16string(kTargetExe);
    const binary::Expected<std::uint64_t> russian = CountUtf16(os, exe, kRussianPack);
    if (!russian) {
        return NotKept(CannotRead(exe), os.LastError());
    }
    return *russian > 0;
}

binary::Status KeepOriginals(platform::Os& os, const std::u16string& targetDir) {
    const std::u16string folder = BackupPath(targetDir);
    PathKind kind = PathKind::Missing;
    if (!os.Kind(folder, kind)) {
        return NotKept(CannotRead(folder), os.LastError());
    }
    bool created = false;
    if (kind != PathKind::Folder) {
        binary::Expected<bool> localised = AlreadyLocalised(os, targetDir);
        if (!localised) {
            return localised.TakeError();
        }
        if (*localised) {
            return binary::Ok();
        }
        if (!os.CreateFolder(folder)) {
            return NotKept(u"Не удалось создать папку для копий исходных файлов " + Quoted(folder) +
                               u".",
                           os.LastError());
        }
        created = true;
    }

    // A failure takes back the copies this call made, and the folder if it made that.
    std::vector<std::u16string> placed;
    auto fail = [&](const std::u16string& what, std::uint32_t code) {
        for (const std::u16string& copy : placed) {
            os.Delete(copy);
        }
        if (created) {
            os.RemoveFolder(folder);
        }
        return NotKept(what, code);
    };
    for (std::u16string_view name : kKeptFiles) {
        const std::u16string original = targetDir + std::u16string(name);
        const std::u16string copy = BackupPath(targetDir, name);
        std::uint32_t code = 0;
        bool present = false;
        if (!IsFile(os, original, present, code)) {
            return fail(CannotRead(original), code);
        }
        PathKind keptKind = PathKind::Missing;
        if (!os.Kind(copy, keptKind)) {
            return fail(CannotRead(copy), os.LastError());
        }
        // A file the backup holds is never written again.
        if (!present || keptKind != PathKind::Missing) {
            continue;
        }
        if (!PlaceCopy(os, original, copy, code)) {
            return fail(u"Не удалось сохранить копию файла " + Quoted(original) + u" в папку " +
                            Quoted(folder) + u".",
                        code);
        }
        placed.push_back(copy);
    }
    return binary::Ok();
}

binary::Status RestoreOriginals(platform::Os& os, const std::u16string& targetDir,
                                RestoreOutcome& outcome) {
    outcome = {};
    binary::Status restored = RestoreFiles(os, targetDir, outcome);
    if (restored) {
        RemoveBackup(os, targetDir, outcome);
    }
    return restored;
}

std::u16string RestoreDoneText(const std::u16string& targetDir, const RestoreOutcome& outcome) {
    std::u16string text = u"Исходные файлы iTools восстановлены в папке " + Quoted(targetDir) +
                          u": " + Joined(outcome.restored) + u".";
    if (!outcome.removed.empty()) {
        text += u"\n\rУдалены файлы русификации: " + Joined(outcome.removed) + u".";
    }
    if (outcome.folderRemoved) {
        text += u"\n\rПапка копий " + Quoted(std::u16string(kBackupFolder)) + u" удалена.";
    } else {
        text += u"\n\rПапку копий " + Quoted(BackupPath(targetDir)) + u" удалить не удалось: " +
                outcome.folderLeft + u" Её можно удалить вручную.";
    }
    return text;
}

void RestoreRun(TargetHost& host, platform::Os& os, std::u16string& targetDir) {
    if (host.TopLevelWindowExists(kTargetWindowClass, kTargetWindowTitle)) {
        host.ShowMessage(u"Please, close iTools!");
        return;
    }
    if (!LocateTarget(host, os, targetDir)) {
        return; // the program ends with the restore
    }
    RestoreOutcome outcome;
    const binary::Status restored = RestoreOriginals(os, targetDir, outcome);
    host.ShowMessage(restored ? RestoreDoneText(targetDir, outcome) : UserText(restored.error()));
}

} // namespace patch
