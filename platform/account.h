// The account name of the user running the program.
#pragma once

#include <string>

namespace platform {

// Looks up the account of the calling thread's token (the process token when the thread is
// not impersonating). Both outputs are empty unless the result is true.
bool LookupCurrentUser(std::u16string& name, std::u16string& domain);

} // namespace platform
