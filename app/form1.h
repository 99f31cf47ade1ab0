// The main window TForm1: its creation, its window procedure and the routing of its events to
// the handlers that drive the show and the patch run. Its drawn controls, its program-wide
// state and its hosts of the intro and the patch run live in files of their own.
#pragma once

#include "app/drawn_controls.h"
#include "app/opendialog.h"
#include "app/unit1.h"
#include "patch/patchrun.h"
#include "show/glyphsheet.h"
#include "show/rain.h"
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

class TForm1 final : public show::FrameTimerHost {
public:
    // Creates the window (running FormCreate); null on failure.
    static TForm1* Create(HINSTANCE instance, FormOptions options = {});
    ~TForm1() override;

    HWND Handle() const { return hwnd_; }
    // Places the window in the centre of the screen and shows it.
    void Show();

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

    // Frame timer host.
    void SetTimerEnabled(bool enabled) override;
    void RepaintWindow() override;
    void RepaintRabbit() override;
    void IntroStart() override;
    bool WindowClosed() const override;

    // What the intro and the patch run ask of the window besides.
    // The console LogMemo, with its lines cleared.
    void CreateConsole();
    // The marquee thread, created suspended; it turns Label2's text.
    void CreateMarquee();
    void ProcessMessages() { state_.Pump.ProcessPending(); }
    // Ends the program at once with exit code 0, releasing the window's device context.
    [[noreturn]] void EndProgram();

    ProgramState& State() { return state_; }
    DrawnControls& Controls() { return controls_; }
    int Dpi() const { return dpi_; }
    show::RainState& Rain() { return rain_; }
    show::GlyphSheets& Sheets() { return sheets_; }

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
    void ApplyDpi(int dpi);
    void ApplyConsoleDpi();
    SIZE OuterSize() const;

    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnEraseBackground(HDC dc);
    LRESULT OnPaint();
    bool IsConsole(HWND control) const;
    void OnActivate(WPARAM wp, HWND other);
    void OnMouseMove(POINT p);
    void OnMouseLeave();
    void OnLButtonDown(POINT p);
    void OnLButtonUp(POINT p);
    void OnClose();
    void OnDpiChanged(int dpi, const RECT& suggested);

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
    bool timerOn_ = false;

    bool activatedBefore_ = false;
    bool appJustActivated_ = false;
    int pressedControl_ = -1;
    int hoverControl_ = -1;
    bool trackingLeave_ = false;
};

} // namespace app
