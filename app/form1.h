// The main window TForm1: its creation, its window procedure and the routing of its events to
// the handlers that drive the show and the patch run. The window is the console and the loop
// that the intro and the patch run share, and the host of the frame timer, the intro and the
// patch run; each of those roles is implemented in a file of its own (form1_console.cpp,
// form1_loop.cpp, form1_show.cpp, form1_patch.cpp), and so are its sizes and fonts at a DPI
// (form1_dpi.cpp) and the pointer over its drawn controls (form1_mouse.cpp). Its drawn
// controls and its program-wide state live in files of their own too.
#pragma once

#include "app/drawn_controls.h"
#include "app/opendialog.h"
#include "app/program_state.h"
#include "patch/host.h"
#include "patch/patchrun.h"
#include "show/console.h"
#include "show/glyphsheet.h"
#include "show/intro.h"
#include "show/rain.h"
#include "show/window_loop.h"
#include "skin/skin_win32.h"

#include <windows.h>

#include <string>

namespace app {

constexpr int kClientWidth = 454;
constexpr int kClientHeight = 513;
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 100;
// The console as the intro sets it up.
constexpr RECT kConsoleBounds{102, 142, 102 + 240, 142 + 83};

// What the window takes from outside, replaceable in tests.
struct FormOptions {
    bool (*lookupCurrentUser)(std::u16string& name,
                              std::u16string& domain) = nullptr; // the platform's
};

class TForm1 final : public show::Console,
                     public show::WindowLoop,
                     public show::FrameTimerHost,
                     public show::IntroHost,
                     public patch::PatchHost {
public:
    // Creates the window (running FormCreate); null on failure.
    static TForm1* Create(HINSTANCE instance, FormOptions options = {});
    ~TForm1() override;

    HWND Handle() const { return hwnd_; }
    // Places the window in the centre of the screen and shows it.
    void Show();
    // The program's message loop, until the application is told to end; then the program end
    // releases the window's device context.
    void Run();

    // Event handlers.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void Timer1Timer();
    void RabbitClick();
    void sLabelFX1Click();
    void sLabelFX1MouseMove();
    void sLabelFX1MouseLeave();
    void sSkinProvider1TitleButtons0MouseUp(skin::MouseButton button, int x, int y);
    void NeoWakeUP();

    // The console LogMemo (form1_console.cpp); nothing happens before it exists.
    void AppendLog(const std::u16string& line) override;
    void ClearLog() override;
    void ReplaceLine(int index, const std::u16string& text) override;
    void HideCaret() override;

    // The window's loop (form1_loop.cpp).
    void ProcessMessages() override;
    bool WindowClosed() const override;
    [[noreturn]] void EndProgram() override;
    void SetTimerEnabled(bool enabled) override;
    void RepaintWindow() override;

    // The frame timer's and the intro's host (form1_show.cpp).
    void RepaintRabbit() override;
    void IntroStart() override;
    // The console LogMemo, with its lines cleared.
    void CreateConsole() override;
    // The marquee thread, created suspended; it turns Label2's text.
    void CreateMarquee() override;
    void StartMarquee() override;
    void PauseMarquee() override;
    void ShowSignature() override;
    void ShowRabbit() override;
    void SetIntroTicks(std::int32_t value) override;
    void Sleep(std::uint32_t milliseconds) override;

    // The patch run's host (form1_patch.cpp).
    void ShowMessage(const std::u16string& text) override;
    bool TopLevelWindowExists(std::u16string_view className, std::u16string_view title) override;
    bool ExecuteOpenDialog() override;
    std::u16string OpenDialogFileName() override;
    void SetCaption(const std::u16string& caption) override;

    // What the window holds, for reading.
    const ProgramState& State() const { return state_; }
    const DrawnControls& Controls() const { return controls_; }
    int Dpi() const { return dpi_; }
    const show::RainState& Rain() const { return rain_; }
    const show::GlyphSheets& Sheets() const { return sheets_; }

    // The open-file dialog of the patch run; its file name persists between runs.
    TOpenDialog OpenDialog1{std::u16string(patch::kDefaultTargetPath),
                            std::u16string(patch::kOpenDialogFilter)};

    // Window fields besides the components.
    POINT mouse{0, 0};
    bool LoadingApp = false;
    std::int32_t IgnoreCount = 0;

private:
    TForm1() = default;
    static void RegisterWindowClass(HINSTANCE instance);
    void LoadSkin();

    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnEraseBackground(HDC dc);
    LRESULT OnPaint();
    bool IsConsole(HWND control) const;
    void OnActivate(WPARAM wp, HWND other);
    void OnClose();

    // At a DPI (form1_dpi.cpp).
    void ApplyDpi(int dpi);
    void ApplyConsoleDpi();
    SIZE OuterSize() const;
    void OnDpiChanged(int dpi, const RECT& suggested);

    // Under the pointer (form1_mouse.cpp).
    void OnMouseMove(POINT p);
    void OnMouseLeave();
    void OnLButtonDown(POINT p);
    void OnLButtonUp(POINT p);

    HWND hwnd_ = nullptr;
    HINSTANCE instance_ = nullptr;
    FormOptions options_;
    int dpi_ = 96;
    ProgramState state_;
    DrawnControls controls_;
    platform::GdiObject<HFONT> formFont_;
    platform::GdiObject<HFONT> consoleFont_;

    skin::SkinData skinData_;
    bool skinLoaded_ = false;
    skin::TsSkinProvider sSkinProvider1;

    show::GlyphSheets sheets_;
    show::RainState rain_;

    bool activatedBefore_ = false;
    bool appJustActivated_ = false;
    int pressedControl_ = -1;
    int hoverControl_ = -1;
    bool trackingLeave_ = false;
};

} // namespace app
