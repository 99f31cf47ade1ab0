// The payload writer and the dialog transplant on the real platform: this program's own
// resources (the payloads are compiled into it) and copies of the stand-in TSRes.dll.
#include "patch/payload.h"
#include "patch/stringpatch.h"
#include "patch/tests/fakes.h"
#include "patch/transplant.h"
#include "patch/user_error.h"
#include "platform/resource.h"
#include "resedit/tests/support.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace patch::testing {
namespace {

// A Unix path of the build as Wine sees it.
std::filesystem::path WinePath(const char* unixPath) {
    std::string p = std::string("Z:") + unixPath;
    for (char& c : p) {
        if (c == '/') {
            c = '\\';
        }
    }
    return p;
}

const std::filesystem::path kPayloadDir = WinePath(ITR_PAYLOAD_DIR);
const std::filesystem::path kStandInDir = WinePath(ITR_STANDIN_DIR);
constexpr WORD kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
constexpr WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// One resource of a file, read through the loader; empty when it is missing.
Bytes ResourceOf(const std::filesystem::path& file, WORD type, WORD id, WORD language) {
    HMODULE m = LoadLibraryExW(file.wstring().c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    Bytes bytes;
    if (!m) {
        return bytes;
    }
    if (HRSRC r = FindResourceExW(m, MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(id), language)) {
        const auto* p = static_cast<const std::uint8_t*>(LockResource(LoadResource(m, r)));
        bytes.assign(p, p + SizeofResource(m, r));
    }
    FreeLibrary(m);
    return bytes;
}

// The resources of a file as "type/name/language size" lines.
std::string KeyText(LPCWSTR key) {
    return IS_INTRESOURCE(key) ? std::to_string(reinterpret_cast<UINT_PTR>(key))
                               : U8(reinterpret_cast<const char16_t*>(key));
}

BOOL CALLBACK OnLanguage(HMODULE m, LPCWSTR type, LPCWSTR name, WORD lang, LONG_PTR out) {
    HRSRC r = FindResourceExW(m, type, name, lang);
    reinterpret_cast<std::vector<std::string>*>(out)->push_back(
        KeyText(type) + "/" + KeyText(name) + "/" + std::to_string(lang) + " " +
        std::to_string(r ? SizeofResource(m, r) : 0));
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE m, LPCWSTR type, LPWSTR name, LONG_PTR out) {
    EnumResourceLanguagesW(m, type, name, OnLanguage, out);
    return TRUE;
}

BOOL CALLBACK OnType(HMODULE m, LPWSTR type, LONG_PTR out) {
    EnumResourceNamesW(m, type, OnName, out);
    return TRUE;
}

std::vector<std::string> ListResources(const std::filesystem::path& file) {
    std::vector<std::string> out;
    HMODULE m = LoadLibraryExW(file.wstring().c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (m) {
        EnumResourceTypesW(m, OnType, reinterpret_cast<LONG_PTR>(&out));
        FreeLibrary(m);
    }
    std::sort(out.begin(), out.end());
    return out;
}

class WineTest : public resedit::testing::ScratchTest {
protected:
    Events events;
    RecordingReporter reporter{events};
    std::u16string Dir() const { return dir.u16string() + u"\\"; }
};

using SaveResourceTest = WineTest;

TEST_F(SaveResourceTest, FindsTheResourceWhateverTheCaseAndReplacesTheFile) {
    const Bytes icon = ReadFileBytes(kPayloadDir / "mainicon.ico");
    ASSERT_EQ(icon.size(), 370070u);
    for (const char16_t* name : {u"patchdata", u"PatchData", u"PATCHDATA"}) {
        SCOPED_TRACE(U8(name));
        WriteFileBytes(dir / "patchdata.data", Bytes(500000, 0xEE)); // longer than the resource
        EXPECT_TRUE(SaveResourceToFile(platform::SystemResources(), platform::SystemOs(), name,
                                       (dir / "patchdata.data").u16string()));
        EXPECT_EQ(ReadFileBytes(dir / "patchdata.data"), icon);
    }
    EXPECT_TRUE(SaveResourceToFile(platform::SystemResources(), platform::SystemOs(), u"res_ru",
                                   (dir / "res_ru.data").u16string()));
    EXPECT_EQ(ReadFileBytes(dir / "res_ru.data"), ReadFileBytes(kPayloadDir / "res_ru.zip"));
}

TEST_F(SaveResourceTest, FailsCleanlyIntoAMissingFolder) {
    const std::u16string target = (dir / "missing" / "res_ru.data").u16string();
    const binary::Status created =
        SaveResourceToFile(platform::SystemResources(), platform::SystemOs(), u"res_ru", target);
    ASSERT_FALSE(created) << "no error raised";
    const std::u16string text = UserText(created.error());
    const std::u16string prefix = u"Cannot create file \"" + target + u"\". ";
    EXPECT_EQ(text.substr(0, prefix.size()), prefix);
    EXPECT_EQ(text.substr(prefix.size()), platform::SystemErrorText(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(text.find(u'\n'), std::u16string::npos) << "no line break from the system text";
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    const binary::Status found = SaveResourceToFile(
        platform::SystemResources(), platform::SystemOs(), u"nosuch", (dir / "x").u16string());
    ASSERT_FALSE(found) << "no error raised";
    EXPECT_EQ(U8(UserText(found.error())), "Resource nosuch not found");
}

class TransplantWineTest : public WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        std::filesystem::copy_file(kStandInDir / "TSRes.dll", dir / "TSRes.dll");
        before = ListResources(dir / "TSRes.dll");
    }
    // True when the platform accepted the update.
    bool Run(std::uint16_t id) {
        return static_cast<bool>(
            TransplantDialog(reporter, platform::SystemResources(), Dir(), u"TSRes.dll", 5, id));
    }
    Bytes Own(WORD id) {
        return ResourceOf(platform::SystemResources().OwnExecutablePath(), 5, id, kChinese);
    }
    std::vector<std::string> before;
};

Events Lines(const std::string& id) {
    return {"log:Load: TSRes.dll",
            "log:Find resources in: TSRes.dll",
            "log:Read resources in: TSRes.dll",
            "log:Open file for writing: TSRes.dll",
            "log:Adding patched resources: " + id + " in file:TSRes.dll",
            "log:Clean up..."};
}

TEST_F(TransplantWineTest, ReplacesTheChineseDialogAndKeepsEverythingElse) {
    const Bytes english = ResourceOf(dir / "TSRes.dll", 5, 101, kEnglish);
    ASSERT_FALSE(english.empty());
    ASSERT_NE(ResourceOf(dir / "TSRes.dll", 5, 101, kChinese), Own(101));
    EXPECT_TRUE(Run(101));
    EXPECT_EQ(events, Lines("101"));
    EXPECT_EQ(ResourceOf(dir / "TSRes.dll", 5, 101, kChinese), Own(101));
    EXPECT_EQ(ResourceOf(dir / "TSRes.dll", 5, 101, kEnglish), english)
        << "the other language stays";
    std::vector<std::string> after = ListResources(dir / "TSRes.dll");
    for (auto& line : {&before, &after}) {
        line->erase(
            std::remove_if(line->begin(), line->end(),
                           [](const std::string& l) { return l.rfind("5/101/2052 ", 0) == 0; }),
            line->end());
    }
    EXPECT_EQ(after, before) << "every other resource stays";
}

TEST_F(TransplantWineTest, AddsADialogTheTargetLacks) {
    ASSERT_TRUE(ResourceOf(dir / "TSRes.dll", 5, 226, kChinese).empty());
    EXPECT_TRUE(Run(226));
    EXPECT_EQ(events, Lines("226"));
    EXPECT_EQ(ResourceOf(dir / "TSRes.dll", 5, 226, kChinese), Own(226));
    EXPECT_EQ(ListResources(dir / "TSRes.dll").size(), before.size() + 1);
}

TEST_F(TransplantWineTest, ThreeCallsInARowEachCommitted) {
    for (std::uint16_t id : {101, 226, 520}) {
        EXPECT_TRUE(Run(id));
    }
    for (std::uint16_t id : {101, 226, 520}) {
        EXPECT_EQ(ResourceOf(dir / "TSRes.dll", 5, id, kChinese), Own(id)) << id;
    }
    EXPECT_EQ(events.size(), 18u);
    EXPECT_TRUE(reporter.boxes.empty());
    // The library still loads as code, too.
    HMODULE m = LoadLibraryW((dir / "TSRes.dll").wstring().c_str());
    EXPECT_NE(m, nullptr);
    if (m) {
        FreeLibrary(m);
    }
}

TEST_F(TransplantWineTest, AMissingTargetGivesSixLinesAndThreeBoxesAndNoFile) {
    std::filesystem::remove(dir / "TSRes.dll");
    EXPECT_FALSE(Run(226));
    Events expected = Lines("226");
    expected.insert(expected.begin() + 4, "box:Could not open file for writing.");
    expected.insert(expected.begin() + 6, "box:Could not add resource:226");
    expected.insert(expected.begin() + 7, "box:Could not write changes to file:TSRes.dll");
    EXPECT_EQ(events, expected);
    EXPECT_FALSE(std::filesystem::exists(dir / "TSRes.dll"));
}

// A read-only target cannot be opened for writing: one message box, the file untouched.
// Under Wine the attribute is the Unix write permission, which does not bind root; for such a
// user the fault-injecting file layer gives the open the refusal Windows gives
// (ERROR_ACCESS_DENIED), so the test runs for every user.
TEST_F(WineTest, TheStringPatchReportsAReadOnlyTargetOnce) {
    const Bytes name = Utf16Bytes(u"res_cn.data");
    Bytes file(100, 0xAB);
    std::copy(name.begin(), name.end(), file.begin() + 10);
    WriteFileBytes(dir / "iTools.exe", file);
    const std::wstring path = (dir / "iTools.exe").wstring();
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE probe = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool attributeBinds = probe == INVALID_HANDLE_VALUE;
    if (!attributeBinds) {
        CloseHandle(probe);
    }
    CountingOs os(platform::SystemOs());
    if (!attributeBinds) {
        os.failOp = "OpenExisting";
        os.failAt = 1;
        os.failCode = platform::error::kAccessDenied;
    }
    EXPECT_FALSE(PatchExeString(os, reporter, Dir(), u"res_ru.data"));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(
        reporter.boxes[0],
        "Could not write changes to file:" + U8(Dir()) +
            "itools.exe\n\rМожет он у вас запущен? проверьте в диспетчере задач \"itools.exe\"");
    EXPECT_EQ(os.counts["OpenExisting"], 1);
    EXPECT_EQ(os.counts["WriteAt"], 0);
    EXPECT_EQ(ReadFileBytes(dir / "iTools.exe"), file);
}

TEST_F(WineTest, TheStringPatchFindsTheTargetUnderItsLowerCaseName) {
    const Bytes name = Utf16Bytes(u"res_cn.data");
    Bytes file(100, 0xAB);
    std::copy(name.begin(), name.end(), file.begin() + 10);
    WriteFileBytes(dir / "iTools.exe", file);
    EXPECT_TRUE(PatchExeString(platform::SystemOs(), reporter, Dir(), u"res_ru.data"));
    EXPECT_TRUE(reporter.boxes.empty());
    const Bytes ru = Utf16Bytes(u"res_ru.data");
    std::copy(ru.begin(), ru.end(), file.begin() + 10);
    EXPECT_EQ(ReadFileBytes(dir / "iTools.exe"), file);
    EXPECT_TRUE(std::filesystem::exists(dir / "iTools.exe"));
}

} // namespace
} // namespace patch::testing
