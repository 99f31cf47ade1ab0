// Helpers for the editor's tests: a scratch folder, whole-file reads and writes, a listing
// of a tree, the outside oracles, and an Os that fails one chosen call.
#pragma once

#include "platform/tests/intercepting_os.h"

#include "resedit/resedit.h"
#include "resedit/tests/pe_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace resedit::testing {

// Keys as the tests write them.
inline ResKey Id(std::uint16_t id) {
    return ResKey::FromId(id);
}
inline ResKey Name(std::u16string_view name) {
    return ResKey::FromName(name);
}

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

// A file's CheckSum field and the checksum an outside tool computes for it: pefile's natively,
// the system's (imagehlp's MapFileAndCheckSumW) under Windows.
struct CheckSums {
    std::uint32_t stored = 0;
    std::uint32_t computed = 0;
};
std::optional<CheckSums> OutsideCheckSums(const std::filesystem::path& file);

// Temporary files of this process that the editor left behind.
std::vector<std::filesystem::path> LeftoverTempFiles();

// Passes every call to the real Os, counting the calls that can fail; the call numbered
// failAt (from 1) fails instead, with the given error code.
class FaultyOs : public platform::testing::InterceptingOs {
public:
    using InterceptingOs::InterceptingOs;
    int calls = 0;
    int failAt = 0;
    std::uint32_t failCode = platform::error::kDiskFull;
    std::string failedCall;

protected:
    bool Fails(const char* name) override;
};

} // namespace resedit::testing
