// Where the process may take libraries from. The program runs with an administrator's rights,
// often started from a downloads folder that anyone may have put a library into, so only the
// system folder is trusted: every entry point limits the search first thing.
#pragma once

namespace platform {

#ifdef _WIN32
// Limits the folders searched for libraries loaded by name to the system folder (on Windows 7
// without SetDefaultDllDirectories, removes at least the current folder). Called before
// anything else in every program's entry point; linking it also gives the executable the load
// configuration that asks Windows 10 and later to take the image's own imports from the system
// folder.
void LimitLibrarySearch();
#else
inline void LimitLibrarySearch() {}
#endif

} // namespace platform
