// iTools3-Rus.exe /restore: the target's originals put back from the backup that the patch
// run made, without the window, the show or the music.
#pragma once

namespace app {

// Whether the program's command line carries the restore switch (window_rules.h).
bool RestoreRequested();

// The restore as a user meets it: message boxes, the open-file dialog when the target is not
// beside the program; the program's exit code.
int RunRestore();

} // namespace app
