// libFuzzer harness for the resource editor: the input, written to a file, is opened, its
// resources read, an icon group replaced and a resource added, and the file closed keeping
// the changes; a file the editor wrote must open again. The icon file is a fixed good one and,
// in a second round, the input's last bytes.
#include "resedit/resedit.h"
#include "resedit/tests/pe_builder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace resedit;

// A folder of this process for the input's files, removed at exit.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder() {
        path = std::filesystem::temp_directory_path() /
               ("resedit-fuzz-" + std::to_string(platform::SystemOs().ProcessId()));
        std::filesystem::create_directories(path);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

const std::filesystem::path& Scratch() {
    static const ScratchFolder folder;
    return folder.path;
}

void WriteFile(const std::filesystem::path& p, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Reads every leaf the way callers do.
void Walk(TResEditHandle* h) {
    for (TPResItem t = h->root->child; t; t = t->next) {
        if (!t->isDir) {
            continue;
        }
        for (TPResItem n = t->child; n; n = n->next) {
            if (!n->isDir) {
                continue;
            }
            const ResKey type = !t->named ? ResKey::FromId(static_cast<std::uint16_t>(t->id))
                                          : ResKey::FromName(t->name);
            const ResKey name = !n->named ? ResKey::FromId(static_cast<std::uint16_t>(n->id))
                                          : ResKey::FromName(n->name);
            for (TPResItem l = n->child; l; l = l->next) {
                const std::uint8_t* data = nullptr;
                std::uint32_t size = 0;
                if (ResEditGet(h, type, name, static_cast<std::uint16_t>(l->id), data, size) &&
                    data) {
                    volatile std::uint8_t sum = 0;
                    for (std::uint32_t i = 0; i < size; ++i) {
                        sum = static_cast<std::uint8_t>(sum + data[i]);
                    }
                }
            }
        }
    }
}

// Bytes of every leaf: shared data is read into each place that refers to it, so a small
// input can describe a tree that holds up to 2 GB.
std::uint64_t LeafBytes(const TResItem* dir) {
    std::uint64_t sum = 0;
    for (const TResItem* c = dir->child; c; c = c->next) {
        sum += c->isDir ? LeafBytes(c) : c->size;
    }
    return sum;
}

void Round(const std::filesystem::path& exe, const std::filesystem::path& ico,
           const std::uint8_t* data, std::size_t size) {
    WriteFile(exe, data, size);
    TResEditHandle* h = ResEditOpen(exe.u16string(), false);
    if (!h) {
        return;
    }
    Walk(h);
    // Any outcome of the edits is fine: the harness looks for faults, and the close below
    // writes whatever the tree then holds.
    (void)ResEditReplaceIconGroup(h, ResKey::FromName(u"106"), 2052, ico.u16string());
    const std::uint8_t extra[] = {1, 2, 3, 4, 5};
    (void)ResEditUpdate(h, ResKey::FromId(10), ResKey::FromName(u"FUZZ"), 1033, extra,
                        sizeof extra);
    (void)ResEditUpdate(h, ResKey::FromId(3), ResKey::FromId(1), 0, nullptr, 0);
    // Writing such a tree back is the same code as writing a small one, only slower: keep the
    // runs quick and the temporary files small.
    const bool huge = LeafBytes(h->root) > (64u << 20);
    if (ResEditClose(h, huge)) {
        // What the editor wrote, it can read.
        TResEditHandle* again = ResEditOpen(exe.u16string(), false);
        if (!again) {
            std::fprintf(stderr, "the written file does not open again: %s\n",
                         ResEditLastMessage().c_str());
            std::abort();
        }
        // Closing without writing cannot fail.
        (void)ResEditClose(again, true);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path exe = Scratch() / "input.exe";
    const std::filesystem::path goodIco = Scratch() / "good.ico";
    const std::filesystem::path tailIco = Scratch() / "tail.ico";
    static const bool ready = [&] {
        const auto bytes = testing::BuildIco(
            {{16, 16, 0, 0, testing::Pattern(300, 1)}, {32, 32, 0, 0, testing::Pattern(40000, 2)}});
        WriteFile(goodIco, bytes.data(), bytes.size());
        return true;
    }();
    (void)ready;
    Round(exe, goodIco, data, size);
    const std::size_t tail = size < 512 ? size : 512;
    WriteFile(tailIco, data + size - tail, tail);
    Round(exe, tailIco, data, size);
    return 0;
}
