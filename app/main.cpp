// Program entry: initialise, create and show the main window, run the message loop; or, with
// the restore switch, only the restore.
#include "app/form1.h"
#include "app/restore.h"
#include "platform/library_search.h"

#include <commctrl.h>
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    platform::LimitLibrarySearch();
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);

    // "/restore": the target's originals back, without the show.
    if (app::RestoreRequested()) {
        return app::RunRestore();
    }

    app::TForm1* form = app::TForm1::Create(instance);
    if (!form) {
        MessageBoxW(nullptr, L"The main window could not be created.", L"iTools3-Rus",
                    MB_OK | MB_ICONERROR);
        return 1;
    }
    form->Show();
    form->Run();
    delete form;
    return 0;
}
