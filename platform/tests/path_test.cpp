// Windows path texts taken apart: folder, file name, title.
#include "platform/path.h"

#include <gtest/gtest.h>

namespace {

struct PathCase {
    const char16_t* path;
    const char16_t* filePath;
    const char16_t* fileDir;
    const char16_t* fileName;
};

const PathCase kCases[] = {
    {u"C:\\Tools\\patch.exe", u"C:\\Tools\\", u"C:\\Tools", u"patch.exe"},
    {u"D:\\iTools.exe", u"D:\\", u"D:\\", u"iTools.exe"},
    {u"D:\\Target\\iTools.exe", u"D:\\Target\\", u"D:\\Target", u"iTools.exe"},
    {u"C:iTools.exe", u"C:", u"C:", u"iTools.exe"},
    {u"iTools.exe", u"", u"", u"iTools.exe"},
    {u"\\\\server\\share\\a.exe", u"\\\\server\\share\\", u"\\\\server\\share", u"a.exe"},
    {u"\\a.exe", u"\\", u"\\", u"a.exe"},
};

TEST(Path, SplitsFolderAndName) {
    for (const PathCase& c : kCases) {
        SCOPED_TRACE(std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path)));
        EXPECT_EQ(platform::ExtractFilePath(c.path), c.filePath);
        EXPECT_EQ(platform::ExtractFileDir(c.path), c.fileDir);
        EXPECT_EQ(platform::ExtractFileName(c.path), c.fileName);
    }
}

TEST(Path, ADriveRootPickedInTheDialogGivesTwoBackslashes) {
    // The patch run appends one backslash to the folder part.
    EXPECT_EQ(platform::ExtractFileDir(u"D:\\iTools.exe") + u"\\", u"D:\\\\");
}

TEST(Path, TitleIsTheNameWithoutExtension) {
    EXPECT_EQ(platform::FileNameWithoutExtension(u"C:\\x\\iTools3-Rus.exe"), u"iTools3-Rus");
    EXPECT_EQ(platform::FileNameWithoutExtension(u"C:\\x.y\\tool"), u"tool");
    EXPECT_EQ(platform::FileNameWithoutExtension(u"a.b.exe"), u"a.b");
}

} // namespace
