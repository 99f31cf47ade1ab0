// The patch run's order of steps, its messages and its folder, with recorded steps, and the
// whole run with the real steps on a real PE file.
#include "patch/backup.h"
#include "patch/patchrun.h"
#include "patch/systemsteps.h"
#include "patch/tests/fakes.h"
#include "patch/user_error.h"
#include "resedit/tests/pe_builder.h"
#include "resedit/tests/support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace patch::testing {
namespace {

const std::u16string kDir = u"C:\\Tools\\";
const std::string kNotFound =
    "Не найден файл: C:\\Tools\\\"iTools.exe\"\n\r\n\rВыберите файл \"iTools.exe\" вручную!";
const std::string kDefault = "C:\\Program Files (x86)\\ThinkSky\\iTools 3\\iTools.exe";

// The events of the backup and steps 5 to 13 for a target folder d, every step succeeding.
Events StepsFrom5(const std::string& d) {
    return {
        "backup:" + d,
        "save:patchdata>" + d + "patchdata.data",
        "resedit-open:" + d + "iTools.exe,keep",
        "resedit-replace:handle,\"106\",2052," + d + "patchdata.data",
        "resedit-close:handle,keep",
        "delete:" + d + "patchdata.data",
        "pump",
        "string-patch:res_ru.data",
        "transplant:TSRes.dll,5,101",
        "transplant:TSRes.dll,5,226",
        "transplant:TSRes.dll,5,520",
        "save:res_ru>" + d + "res_ru.data",
        "delete:" + d + "res_cn.data",
        "log:",
        "log:have nice day!",
        "log:Blorn rulezzz 4ever!!!",
    };
}

Events Concat(Events a, const Events& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Events kStart = {"repaint", "clear", "hide-caret", "find-window:CHWindow|iTools 3",
                       "log:Working Please wait!"};

class PatchRunTest : public ::testing::Test {
protected:
    Events events;
    RecordingHost host{events};
    RecordingSteps steps{events};
    std::u16string targetDir = kDir;

    void SetUp() override { host.files = std::set<std::u16string>{kDir + u"iTools.exe"}; }
    binary::Status Click() { return host.RabbitClick(steps, targetDir); }
};

TEST_F(PatchRunTest, TheTargetInTheFolder_EveryStepInOrder) {
    EXPECT_TRUE(Click());
    EXPECT_EQ(events, Concat(Concat(kStart, {"exists:C:\\Tools\\iTools.exe"}),
                             Concat(StepsFrom5("C:\\Tools\\"), {"timer-off", "repaint"})));
    EXPECT_EQ(host.reporter.lines,
              (std::vector<std::string>{"Working Please wait!", "", "have nice day!",
                                        "Blorn rulezzz 4ever!!!"}));
    EXPECT_EQ(targetDir, kDir);
}

TEST_F(PatchRunTest, AFailedStringPatchKeepsTheChinesePackTheTargetStillNames) {
    steps.stringPatchFails = true;
    EXPECT_TRUE(Click());
    Events expected = StepsFrom5("C:\\Tools\\");
    const auto patched = std::find(expected.begin(), expected.end(), "string-patch:res_ru.data");
    expected.insert(patched + 1, "box:string patch failed");
    expected.erase(std::find(expected.begin(), expected.end(), "delete:C:\\Tools\\res_cn.data"));
    EXPECT_EQ(events, Concat(Concat(kStart, {"exists:C:\\Tools\\iTools.exe"}),
                             Concat(expected, {"timer-off", "repaint"})));
}

TEST_F(PatchRunTest, TheTargetRunning_OnlyTheMessage) {
    host.targetRunning = true;
    EXPECT_TRUE(Click());
    EXPECT_EQ(events, (Events{"repaint", "clear", "hide-caret", "find-window:CHWindow|iTools 3",
                              "box:Please, close iTools!", "timer-off", "repaint"}));
    EXPECT_TRUE(host.reporter.lines.empty());
}

TEST_F(PatchRunTest, ElsewhereWithAPick_TheRunAndLaterRunsUseThePickedFolder) {
    host.files = std::set<std::u16string>{u"D:\\Target\\iTools.exe"};
    host.dialogAnswers = {{true, u"D:\\Target\\iTools.exe"}};
    EXPECT_TRUE(Click());
    EXPECT_EQ(events,
              Concat(Concat(kStart, {"exists:C:\\Tools\\iTools.exe", "box:" + kNotFound,
                                     "open-dialog:" + kDefault, "exists:D:\\Target\\iTools.exe"}),
                     Concat(StepsFrom5("D:\\Target\\"), {"timer-off", "repaint"})));
    EXPECT_EQ(targetDir, u"D:\\Target\\");

    events.clear();
    EXPECT_TRUE(Click());
    EXPECT_EQ(events, Concat(Concat(kStart, {"exists:D:\\Target\\iTools.exe"}),
                             Concat(StepsFrom5("D:\\Target\\"), {"timer-off", "repaint"})))
        << "no message, no dialog: the picked folder stays";
}

TEST_F(PatchRunTest, APickInADriveRootGivesAFolderWithTwoBackslashes) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"D:\\iTools.exe", u"D:\\\\"},
        {u"D:\\Target\\iTools.exe", u"D:\\Target\\"},
        {u"\\\\server\\share\\iTools 3\\iTools.exe", u"\\\\server\\share\\iTools 3\\"},
    };
    for (const auto& [picked, dir] : cases) {
        EXPECT_EQ(TargetDirForPick(picked), dir);
    }
    host.files = std::set<std::u16string>{u"D:\\iTools.exe"};
    host.dialogAnswers = {{true, u"D:\\iTools.exe"}};
    EXPECT_TRUE(Click());
    EXPECT_EQ(targetDir, u"D:\\\\");
    EXPECT_NE(std::find(events.begin(), events.end(), "resedit-open:D:\\\\iTools.exe,keep"),
              events.end());
}

TEST_F(PatchRunTest, ACancelWithTheDefaultMissing_EndsTheProgram) {
    host.files = std::set<std::u16string>{};
    EXPECT_THROW(static_cast<void>(Click()), ProgramEnded);
    EXPECT_EQ(events, Concat(kStart, {"exists:C:\\Tools\\iTools.exe", "box:" + kNotFound,
                                      "open-dialog:" + kDefault, "exists:" + kDefault,
                                      "box:Вы опять не правильно указали файл!: " + kDefault,
                                      "end-program"}));
    EXPECT_EQ(targetDir, kDir);
}

TEST_F(PatchRunTest, ACancelWithTheDefaultPresent_GoesOnInTheOldFolder) {
    host.files = std::set<std::u16string>{std::u16string(kDefaultTargetPath)};
    EXPECT_TRUE(Click());
    EXPECT_EQ(events, Concat(Concat(kStart, {"exists:C:\\Tools\\iTools.exe", "box:" + kNotFound,
                                             "open-dialog:" + kDefault, "exists:" + kDefault}),
                             Concat(StepsFrom5("C:\\Tools\\"), {"timer-off", "repaint"})));
}

TEST_F(PatchRunTest, ATypedNameThatDoesNotExist_NamesItAndEndsTheProgram) {
    host.files = std::set<std::u16string>{};
    host.dialogAnswers = {{true, u"E:\\typo\\iTool.exe"}};
    EXPECT_THROW(static_cast<void>(Click()), ProgramEnded);
    EXPECT_EQ(events.back(), "end-program");
    EXPECT_EQ(events[events.size() - 2],
              "box:Вы опять не правильно указали файл!: E:\\typo\\iTool.exe");
    EXPECT_EQ(events[events.size() - 3], "exists:E:\\typo\\iTool.exe");

    // A later dialog starts from the typed name.
    events.clear();
    targetDir = kDir;
    host.dialogAnswers.clear();
    EXPECT_THROW(static_cast<void>(host.GoClick(steps, targetDir)), ProgramEnded);
    EXPECT_NE(std::find(events.begin(), events.end(), "open-dialog:E:\\typo\\iTool.exe"),
              events.end());
}

TEST_F(PatchRunTest, TheIconStep_FailuresAndTheirReports) {
    steps.replaceFails = true;
    EXPECT_TRUE(Click());
    Events expected =
        Concat(Concat(kStart, {"exists:C:\\Tools\\iTools.exe"}), StepsFrom5("C:\\Tools\\"));
    expected.insert(expected.begin() + 10, "caption:Иконка не установлена!!!");
    expected.insert(expected.end(), {"timer-off", "repaint"});
    EXPECT_EQ(events, expected)
        << "the caption is replaced, the file closed with changes kept, the run completes";
    EXPECT_EQ(host.caption, u"Иконка не установлена!!!");

    events.clear();
    steps.replaceFails = false;
    steps.openFails = true;
    EXPECT_TRUE(Click());
    expected = Concat(Concat(kStart, {"exists:C:\\Tools\\iTools.exe"}), StepsFrom5("C:\\Tools\\"));
    expected.erase(expected.begin() + 9, expected.begin() + 11); // no replace, no close
    expected.insert(expected.end(), {"timer-off", "repaint"});
    EXPECT_EQ(events, expected) << "a target the editor cannot open is skipped without a report";
}

TEST_F(PatchRunTest, AnErrorWritingAPayloadAbandonsTheRestAndTheTimerStop) {
    steps.saveFailsFor = u"patchdata";
    const binary::Status run = Click();
    ASSERT_FALSE(run);
    EXPECT_EQ(U8(UserText(run.error())),
              "Cannot create file \"C:\\Tools\\patchdata.data\". Access is denied.")
        << "the write's error reaches the caller as it was";
    EXPECT_EQ(events.back(), "save:patchdata>C:\\Tools\\patchdata.data")
        << "nothing after the failed write";
    EXPECT_TRUE(host.timerEnabled);

    // The pack: iTools.exe, which this run pointed at it, names the Chinese pack again while
    // that is there; a target that named it before (nothing rewritten now) keeps the name.
    // Nothing else follows.
    struct Case {
        bool chinesePackThere;
        std::uint64_t rewritten;
        Events after;
    };
    for (const Case& c :
         {Case{true, 1, {"exists:C:\\Tools\\res_cn.data", "string-revert:res_ru.data"}},
          Case{true, 3, {"exists:C:\\Tools\\res_cn.data", "string-revert:res_ru.data"}},
          Case{false, 1, {"exists:C:\\Tools\\res_cn.data"}}, Case{true, 0, {}}}) {
        SCOPED_TRACE(std::to_string(c.chinesePackThere) + "," + std::to_string(c.rewritten));
        events.clear();
        host.files = std::set<std::u16string>{kDir + u"iTools.exe"};
        if (c.chinesePackThere) {
            host.files->insert(kDir + u"res_cn.data");
        }
        steps.stringPatchRewrites = c.rewritten;
        steps.saveFailsFor = u"res_ru";
        EXPECT_FALSE(Click());
        const auto save =
            std::find(events.begin(), events.end(), "save:res_ru>C:\\Tools\\res_ru.data");
        ASSERT_NE(save, events.end());
        EXPECT_EQ(Events(save + 1, events.end()), c.after);
        EXPECT_TRUE(host.timerEnabled);
    }
}

TEST_F(PatchRunTest, ABackupThatCannotBeMadeStopsTheRunBeforeAnyChange) {
    const std::u16string why = u"Не удалось сохранить копию файла \"C:\\Tools\\iTools.exe\".";
    steps.backupFails = why;
    const binary::Status run = Click();
    ASSERT_FALSE(run);
    EXPECT_EQ(UserText(run.error()), why) << "shown as the payload's error is";
    EXPECT_EQ(events, Concat(kStart, {"exists:C:\\Tools\\iTools.exe", "backup:C:\\Tools\\"}));
    EXPECT_EQ(host.reporter.lines, std::vector<std::string>{"Working Please wait!"});
    EXPECT_TRUE(host.timerEnabled) << "the rain goes on";
}

// The whole run with the real steps: the resource editor and the string patch on a real PE
// file in a folder, the payload writer on the own resources, the update functions recorded.
class SystemRunTest : public resedit::testing::ScratchTest {
protected:
    FakeResources resources;
    Events events;
    RecordingHost host{events};
    std::u16string targetDir;
    SystemSteps steps{host.reporter, resources, platform::SystemOs(), targetDir};

    void SetUp() override {
        ScratchTest::SetUp();
        targetDir = dir.u16string() + u"/";
    }
    // The program's own payloads: the pack and the icon file given, the three dialogs.
    void Payloads(const Bytes& pack, const Bytes& icon) {
        using platform::ResourceName;
        resources.own = {{ResourceName::Id(10), ResourceName::Text(u"RES_RU"), 1033, pack},
                         {ResourceName::Id(10), ResourceName::Text(u"PATCHDATA"), 1033, icon},
                         {ResourceName::Id(5), ResourceName::Id(101), 2052, Bytes(380, 1)},
                         {ResourceName::Id(5), ResourceName::Id(226), 2052, Bytes(668, 2)},
                         {ResourceName::Id(5), ResourceName::Id(520), 2052, Bytes(500, 3)}};
    }
    // The target folder: iTools.exe given, TSRes.dll and the Chinese pack.
    void Target(const Bytes& exe) {
        WriteFileBytes(dir / "iTools.exe", exe);
        // Windows names files without regard to case and the string patch opens "itools.exe":
        // a second name for the same file stands in for that here.
        if (!std::filesystem::exists(dir / "itools.exe")) {
            std::filesystem::create_hard_link(dir / "iTools.exe", dir / "itools.exe");
        }
        WriteFileBytes(dir / "TSRes.dll", Bytes(1024, 0));
        WriteFileBytes(dir / "res_cn.data", Bytes(10, 1));
    }
};

TEST_F(SystemRunTest, PatchesAFolderEndToEndAndASecondRunMatches) {
    using namespace resedit::testing;
    using platform::ResourceName;
    using resedit::ResKey;
    const std::vector<IconImage> oldImages = {{16, 16, 1, 32, Pattern(300, 1)},
                                              {32, 32, 1, 32, Pattern(1100, 2)},
                                              {48, 48, 1, 32, Pattern(2400, 3)}};
    std::vector<IconImage> newImages;
    for (int i = 0; i < 6; ++i) {
        newImages.push_back(
            {static_cast<std::uint8_t>(16 << (i / 2)), static_cast<std::uint8_t>(16 << (i / 2)), 0,
             0, Pattern(i == 5 ? 40000 : 1000 + 500 * i, static_cast<std::uint8_t>(10 + i))});
    }
    PeRecipe spec = TypicalRecipe(
        true, {{ResKey::FromId(3), ResKey::FromId(1), 2052, oldImages[0].bytes},
               {ResKey::FromId(3), ResKey::FromId(2), 2052, oldImages[1].bytes},
               {ResKey::FromId(3), ResKey::FromId(3), 2052, oldImages[2].bytes},
               {ResKey::FromId(14), ResKey::FromName(u"106"), 2052,
                BuildGroupRecord(oldImages, {1, 2, 3})},
               {ResKey::FromId(10), ResKey::FromName(u"OTHER"), 1033, Pattern(700, 4)}});
    const Bytes name = Utf16Bytes(u"res_cn.data");
    std::copy(name.begin(), name.end(), spec.sections[1].bytes.begin() + 0x40);
    const Bytes original = BuildPe(spec).bytes;
    Target(original);
    const Bytes pack = Pattern(70000, 9);
    Payloads(pack, BuildIco(newImages));

    const std::vector<std::string> lines = {"Working Please wait!",
                                            "Load: TSRes.dll",
                                            "Find resources in: TSRes.dll",
                                            "Read resources in: TSRes.dll",
                                            "Open file for writing: TSRes.dll",
                                            "Adding patched resources: 101 in file:TSRes.dll",
                                            "Clean up...",
                                            "Load: TSRes.dll",
                                            "Find resources in: TSRes.dll",
                                            "Read resources in: TSRes.dll",
                                            "Open file for writing: TSRes.dll",
                                            "Adding patched resources: 226 in file:TSRes.dll",
                                            "Clean up...",
                                            "Load: TSRes.dll",
                                            "Find resources in: TSRes.dll",
                                            "Read resources in: TSRes.dll",
                                            "Open file for writing: TSRes.dll",
                                            "Adding patched resources: 520 in file:TSRes.dll",
                                            "Clean up...",
                                            "",
                                            "have nice day!",
                                            "Blorn rulezzz 4ever!!!"};
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        EXPECT_TRUE(host.RabbitClick(steps, targetDir));
        EXPECT_EQ(host.reporter.lines, lines);
        EXPECT_TRUE(host.reporter.boxes.empty());
        EXPECT_FALSE(host.timerEnabled);

        EXPECT_FALSE(std::filesystem::exists(dir / "patchdata.data"));
        EXPECT_FALSE(std::filesystem::exists(dir / "res_cn.data"));
        EXPECT_EQ(ReadFileBytes(dir / "res_ru.data"), pack);
        const Bytes patched = ReadFileBytes(dir / "iTools.exe");
        const Bytes ru = Utf16Bytes(u"res_ru.data");
        EXPECT_NE(std::search(patched.begin(), patched.end(), ru.begin(), ru.end()), patched.end());
        EXPECT_EQ(std::search(patched.begin(), patched.end(), name.begin(), name.end()),
                  patched.end());

        // The group "106" now lists the six new images, which are in the file.
        resedit::TResEditHandle* h =
            resedit::ResEditOpen(platform::SystemOs(), (dir / "iTools.exe").u16string(), false);
        ASSERT_NE(h, nullptr);
        std::vector<std::uint8_t> group;
        ASSERT_TRUE(
            resedit::ResEditGetBytes(h, ResKey::FromId(14), ResKey::FromName(u"106"), 2052, group));
        ASSERT_EQ(group.size(), 6u + 14u * 6u);
        for (int i = 0; i < 6; ++i) {
            const std::uint16_t id =
                static_cast<std::uint16_t>(group[6 + 14 * i + 12] | group[6 + 14 * i + 13] << 8);
            std::vector<std::uint8_t> image;
            ASSERT_TRUE(
                resedit::ResEditGetBytes(h, ResKey::FromId(3), ResKey::FromId(id), 2052, image));
            EXPECT_EQ(image, newImages[static_cast<std::size_t>(i)].bytes);
        }
        EXPECT_TRUE(resedit::ResEditClose(h, true));
        EXPECT_TRUE(OraclesAccept(dir / "iTools.exe"));

        // The originals as they were before the first run, and nothing else.
        const std::filesystem::path backup = BackupPath(targetDir);
        EXPECT_EQ(ReadFileBytes(backup / "iTools.exe"), original);
        EXPECT_EQ(ReadFileBytes(backup / "TSRes.dll"), Bytes(1024, 0));
        EXPECT_EQ(ReadFileBytes(backup / "res_cn.data"), Bytes(10, 1));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(backup),
                                std::filesystem::directory_iterator()),
                  3);
    }
    ASSERT_EQ(resources.committed.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        const auto& c = resources.committed[i];
        EXPECT_EQ(c.path, targetDir + u"TSRes.dll");
        EXPECT_FALSE(c.discard);
        ASSERT_EQ(c.updates.size(), 1u);
        EXPECT_EQ(c.updates[0].name, kDialogIds[i % 3]);
        EXPECT_EQ(c.updates[0].language, 2052);
    }
    EXPECT_EQ(resedit::testing::LeftoverTempFiles(), std::vector<std::filesystem::path>{});
}

// The Russian pack cannot be written (a folder of its name stands in the way) after the
// string patch: iTools.exe names its own pack again, which stays, so the target still starts.
TEST_F(SystemRunTest, APackThatCannotBeWrittenLeavesTheTargetNamingItsOwnPack) {
    using resedit::testing::Pattern;
    Bytes exe = Pattern(4096, 5);
    const Bytes name = Utf16Bytes(u"res_cn.data");
    std::copy(name.begin(), name.end(), exe.begin() + 0x100);
    std::copy(name.begin(), name.end(), exe.begin() + 0x800);
    Target(exe);
    std::filesystem::create_directory(dir / "res_ru.data");
    Payloads(Pattern(7000, 9), Pattern(300, 8));

    EXPECT_FALSE(host.RabbitClick(steps, targetDir));
    EXPECT_TRUE(host.reporter.boxes.empty()) << "the string patch itself succeeded";
    EXPECT_EQ(ReadFileBytes(dir / "iTools.exe"), exe);
    EXPECT_EQ(ReadFileBytes(dir / "res_cn.data"), Bytes(10, 1));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "res_ru.data"));
}

// A target localised before, its Chinese pack left behind: when the Russian pack cannot be
// written, iTools.exe, which this run did not rewrite, keeps naming it.
TEST_F(SystemRunTest, ARerunThatCannotWriteThePackKeepsTheTargetRussian) {
    using resedit::testing::Pattern;
    Bytes exe = Pattern(4096, 5);
    const Bytes name = Utf16Bytes(u"res_ru.data");
    std::copy(name.begin(), name.end(), exe.begin() + 0x100);
    Target(exe);
    std::filesystem::create_directory(dir / "res_ru.data");
    Payloads(Pattern(7000, 9), Pattern(300, 8));

    EXPECT_FALSE(host.RabbitClick(steps, targetDir));
    EXPECT_TRUE(host.reporter.boxes.empty());
    EXPECT_EQ(ReadFileBytes(dir / "iTools.exe"), exe) << "still names res_ru.data";
    EXPECT_EQ(ReadFileBytes(dir / "res_cn.data"), Bytes(10, 1));
    EXPECT_FALSE(std::filesystem::exists(BackupPath(targetDir)))
        << "a target localised before has no original to keep";
}

} // namespace
} // namespace patch::testing
