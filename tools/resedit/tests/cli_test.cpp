#include "tools/resedit/cli.h"

#include "platform/text.h"
#include "resedit/tests/support.h"

namespace resedit::testing {
namespace {

class CliTest : public ScratchTest {
protected:
    struct Result {
        int rc;
        std::string out, err;
    };
    // Arguments in UTF-8; "@name" stands for a file in the scratch folder.
    Result Run(std::initializer_list<std::string> args) {
        std::vector<std::u16string> a;
        for (const std::string& s : args) {
            a.push_back(s.size() > 1 && s[0] == '@' ? U16(s.substr(1)) : platform::Utf16(s));
        }
        Result r{};
        r.rc = cli::Run(a, r.out, r.err);
        return r;
    }
    void SetUp() override {
        ScratchTest::SetUp();
        const std::vector<Resource> resources = {
            {Id(3), Id(1), 2052, Pattern(40, 1)},
            {Id(14), Id(106), 2052, BuildGroupRecord({{16, 16, 1, 32, Pattern(40, 1)}}, {1})},
            {Name(u"PATCHDATA"), Name(u"106"), 1033, Pattern(5, 5)},
            {Id(10), Id(7), 1033, Pattern(9, 6)},
            {Id(10), Id(7), 2052, Pattern(9, 7)},
        };
        original = BuildPe(TypicalRecipe(true, resources)).bytes;
        Write("a.exe", original);
    }
    Bytes original;
};

TEST_F(CliTest, ListsTheTree) {
    const Result r = Run({"list", "@a.exe"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "\"PATCHDATA\"  \"106\"  1033  5 bytes\n"
                     "3 (ICON)  1  2052  40 bytes\n"
                     "10 (RCDATA)  7  1033  9 bytes\n"
                     "10 (RCDATA)  7  2052  9 bytes\n"
                     "14 (GROUP_ICON)  106  2052  20 bytes\n");
}

TEST_F(CliTest, ExtractsSetsAndDeletes) {
    // The text "106" and the id 106 are told apart by quotes.
    EXPECT_EQ(Run({"extract", "@a.exe", "\"PATCHDATA\"", "\"106\"", "1033", "@x.bin"}).rc, 0);
    EXPECT_EQ(Read("x.bin"), Pattern(5, 5));
    EXPECT_EQ(Run({"extract", "@a.exe", "PATCHDATA", "106", "1033", "@x.bin"}).rc, 1);
    EXPECT_EQ(Run({"extract", "@a.exe", "RT_RCDATA", "7", "2052", "@y.bin"}).rc, 0);
    EXPECT_EQ(Read("y.bin"), Pattern(9, 7));

    Write("data.bin", Pattern(40000, 9));
    EXPECT_EQ(Run({"set", "@a.exe", "RCDATA", "res_ru", "1033", "@data.bin"}).rc, 0);
    EXPECT_EQ(Run({"set", "@a.exe", "10", "7", "1033", "@data.bin"}).rc, 0);
    EXPECT_EQ(Run({"extract", "@a.exe", "10", "res_ru", "1033", "@z.bin"}).rc, 0);
    EXPECT_EQ(Read("z.bin"), Pattern(40000, 9));
    EXPECT_EQ(Run({"delete", "@a.exe", "10", "7", "2052"}).rc, 0);
    EXPECT_EQ(Run({"delete", "@a.exe", "PATCHDATA", "\"106\""}).rc, 0);
    const Result r = Run({"list", "@a.exe"});
    EXPECT_EQ(r.out, "3 (ICON)  1  2052  40 bytes\n"
                     "10 (RCDATA)  \"res_ru\"  1033  40000 bytes\n"
                     "10 (RCDATA)  7  1033  40000 bytes\n"
                     "14 (GROUP_ICON)  106  2052  20 bytes\n");
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe")));
    // Removing what is not there fails and changes nothing.
    const Bytes now = Read("a.exe");
    EXPECT_EQ(Run({"delete", "@a.exe", "10", "7", "2052"}).rc, 1);
    EXPECT_EQ(Run({"delete", "@a.exe", "5", "7"}).rc, 1);
    EXPECT_EQ(Read("a.exe"), now);
}

// A packed program: a resource whose bytes only the running program has is listed, cannot be
// extracted (with the reason), and stays as it is when the others are edited.
TEST_F(CliTest, APackedProgramsResourceWithoutBytesInTheFile) {
    PeRecipe recipe = TypicalRecipe(false, {{Id(10), Id(7), 1033, Pattern(9, 6)},
                                            {Id(10), Id(8), 1033, Pattern(300, 7), 0, 0}});
    recipe.sections.insert(recipe.sections.begin(),
                           {"UPX0", SectionKind::Code, {}, 0x2000, 0, true});
    Write("p.exe", BuildPe(recipe).bytes);
    Result r = Run({"list", "@p.exe"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "10 (RCDATA)  7  1033  9 bytes\n"
                     "10 (RCDATA)  8  1033  300 bytes\n");
    r = Run({"extract", "@p.exe", "10", "8", "1033", "@x.bin"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("cannot read the resource: the resource's bytes are not in the file"),
              std::string::npos)
        << r.err;
    Write("data.bin", Pattern(40000, 9));
    EXPECT_EQ(Run({"set", "@p.exe", "10", "7", "1033", "@data.bin"}).rc, 0);
    r = Run({"list", "@p.exe"});
    EXPECT_EQ(r.out, "10 (RCDATA)  7  1033  40000 bytes\n"
                     "10 (RCDATA)  8  1033  300 bytes\n");
    EXPECT_EQ(Run({"extract", "@p.exe", "10", "7", "1033", "@y.bin"}).rc, 0);
    EXPECT_EQ(Read("y.bin"), Pattern(40000, 9));
}

TEST_F(CliTest, ReplacesAnIconGroup) {
    const std::vector<IconImage> images = {{16, 16, 0, 0, Pattern(300, 1)},
                                           {32, 32, 0, 0, Pattern(40000, 2)}};
    Write("new.ico", BuildIco(images));
    EXPECT_EQ(Run({"icon", "@a.exe", "106", "2052", "@new.ico"}).rc, 0);
    EXPECT_TRUE(OraclesAccept(PathOf("a.exe")));
    EXPECT_EQ(Run({"extract", "@a.exe", "GROUP_ICON", "106", "2052", "@g.bin"}).rc, 0);
    EXPECT_EQ(Read("g.bin"), BuildGroupRecord(images, {1, 2}));
    // A bad icon file: a clear message, the file as it was.
    const Bytes now = Read("a.exe");
    Write("bad.ico", Bytes{0, 0, 1, 0, 9, 0});
    const Result r = Run({"icon", "@a.exe", "106", "2052", "@bad.ico"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("directory is truncated"), std::string::npos) << r.err;
    EXPECT_EQ(Read("a.exe"), now);
}

TEST_F(CliTest, BadCommandLinesAndFiles) {
    Write("text.txt", Bytes{'h', 'i'});
    struct Case {
        std::initializer_list<std::string> args;
        int rc;
        const char* message;
    };
    const Case cases[] = {
        {{}, 2, "usage:"},
        {{"frobnicate", "@a.exe"}, 2, "unknown command frobnicate"},
        {{"list"}, 2, "list takes a file"},
        {{"extract", "@a.exe", "10", "7", "english", "@x"}, 2, "bad type, name or language"},
        {{"extract", "@a.exe", "10", "7", "70000", "@x"}, 2, "bad type, name or language"},
        {{"delete", "@a.exe", "\"\"", "7"}, 2, "bad type, name or language"},
        {{"list", "@missing.exe"}, 1, "cannot open"},
        {{"list", "@text.txt"}, 1, "no MZ signature"},
        {{"set", "@a.exe", "10", "1", "0", "@missing.bin"}, 1, "cannot open"},
        {{"icon", "@a.exe", "106", "2052", "@missing.ico"}, 1, "cannot open the icon file"},
    };
    for (const Case& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.rc, c.rc) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(Read("a.exe"), original);
    EXPECT_EQ(Run({"--help"}).rc, 0);
}

} // namespace
} // namespace resedit::testing
