#include "resedit/tests/support.h"

#include "platform/text.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace resedit::testing {

namespace {

// (Built piece by piece: "literal" + std::string trips a false -Wrestrict in GCC 12.)
std::string Quoted(std::u16string_view name) {
    std::string s(1, '"');
    s += platform::Utf8(name);
    s += '"';
    return s;
}
std::string Key(const TResItem* item) {
    return item->named ? Quoted(item->name) : std::to_string(item->id);
}
std::string Key(const ResKey& key) {
    return key.IsId() ? std::to_string(key.Id()) : Quoted(key.Name());
}

std::string Checksum(const std::uint8_t* data, std::size_t size) {
    std::uint32_t h = 2166136261u; // FNV-1a
    for (std::size_t i = 0; i < size; ++i) {
        h = (h ^ data[i]) * 16777619u;
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08x", h);
    return buffer;
}

void Walk(platform::Os& os, const TResItem* item, const std::string& path,
          std::vector<std::string>& out) {
    for (const TResItem* c = item->child; c; c = c->next) {
        const std::string p = path.empty() ? Key(c) : path + "/" + Key(c);
        if (c->isDir) {
            Walk(os, c, p, out);
        } else {
            std::vector<std::uint8_t> bytes;
            EXPECT_TRUE(ResReadLeafBytes(os, c, bytes)) << ResEditLastMessage();
            out.push_back(p + " " + std::to_string(c->size) + " " +
                          Checksum(bytes.data(), bytes.size()));
        }
    }
}

} // namespace

void ScratchTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // Parameterised tests have a '/' in their names.
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    std::replace(name.begin(), name.end(), '/', '-');
    dir = std::filesystem::temp_directory_path() /
          ("itr-resedit-" + std::to_string(platform::SystemOs().ProcessId()) + "-" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
}

void ScratchTest::TearDown() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

void ScratchTest::Write(const std::string& name, const Bytes& bytes) const {
    WriteFileBytes(PathOf(name), bytes);
}
Bytes ScratchTest::Read(const std::string& name) const {
    return ReadFileBytes(PathOf(name));
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> Listing(platform::Os& os, const TResItem* root) {
    std::vector<std::string> out;
    Walk(os, root, "", out);
    return out;
}

std::vector<std::string> Listing(const std::vector<Resource>& resources) {
    std::vector<std::string> out;
    for (const Resource& r : resources) {
        out.push_back(Key(r.type) + "/" + Key(r.name) + "/" + std::to_string(r.language) + " " +
                      std::to_string(r.bytes.size()) + " " +
                      Checksum(r.bytes.data(), r.bytes.size()));
    }
    return out;
}

::testing::AssertionResult OraclesAccept(const std::filesystem::path& file,
                                         const std::vector<std::string>& expected) {
#if defined(_WIN32) || !defined(ITR_ORACLE_SCRIPT)
    (void)file;
    (void)expected;
    return ::testing::AssertionSuccess();
#else
    const std::filesystem::path listing = file.string() + ".expected";
    const std::filesystem::path report = file.string() + ".oracle";
    {
        std::ofstream out(listing);
        for (const std::string& line : expected) {
            out << line << "\n";
        }
    }
    const std::string command =
        std::string(ITR_PYTHON) + " " + ITR_ORACLE_SCRIPT + " '" + file.string() + "'" +
        (expected.empty() ? std::string() : " --expect '" + listing.string() + "'") + " >'" +
        report.string() + "' 2>&1";
    const int rc = std::system(command.c_str());
    std::ifstream in(report);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(listing);
    std::filesystem::remove(report);
    if (rc != 0) {
        return ::testing::AssertionFailure() << "oracles refuse " << file << ":\n" << text;
    }
    return ::testing::AssertionSuccess();
#endif
}

std::optional<CheckSums> OutsideCheckSums(const std::filesystem::path& file) {
#if defined(_WIN32)
    // Loaded by name: the tests need no import library for it.
    using MapFileAndCheckSum = DWORD(WINAPI*)(PCWSTR, PDWORD, PDWORD);
    HMODULE imagehlp = LoadLibraryW(L"imagehlp.dll");
    if (!imagehlp) {
        return std::nullopt;
    }
    const auto compute = reinterpret_cast<MapFileAndCheckSum>(
        reinterpret_cast<void*>(GetProcAddress(imagehlp, "MapFileAndCheckSumW")));
    DWORD stored = 0, computed = 0;
    const bool ok = compute && compute(file.wstring().c_str(), &stored, &computed) == 0;
    FreeLibrary(imagehlp);
    if (!ok) {
        return std::nullopt;
    }
    return CheckSums{stored, computed};
#elif defined(ITR_ORACLE_SCRIPT)
    const std::filesystem::path report = file.string() + ".checksum";
    const std::string command = std::string(ITR_PYTHON) + " " + ITR_ORACLE_SCRIPT + " '" +
                                file.string() + "' --checksum >'" + report.string() + "' 2>&1";
    const int rc = std::system(command.c_str());
    std::ifstream in(report);
    unsigned long long stored = 0, computed = 0;
    const bool ok = rc == 0 && static_cast<bool>(in >> stored >> computed);
    in.close();
    std::filesystem::remove(report);
    if (!ok) {
        return std::nullopt;
    }
    return CheckSums{static_cast<std::uint32_t>(stored), static_cast<std::uint32_t>(computed)};
#else
    (void)file;
    return std::nullopt;
#endif
}

std::vector<std::filesystem::path> LeftoverTempFiles() {
    platform::Os& os = platform::SystemOs();
    char pid[16];
    std::snprintf(pid, sizeof pid, "%08x", os.ProcessId());
    const std::string prefix = std::string("$qiv$res$") + pid;
    std::vector<std::filesystem::path> found;
    for (const auto& folder :
         {std::filesystem::path(os.TempFolder()), std::filesystem::current_path()}) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            if (entry.path().filename().string().rfind(prefix, 0) == 0) {
                found.push_back(entry.path());
            }
        }
    }
    return found;
}

bool FaultyOs::Fails(const char* name) {
    if (++calls == failAt) {
        failedCall = name;
        real_.SetLastError(failCode);
        return true;
    }
    return false;
}

} // namespace resedit::testing
