// Helpers for the editor's tests: a scratch folder, whole-file reads and writes, a listing
// of a tree, the outside oracles, and an Os that fails one chosen call.
#pragma once

#include "resedit/resedit.h"
#include "resedit/tests/pe_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace resedit::testing {

// A fresh folder per test, removed afterwards.
class ScratchTest : public ::testing::Test {
protected:
    std::filesystem::path dir;
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path PathOf(const std::string& name) const { return dir / name; }
    std::u16string U16(const std::string& name) const { return PathOf(name).u16string(); }
    void Write(const std::string& name, const Bytes& bytes) const;
    Bytes Read(const std::string& name) const;
};

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);

// One line per leaf, depth first: "type/name/language size checksum", ids as numbers and
// names in double quotes.
std::vector<std::string> Listing(platform::Os& os, const TResItem* root);
// The same for a list of resources as the builder takes them.
std::vector<std::string> Listing(const std::vector<Resource>& resources);

// Checks a written file with objdump -p, pefile and wrestool -l; with expected lines (as
// Listing gives them) it also checks that pefile and wrestool list exactly those resources.
// Runs natively only; under Windows it does nothing.
::testing::AssertionResult OraclesAccept(const std::filesystem::path& file,
                                         const std::vector<std::string>& expected = {});

// Temporary files of this process that the editor left behind.
std::vector<std::filesystem::path> LeftoverTempFiles();

// Passes every call to the real Os, counting the calls that can fail; the call numbered
// failAt (from 1) fails instead, with the given error code.
class FaultyOs : public platform::Os {
public:
    explicit FaultyOs(platform::Os& real) : real_(real) {}
    int calls = 0;
    int failAt = 0;
    std::uint32_t failCode = platform::error::kDiskFull;
    std::string failedCall;

    platform::FileHandle OpenExisting(std::u16string_view path, platform::Access access,
                                      platform::Share share) override;
    platform::FileHandle CreateAlways(std::u16string_view path) override;
    void Close(platform::FileHandle& file) override { real_.Close(file); }
    bool GetLength(platform::FileHandle file, std::uint64_t& length) override;
    bool SetLength(platform::FileHandle file, std::uint64_t length) override;
    bool ReadAt(platform::FileHandle file, std::uint64_t offset, void* buffer, std::size_t size,
                std::size_t& got) override;
    bool WriteAt(platform::FileHandle file, std::uint64_t offset, const void* data,
                 std::size_t size) override;
    bool Map(platform::FileHandle file, platform::MappedView& view) override;
    void Unmap(platform::MappedView& view) override { real_.Unmap(view); }
    void Prefault(platform::MappedView& view, std::uint64_t offset, std::uint64_t length) override {
        real_.Prefault(view, offset, length);
    }
    bool Delete(std::u16string_view path) override;
    std::u16string TempFolder() override { return real_.TempFolder(); }
    std::uint32_t ProcessId() override { return real_.ProcessId(); }
    int CompareNoCase(std::u16string_view a, std::u16string_view b) override {
        return real_.CompareNoCase(a, b);
    }
    std::uint32_t LastError() override { return real_.LastError(); }
    void SetLastError(std::uint32_t code) override { real_.SetLastError(code); }

private:
    bool Fails(const char* name);
    platform::Os& real_;
};

} // namespace resedit::testing
