// The backup of the target's files and the restore, on real folders, with every file
// operation made to fail in turn.
#include "patch/backup.h"
#include "patch/tests/fakes.h"
#include "patch/user_error.h"
#include "platform/resource.h"
#include "resedit/tests/support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>

namespace patch::testing {
namespace {

using resedit::testing::Pattern;
using resedit::testing::ScratchTest;

// Every file and folder below a folder: relative path to bytes (folders have none).
using Tree = std::map<std::string, std::optional<Bytes>>;

Tree TreeOf(const std::filesystem::path& folder) {
    Tree tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string rel = entry.path().lexically_relative(folder).generic_string();
        tree[rel] =
            entry.is_directory() ? std::nullopt : std::optional<Bytes>(ReadFileBytes(entry.path()));
    }
    return tree;
}

// Only the entries below a subfolder, relative to it.
Tree Below(const Tree& tree, const std::string& folder) {
    Tree part;
    for (const auto& [path, bytes] : tree) {
        if (path.rfind(folder + "/", 0) == 0) {
            part[path.substr(folder.size() + 1)] = bytes;
        }
    }
    return part;
}

// Everything but a subfolder and what it holds.
Tree Without(Tree tree, const std::string& folder) {
    for (auto it = tree.begin(); it != tree.end();) {
        it = it->first == folder || it->first.rfind(folder + "/", 0) == 0 ? tree.erase(it)
                                                                          : std::next(it);
    }
    return tree;
}

const std::string kFolder = "iTools3-Rus backup";

// The system's text for an error, as the messages carry it.
std::string Reason(std::uint32_t code) {
    return U8(platform::SystemErrorText(code));
}

class BackupTest : public ScratchTest {
protected:
    Events events;
    std::u16string targetDir;
    // The executable spans more than one block of a copy.
    Bytes exe = Pattern((1u << 20) + 4321, 7);

    void SetUp() override {
        ScratchTest::SetUp();
        targetDir = dir.u16string() + u"/";
        const Bytes name = Utf16Bytes(u"res_cn.data");
        std::copy(name.begin(), name.end(), exe.begin() + 0x400);
    }

    // An installed target as iTools' installer leaves it, with the program beside it.
    void Original(bool withDll = true, bool withPack = true) {
        Write("iTools.exe", exe);
        if (withDll) {
            Write("TSRes.dll", Pattern(5000, 2));
        }
        if (withPack) {
            Write("res_cn.data", Pattern(3000, 3));
        }
        Write("iTools3-Rus.exe", Pattern(700, 4));
    }

    // What a patch run leaves: the pack name and icon of iTools.exe changed, the dialogs of
    // TSRes.dll, the Russian pack written and the Chinese one removed.
    void Patched() {
        Bytes patched = Read("iTools.exe");
        const Bytes name = Utf16Bytes(u"res_ru.data");
        std::copy(name.begin(), name.end(), patched.begin() + 0x400);
        patched.resize(patched.size() + 512, 0x5A);
        Write("iTools.exe", patched);
        if (std::filesystem::exists(PathOf("TSRes.dll"))) {
            Bytes dll = Read("TSRes.dll");
            std::fill(dll.begin() + 100, dll.begin() + 300, 0xEE);
            Write("TSRes.dll", dll);
        }
        Write("res_ru.data", Pattern(4000, 9));
        std::filesystem::remove(PathOf("res_cn.data"));
    }

    binary::Status Keep(platform::Os& os) { return KeepOriginals(os, targetDir); }
    binary::Status Keep() { return Keep(platform::SystemOs()); }
    binary::Status Restore(platform::Os& os, RestoreOutcome& outcome) {
        return RestoreOriginals(os, targetDir, outcome);
    }
    binary::Status Restore(RestoreOutcome& outcome) {
        return Restore(platform::SystemOs(), outcome);
    }

    // Every call that a clean run of `run` makes, by name and number, each to be failed.
    template <typename Run> std::vector<std::pair<std::string, int>> CallsOf(Run run) {
        CountingOs os(platform::SystemOs());
        run(os);
        std::vector<std::pair<std::string, int>> calls;
        for (const auto& [op, n] : os.counts) {
            for (int i = 1; i <= n; ++i) {
                calls.emplace_back(op, i);
            }
        }
        return calls;
    }
};

TEST_F(BackupTest, KeepsTheFilesAsTheyWereBeforeTheFirstRun) {
    Original();
    const Tree original = TreeOf(dir);
    ASSERT_TRUE(Keep());
    const Tree kept = TreeOf(dir);
    EXPECT_EQ(Without(kept, kFolder), original) << "the target's own files are not touched";
    EXPECT_EQ(Below(kept, kFolder), (Tree{{"iTools.exe", original.at("iTools.exe")},
                                          {"TSRes.dll", original.at("TSRes.dll")},
                                          {"res_cn.data", original.at("res_cn.data")}}))
        << "the three originals and nothing else, no partial copy";

    // Any number of later runs over the patched target leave the backup as it was.
    for (int run = 0; run < 3; ++run) {
        Patched();
        ASSERT_TRUE(Keep());
        EXPECT_EQ(Below(TreeOf(dir), kFolder), Below(kept, kFolder));
    }
}

TEST_F(BackupTest, KeepsOnlyTheOriginalsThatExist) {
    Original(false, false);
    ASSERT_TRUE(Keep());
    EXPECT_EQ(Below(TreeOf(dir), kFolder), (Tree{{"iTools.exe", exe}}));
}

// A target that an earlier run localised gets no backup: res_ru.data or patchdata.data is
// there, or iTools.exe names the Russian pack where the string patch looks.
TEST_F(BackupTest, AnAlreadyLocalisedTargetGetsNone) {
    const Bytes russian = Utf16Bytes(u"res_ru.data");
    struct Case {
        const char* name;
        std::function<void()> make;
        bool localised;
    };
    const Case cases[] = {
        {"untouched", [] {}, false},
        {"res_ru.data there", [&] { Write("res_ru.data", Pattern(10, 1)); }, true},
        {"patchdata.data left behind", [&] { Write("patchdata.data", Pattern(10, 1)); }, true},
        {"iTools.exe names res_ru.data",
         [&] {
             Bytes b = exe;
             std::copy(russian.begin(), russian.end(), b.begin() + 0x400);
             Write("iTools.exe", b);
         },
         true},
        {"res_ru.data at an odd offset, which the string patch never tests",
         [&] {
             Bytes b = exe;
             std::copy(russian.begin(), russian.end(), b.begin() + 0x801);
             Write("iTools.exe", b);
         },
         false},
        {"a folder named res_ru.data",
         [&] { std::filesystem::create_directory(PathOf("res_ru.data")); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        Original();
        c.make();
        EXPECT_EQ(AlreadyLocalised(platform::SystemOs(), targetDir), c.localised);
        const Tree before = TreeOf(dir);
        ASSERT_TRUE(Keep());
        if (c.localised) {
            EXPECT_EQ(TreeOf(dir), before);
        } else {
            EXPECT_EQ(Below(TreeOf(dir), kFolder).size(), 3u);
        }
    }
}

// A backup cut short (the process killed while copying) is completed with what it lacks; a
// copy it holds is never written again, and a partial copy left behind is replaced.
TEST_F(BackupTest, ABackupCutShortIsCompletedWithoutRewritingWhatItHolds) {
    Original();
    std::filesystem::create_directory(PathOf(kFolder));
    Write(kFolder + "/iTools.exe", Pattern(99, 1));
    Write(kFolder + "/TSRes.dll.partial", Pattern(17, 1));
    ASSERT_TRUE(Keep());
    EXPECT_EQ(Below(TreeOf(dir), kFolder), (Tree{{"iTools.exe", Pattern(99, 1)},
                                                 {"TSRes.dll", Read("TSRes.dll")},
                                                 {"res_cn.data", Read("res_cn.data")}}));
}

// Each call of a backup made to fail in turn: the run stops with one message naming the file
// and the reason, and the folder is exactly as it was (a close that fails on a file only read
// changes nothing, and the backup is then whole).
TEST_F(BackupTest, ABackupThatFailsAnywhereLeavesTheFolderAsItWas) {
    Original();
    const Tree original = TreeOf(dir);
    const auto calls = CallsOf([&](platform::Os& os) { ASSERT_TRUE(Keep(os)); });
    ASSERT_GT(calls.size(), 20u);
    std::set<std::string> failed;
    for (const auto& [op, at] : calls) {
        SCOPED_TRACE(op + " #" + std::to_string(at));
        std::filesystem::remove_all(PathOf(kFolder));
        CountingOs os(platform::SystemOs());
        os.failOp = op;
        os.failAt = at;
        os.failCode = platform::error::kDiskFull;
        const binary::Status kept = Keep(os);
        const Tree after = TreeOf(dir);
        if (kept) {
            EXPECT_EQ(Below(after, kFolder).size(), 3u);
            EXPECT_EQ(Without(after, kFolder), original);
            continue;
        }
        failed.insert(op);
        EXPECT_EQ(after, original);
        const std::string text = U8(UserText(kept.error()));
        EXPECT_NE(text.find("\n\rПричина: " + Reason(platform::error::kDiskFull) + "\n\r"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find(U8(targetDir)), std::string::npos) << "names the file: " << text;
        EXPECT_TRUE(text.ends_with("Русификация отменена, файлы iTools не изменены.")) << text;
    }
    EXPECT_EQ(failed,
              (std::set<std::string>{"Close", "CreateAlways", "CreateFolder", "Flush", "GetLength",
                                     "Kind", "OpenExisting", "ReadAt", "Rename", "WriteAt"}));
}

TEST_F(BackupTest, TheMessagesNameTheFileAndTheReason) {
    Original();
    // A file where the folder goes.
    Write(kFolder, Pattern(5, 5));
    const binary::Status kept = Keep();
    ASSERT_FALSE(kept);
    EXPECT_EQ(U8(UserText(kept.error())),
              "Не удалось создать папку для копий исходных файлов \"" + U8(targetDir) + kFolder +
                  "\".\n\rПричина: " + Reason(platform::error::kAlreadyExists) +
                  "\n\rРусификация отменена, файлы iTools не изменены.");

    std::filesystem::remove(PathOf(kFolder));
    CountingOs os(platform::SystemOs());
    os.failOp = "CreateAlways";
    os.failAt = 2;
    os.failCode = platform::error::kAccessDenied;
    const binary::Status second = Keep(os);
    ASSERT_FALSE(second);
    EXPECT_EQ(U8(UserText(second.error())),
              "Не удалось сохранить копию файла \"" + U8(targetDir) + "TSRes.dll\" в папку \"" +
                  U8(targetDir) + kFolder +
                  "\".\n\rПричина: " + Reason(platform::error::kAccessDenied) +
                  "\n\rРусификация отменена, файлы iTools не изменены.");
}

TEST_F(BackupTest, TheRestorePutsTheOriginalsBackAndRemovesTheBackup) {
    Original();
    const Tree original = TreeOf(dir);
    ASSERT_TRUE(Keep());
    Patched();
    Write("patchdata.data", Pattern(30, 3));
    ASSERT_TRUE(Keep());
    RestoreOutcome outcome;
    ASSERT_TRUE(Restore(outcome));
    EXPECT_EQ(TreeOf(dir), original) << "byte for byte, no file added or removed";
    EXPECT_EQ(outcome.restored,
              (std::vector<std::u16string>{u"res_cn.data", u"TSRes.dll", u"iTools.exe"}));
    EXPECT_EQ(U8(RestoreDoneText(targetDir, outcome)),
              "Исходные файлы iTools восстановлены в папке \"" + U8(targetDir) +
                  "\": res_cn.data, TSRes.dll, iTools.exe.\n\rУдалены файлы русификации: "
                  "res_ru.data, patchdata.data.\n\rПапка копий \"iTools3-Rus backup\" удалена.");

    // A second restore finds no backup and changes nothing.
    const binary::Status again = Restore(outcome);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().code, binary::ErrorCode::NotFound);
    EXPECT_EQ(U8(UserText(again.error())), "Копия исходных файлов iTools не найдена (папка \"" +
                                               U8(targetDir) + kFolder +
                                               "\").\n\rНичего не изменено.");
    EXPECT_EQ(TreeOf(dir), original);
}

TEST_F(BackupTest, AFolderLeftBehindIsReportedNotFailed) {
    Original(true, false);
    const Tree original = TreeOf(dir);
    ASSERT_TRUE(Keep());
    Patched();
    Write(kFolder + "/notes.txt", Pattern(3, 3)); // the user's own file
    RestoreOutcome outcome;
    ASSERT_TRUE(Restore(outcome));
    EXPECT_FALSE(outcome.folderRemoved);
    EXPECT_EQ(Without(TreeOf(dir), kFolder), original);
    EXPECT_EQ(Below(TreeOf(dir), kFolder), (Tree{{"notes.txt", Pattern(3, 3)}}));
    EXPECT_EQ(U8(RestoreDoneText(targetDir, outcome)),
              "Исходные файлы iTools восстановлены в папке \"" + U8(targetDir) +
                  "\": TSRes.dll, iTools.exe.\n\rУдалены файлы русификации: res_ru.data.\n\r"
                  "Папку копий \"" +
                  U8(targetDir) + kFolder + "\" удалить не удалось: " +
                  Reason(platform::error::kDirNotEmpty) + " Её можно удалить вручную.");
}

// Each call of a restore made to fail in turn: the backup is never lost; a failure before the
// first file takes its place leaves the target as it was, a later one leaves the target
// working (iTools.exe is put back last, after its pack) and a second restore completes it.
TEST_F(BackupTest, ARestoreThatFailsAnywhereKeepsTheBackupAndCanRunAgain) {
    Original();
    const Tree original = TreeOf(dir);
    auto prepare = [&] {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        Original();
        ASSERT_TRUE(Keep());
        Patched();
    };
    prepare();
    const Tree patched = TreeOf(dir);
    const Tree backup = Below(patched, kFolder);
    const auto calls = CallsOf([&](platform::Os& os) {
        RestoreOutcome outcome;
        ASSERT_TRUE(Restore(os, outcome));
    });
    ASSERT_GT(calls.size(), 20u);
    std::set<std::string> failed;
    for (const auto& [op, at] : calls) {
        SCOPED_TRACE(op + " #" + std::to_string(at));
        prepare();
        CountingOs os(platform::SystemOs());
        os.failOp = op;
        os.failAt = at;
        os.failCode = platform::error::kSharingViolation;
        RestoreOutcome outcome;
        const binary::Status restored = Restore(os, outcome);
        const Tree after = TreeOf(dir);
        if (restored) {
            // Only the removal of the backup, after everything was back, may have stopped.
            EXPECT_EQ(Without(after, kFolder), original);
            EXPECT_EQ(outcome.folderRemoved, after == original);
            continue;
        }
        failed.insert(op);
        const std::string text = U8(UserText(restored.error()));
        EXPECT_NE(text.find("\n\rПричина: " + Reason(platform::error::kSharingViolation) + "\n\r"),
                  std::string::npos)
            << text;
        EXPECT_TRUE(text.ends_with("; устраните причину и запустите восстановление ещё раз."))
            << text;
        EXPECT_EQ(Below(after, kFolder), backup) << "the backup is whole";
        if (outcome.restored.empty()) {
            EXPECT_EQ(after, patched) << "nothing changed";
            EXPECT_NE(text.find("Файлы iTools не изменены."), std::string::npos) << text;
        } else {
            EXPECT_NE(text.find("Уже восстановлены: "), std::string::npos) << text;
            // The pack iTools.exe names is there.
            const bool exeOriginal = after.at("iTools.exe") == original.at("iTools.exe");
            EXPECT_TRUE(after.count(exeOriginal ? "res_cn.data" : "res_ru.data"));
        }
        EXPECT_FALSE(std::any_of(after.begin(), after.end(), [](const auto& entry) {
            return entry.first.ends_with(".partial");
        })) << "no copy is left half-made";

        RestoreOutcome second;
        ASSERT_TRUE(Restore(second));
        EXPECT_EQ(TreeOf(dir), original);
    }
    EXPECT_EQ(failed, (std::set<std::string>{"Close", "CreateAlways", "Delete", "Flush", "Kind",
                                             "OpenExisting", "ReadAt", "Rename", "WriteAt"}));
}

TEST_F(BackupTest, TheRestoreRunChecksTheTargetAndLocatesItAsThePatchRunDoes) {
    Original();
    const Tree original = TreeOf(dir);
    ASSERT_TRUE(Keep());
    Patched();
    const Tree patched = TreeOf(dir);
    RecordingHost host(events);

    // While iTools runs: the run's message and nothing else.
    host.targetRunning = true;
    RestoreRun(host, host.os, targetDir);
    EXPECT_EQ(events, (Events{"find-window:CHWindow|iTools 3", "box:Please, close iTools!"}));
    EXPECT_EQ(TreeOf(dir), patched);

    // Started elsewhere: the not-found message, then the target picked in the dialog, which
    // has no backup: that is said and nothing changes.
    host.targetRunning = false;
    events.clear();
    host.reporter.boxes.clear();
    host.files = std::set<std::u16string>{u"D:\\Target\\iTools.exe"};
    host.dialogAnswers = {{true, u"D:\\Target\\iTools.exe"}};
    std::u16string elsewhere = u"C:\\Tools\\";
    RestoreRun(host, host.os, elsewhere);
    EXPECT_EQ(elsewhere, u"D:\\Target\\");
    EXPECT_EQ(host.reporter.boxes,
              (std::vector<std::string>{
                  "Не найден файл: C:\\Tools\\\"iTools.exe\"\n\r\n\rВыберите файл \"iTools.exe\" "
                  "вручную!",
                  "Копия исходных файлов iTools не найдена (папка \"D:\\Target\\iTools3-Rus "
                  "backup\").\n\rНичего не изменено."}));

    // In the target folder: the originals back, one message.
    host.files.reset();
    host.reporter.boxes.clear();
    RestoreRun(host, host.os, targetDir);
    ASSERT_EQ(host.reporter.boxes.size(), 1u);
    EXPECT_TRUE(host.reporter.boxes[0].starts_with("Исходные файлы iTools восстановлены"))
        << host.reporter.boxes[0];
    EXPECT_TRUE(host.reporter.lines.empty()) << "no console";
    EXPECT_EQ(TreeOf(dir), original);
}

} // namespace
} // namespace patch::testing
