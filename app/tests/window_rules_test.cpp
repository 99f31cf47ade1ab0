// The main window's rules that need no window: caption, target folder, restore switch, DPI.
#include "app/window_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(Caption, AppendsTheUserNameAfterDlya) {
    EXPECT_EQ(app::ComposeCaption(app::kStoredCaption, u"alice"),
              u"The Thruth Is Out There для alice");
    EXPECT_EQ(app::ComposeCaption(app::kStoredCaption, u""), u"The Thruth Is Out There для ");
}

TEST(TargetDir, IsTheProgramsFolderWithItsBackslash) {
    EXPECT_EQ(app::TargetDirFromExePath(u"C:\\Tools\\patch.exe"), u"C:\\Tools\\");
    EXPECT_EQ(
        app::TargetDirFromExePath(u"C:\\Program Files (x86)\\ThinkSky\\iTools 3\\iTools3-Rus.exe"),
        u"C:\\Program Files (x86)\\ThinkSky\\iTools 3\\");
    EXPECT_EQ(app::TargetDirFromExePath(u"D:\\iTools3-Rus.exe"), u"D:\\");
}

TEST(CommandLine, TheRestoreSwitchInItsThreeSpellings) {
    for (std::u16string_view yes :
         {u"/restore", u"-restore", u"--restore", u"/RESTORE", u"-Restore"}) {
        EXPECT_TRUE(app::IsRestoreSwitch(yes));
    }
    for (std::u16string_view no : {u"restore", u"/restor", u"/restores", u"---restore",
                                   u"//restore", u"/re store", u"", u"/", u"--"}) {
        EXPECT_FALSE(app::IsRestoreSwitch(no));
    }
}

TEST(Dpi, ScalesLikeMulDiv) {
    EXPECT_EQ(app::ScaleForDpi(454, 96), 454);
    EXPECT_EQ(app::ScaleForDpi(454, 144), 681);
    EXPECT_EQ(app::ScaleForDpi(513, 120), 641);
    EXPECT_EQ(app::ScaleForDpi(11, 144), 17);
}

} // namespace
