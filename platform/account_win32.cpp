// The user's account name on Windows: the thread's or the process's token and its account.
#include "platform/account.h"
#include "platform/owner_win32.h"

#include <windows.h>

#include <vector>

namespace platform {

namespace {
constexpr DWORD kNameCapacity = 1025;
constexpr DWORD kNameAnnounced = 1024;
} // namespace

bool LookupCurrentUser(std::u16string& name, std::u16string& domain) {
    name.clear();
    domain.clear();
    HANDLE opened = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &opened)) {
        if (GetLastError() != ERROR_NO_TOKEN) {
            return false;
        }
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) {
            return false;
        }
    }
    const KernelHandle token(opened);
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    if (size == 0) {
        return false;
    }
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) {
        return false;
    }
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    wchar_t nameBuf[kNameCapacity] = {};
    wchar_t domainBuf[kNameCapacity] = {};
    DWORD nameLen = kNameAnnounced;
    DWORD domainLen = kNameAnnounced;
    SID_NAME_USE use{};
    const bool found = LookupAccountSidW(nullptr, user->User.Sid, nameBuf, &nameLen, domainBuf,
                                         &domainLen, &use) != 0;
    if (found) {
        name = reinterpret_cast<const char16_t*>(nameBuf);
        domain = reinterpret_cast<const char16_t*>(domainBuf);
    }
    return found;
}

} // namespace platform
