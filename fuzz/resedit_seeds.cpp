// Writes the fuzzer's seed files: PE32 and PE32+ files as the editor's tests build them, with
// icon groups, named entries, debug directories, symbols, certificates and appended data,
// resource directories that share tables and data, and the shapes packers and installer
// builders leave: leaves in other sections (some without bytes in the file), imports kept in
// the resource section, relocations in its slack; and files with a valid checksum.
#include "binary/pe.h"
#include "resedit/tests/pe_builder.h"

#include <filesystem>
#include <fstream>
#include <string>

using namespace resedit;
using namespace resedit::testing;

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const std::vector<IconImage> images = {{16, 16, 0, 0, Pattern(200, 1)},
                                           {32, 32, 0, 0, Pattern(600, 2)}};
    const std::vector<Resource> resources = {
        {ResKey::FromId(3), ResKey::FromId(1), 2052, images[0].bytes},
        {ResKey::FromId(3), ResKey::FromId(2), 2052, images[1].bytes},
        {ResKey::FromId(14), ResKey::FromName(u"106"), 2052, BuildGroupRecord(images, {1, 2})},
        {ResKey::FromId(14), ResKey::FromId(107), 2052, BuildGroupRecord(images, {1, 2})},
        {ResKey::FromName(u"PATCHDATA"), ResKey::FromName(u"X"), 1033, Pattern(40, 3)},
        {ResKey::FromId(10), ResKey::FromId(7), 1033, Pattern(9, 4)},
    };
    int n = 0;
    auto save = [&](const PeRecipe& recipe) {
        PeFile built = BuildPe(recipe);
        Bytes& b = built.bytes;
        // Every other seed with a valid checksum, which the writer keeps valid.
        if (n % 2 == 0) {
            const binary::Reader file(b);
            const std::uint32_t sum =
                binary::pe::ComputeCheckSum(file, *binary::pe::ParseLayout(file));
            Put32(b, OptionalHeader(built) + binary::pe::kCheckSum, sum);
        }
        std::ofstream(dir / ("seed" + std::to_string(n++) + ".exe"), std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    };
    for (bool plus : {false, true}) {
        save(TypicalRecipe(plus, resources));
        PeRecipe full = TypicalRecipe(plus, resources);
        full.sections.push_back({".debug_info", SectionKind::Debug, Pattern(100, 5), 0});
        full.debugEntries = 2;
        full.symbolTable = true;
        full.certificate = true;
        full.appended = Pattern(77, 6);
        full.fileAlignment = 0x200;
        save(full);
        PeRecipe small = TypicalRecipe(plus, {resources[0]});
        small.sections.pop_back();
        small.sectionAlignment = 0x200;
        save(small);
        // Sharing: directories and data referred to from several places, a name of zero
        // length, and a chain of directories that each refer twice to the next.
        PeRecipe shared = TypicalRecipe(plus, {});
        const std::uint32_t va = BuildPe(shared).resourceVa;
        shared.resourceImage = BuildSharedResourceSection(va).bytes;
        save(shared);
        PeRecipe chain = TypicalRecipe(plus, {});
        chain.resourceImage.assign(0x200, 0);
        constexpr std::uint32_t kLevels = 12;
        for (std::uint32_t i = 0; i < kLevels; ++i) {
            const std::uint32_t next = i + 1 == kLevels ? 32 * kLevels : 0x80000000 | 32 * (i + 1);
            Put16(chain.resourceImage, 32 * i + 14, 2);
            Put32(chain.resourceImage, 32 * i + 16, 1);
            Put32(chain.resourceImage, 32 * i + 20, next);
            Put32(chain.resourceImage, 32 * i + 24, 2);
            Put32(chain.resourceImage, 32 * i + 28, next);
        }
        Put32(chain.resourceImage, 32 * kLevels, va + 0x1C0);
        Put32(chain.resourceImage, 32 * kLevels + 4, 0x40);
        save(chain);
        // Packed: most leaves' bytes in a section without bytes in the file and in the code,
        // the imports in the resource section behind the resources, which is last.
        PeRecipe packed = TypicalRecipe(plus, resources);
        packed.sections.pop_back();
        packed.sections.insert(packed.sections.begin(),
                               {"UPX0", SectionKind::Code, {}, 0x4000, 0, true});
        packed.resources[0].inSection = 0;
        packed.resources[3].inSection = 0;
        packed.resources[5].inSection = 1;
        packed.resourceTrailer = [plus](std::uint32_t at) { return BuildImportTrailer(at, plus); };
        packed.trailerDirectory = binary::pe::kDirImport;
        save(packed);
        // Relocations in the resource section's slack, and a section behind them.
        PeRecipe slack = TypicalRecipe(plus, resources);
        slack.sections[2].rawPadding = 0x200;
        slack.sections[3].inPreviousSlack = true;
        slack.sections.push_back({".debug", SectionKind::Discardable, Pattern(0x80, 7), 0});
        save(slack);
    }
    return 0;
}
