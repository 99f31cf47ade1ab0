// The main window TForm1: its fixed layout, its creation, activation and close, and the event
// handlers that drive the show and the patch run.
#pragma once

#include "app/graphic_control.h"
#include "app/opendialog.h"
#include "patch/patchrun.h"
#include "show/glyphsheet.h"
#include "show/intro.h"
#include "show/marquee.h"
#include "show/rain.h"
#include "show/transmemo_win32.h"
#include "skin/skin_win32.h"

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace app {

// Indexes of the drawn controls, in z-order (later ones are drawn over earlier ones).
enum ControlIndex {
    kSImage1,
    kLabel1,
    kLabel2,
    kSLabelFX1,
    kRabbit,
    kImage1,
    kImage2,
    kImage3,
    kControlCount
};

constexpr int kClientWidth = 454;
constexpr int kClientHeight = 513;
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 100;
// Sent by the console to have the window's drawn controls painted into a device context.
constexpr UINT WM_PAINTCONTROLS = show::WM_PAINTCONTROLS;
// Posted by the marquee thread: run the update in lParam on the GUI thread.
constexpr UINT WM_SYNCHRONIZE = WM_APP + 2;
// The console as the intro sets it up.
constexpr RECT kConsoleBounds{102, 142, 102 + 240, 142 + 83};

// What the window takes from outside, replaceable in tests.
struct FormOptions {
    bool (*lookupCurrentUser)(std::u16string& name,
                              std::u16string& domain) = nullptr; // the platform's
};

class TForm1 : public show::FrameTimerHost, public show::IntroHost {
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

    // Intro host.
    void CreateConsole() override;
    void CreateMarquee() override;
    void StartMarquee() override;
    void PauseMarquee() override;
    void AppendLog(const std::u16string& line) override;
    void ClearLog() override;
    void ReplaceLine(int index, const std::u16string& text) override;
    void HideConsoleCaret() override;
    void ShowSignature() override;
    void ShowRabbit() override;
    void SetIntroTicks(std::int32_t value) override;
    void ProcessMessages() override;
    bool ClosingRequested() const override;
    [[noreturn]] void EndProgram() override;
    void Sleep(std::uint32_t milliseconds) override;

    // Paints every visible drawn control into dc (client coordinates).
    void PaintControls(HDC dc);
    const TGraphicControl& Control(int index) const { return controls_[index]; }
    void SetControlVisible(int index, bool visible);
    void SetControlCaption(int index, const std::u16string& caption);
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
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    void InitControls();
    void LoadContent();
    void ApplyDpi(int dpi);
    void RecreateFont(int index);
    // Brings what a control's paint covers up to date with its font, caption and picture.
    void UpdatePainted(int index);
    // A new font of a control: repaints what it covered and what it covers now.
    void ChangeFont(int index);
    POINT SignatureOrigin() const;
    HBRUSH ClientBrush();
    void CreateProxies();
    void UpdateProxy(int index);
    void InvalidateControl(int index);
    int ControlAt(POINT clientPoint) const;
    void OnMouseMove(POINT p);
    void OnMouseLeave();
    void PaintControl(HDC dc, TGraphicControl& c);

    void ApplyConsoleDpi();

    HWND hwnd_ = nullptr;
    HINSTANCE instance_ = nullptr;
    FormOptions options_;
    HFONT consoleFont_ = nullptr;
    int dpi_ = 96;
    std::array<TGraphicControl, kControlCount> controls_;
    HFONT formFont_ = nullptr;
    HBRUSH clientBrush_ = nullptr;

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

// The console and the marquee thread; they exist from the intro start on.
extern show::TTransMemo* LogMemo;
extern show::TItoolsThread* MarqueeThread;
// Appends one line to the console (nothing happens before the console exists).
void AppendLog(const std::u16string& line);
// The application's title: the executable's file name without extension.
std::u16string ApplicationTitle();
// The build stamp of the program's own image, formatted as the user's short date and long
// time; a placeholder when the stamp holds no valid date and time.
std::u16string BuildDateText();
std::u16string BuildTimeText();

// The hand-over of an update from the marquee thread to the GUI thread, posted to the window
// with WM_SYNCHRONIZE: the update and the event its waiting thread is released by.
struct SynchronizeJob {
    const std::function<void()>* update;
    HANDLE done;
};
// Hands `update` to the thread of `window` and waits until it has run there; returns at once
// when it cannot be handed over.
void Synchronize(HWND window, const std::function<void()>& update);
// Runs a handed-over update on the GUI thread. The waiting thread is released however the
// update ends; an error it throws goes on to the window's default handler.
void RunSynchronized(const SynchronizeJob& job);

// Handles one message as the program's message loops do: the keyboard's dialog navigation
// first (Tab moves the focus between the window's controls), then translation and dispatch.
void HandleMessage(MSG& message);
// Handles every pending message once, like a framework's "process messages"; a quit
// message is remembered (see QuitRequested) instead of being dispatched.
void ProcessMessages();
bool QuitRequested();

} // namespace app
