#include "tools/resedit/cli.h"

#include "platform/library_search.h"
#include "platform/text.h"

#include <cstdio>

namespace {

int Main(const std::vector<std::u16string>& args) {
    std::string out, err;
    const int rc = resedit::cli::Run(args, out, err);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fwrite(err.data(), 1, err.size(), stderr);
    return rc;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    platform::LimitLibrarySearch();
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(platform::U(argv[i]));
    }
    return Main(args);
}
#else
int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(platform::Utf16(argv[i]));
    }
    return Main(args);
}
#endif
