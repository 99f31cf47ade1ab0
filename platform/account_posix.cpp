// The user's account off Windows: the process's user's login name, the host as its domain.
#include "platform/account.h"

#include "platform/text.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace platform {

bool LookupCurrentUser(std::u16string& name, std::u16string& domain) {
    name.clear();
    domain.clear();
    passwd entry{};
    passwd* result = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 || !result) {
        return false;
    }
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    name = Utf16(entry.pw_name);
    domain = Utf16(host);
    return true;
}

} // namespace platform
