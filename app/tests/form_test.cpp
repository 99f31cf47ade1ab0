// The main window in a real window station (Wine in Xvfb, or Windows): its frame, caption
// and placement, and the glyph sheets drawing into the kept window device context.
#include "app/control_proxies.h"
#include "app/form1.h"
#include "app/message_boxes.h"
#include "app/program_state.h"
#include "app/window_rules.h"
#include "platform/account.h"
#include "platform/gdi_win32.h"
#include "platform/gui_thread_win32.h"
#include "platform/owner_win32.h"
#include "platform/path.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// Allocations made on one thread, counted while a test looks (the thread is compared by id:
// no thread-local storage, which would allocate itself).
std::atomic<DWORD> g_countedThread{0};
std::atomic<long> g_allocations{0};

void* operator new(std::size_t size) {
    if (g_countedThread != 0 && GetCurrentThreadId() == g_countedThread) {
        ++g_allocations;
    }
    if (void* p = HeapAlloc(GetProcessHeap(), 0, size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    if (p) {
        HeapFree(GetProcessHeap(), 0, p);
    }
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace {

using app::TForm1;

bool FailingLookup(std::u16string& name, std::u16string& domain) {
    name.clear();
    domain.clear();
    return false;
}

std::u16string Caption(HWND h) {
    wchar_t buf[512] = {};
    GetWindowTextW(h, buf, 511);
    return platform::U(buf).data();
}

// The client area's pixels as 0x00RRGGBB, read back from the window's device context.
std::vector<DWORD> ClientPixels(HWND hwnd) {
    RECT r;
    GetClientRect(hwnd, &r);
    const platform::WindowDc wdc = platform::ClientDc(hwnd);
    void* bits = nullptr;
    platform::SelectedBitmap copy;
    copy.Adopt(platform::CreateDib32(r.right, r.bottom, &bits));
    BitBlt(copy.Dc(), 0, 0, r.right, r.bottom, wdc.Get(), 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<DWORD> out(static_cast<const DWORD*>(bits),
                           static_cast<const DWORD*>(bits) + r.right * r.bottom);
    for (DWORD& p : out) {
        p &= 0xFFFFFF;
    }
    return out;
}

// Pixel (x, y) of a bitmap as 0x00RRGGBB.
DWORD BitmapPixel(platform::Bitmap* b, int x, int y) {
    const COLORREF c = GetPixel(platform::ToHdc(platform::BitmapDc(b)), x, y);
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

void CALLBACK CloseBox(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (HWND box = FindWindowW(L"#32770", L"box")) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
}

// The texts of the error boxes that the window's default handler showed and CloseErrorBoxes
// closed.
std::vector<std::u16string> g_errorBoxes;

void CALLBACK CloseErrorBoxes(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = FindWindowW(L"#32770", platform::W(app::ApplicationTitle()));
    if (!box) {
        return;
    }
    std::u16string text;
    for (HWND h = GetWindow(box, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        wchar_t cls[32] = {}, buf[256] = {};
        GetClassNameW(h, cls, 31);
        if (_wcsicmp(cls, L"Static") == 0 && GetWindowTextW(h, buf, 255) > 0) {
            text = platform::U(buf).data();
        }
    }
    g_errorBoxes.push_back(text);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

class Form : public ::testing::Test {
protected:
    void Pump(DWORD ms) {
        const DWORD end = GetTickCount() + ms;
        while (static_cast<int>(end - GetTickCount()) > 0) {
            form->ProcessMessages();
            Sleep(10);
        }
    }
    void Open(app::FormOptions options = {}) {
        form = TForm1::Create(GetModuleHandleW(nullptr), options);
        ASSERT_NE(form, nullptr);
        form->Show();
        SetForegroundWindow(form->Handle());
        Pump(300);
    }
    // Stops the rain and repaints, so pixels stay put while a test looks at them.
    void Quiet() {
        form->SetTimerEnabled(false);
        form->RepaintWindow();
        Pump(100);
    }
    void TearDown() override {
        if (form) {
            form->FormClose();
            delete form; // the program's end releases the window's device context
        }
    }
    void FillRed(int x, int y, int w, int h) {
        RECT r{x, y, x + w, y + h};
        const platform::GdiObject<HBRUSH> red(CreateSolidBrush(RGB(255, 0, 0)));
        FillRect(form->State().WindowDC.Get(), &r, red.Get());
        GdiFlush();
    }
    TForm1* form = nullptr;
};

TEST_F(Form, IsAFixedCentredDialogWithTheClientSizeAt96Dpi) {
    Open();
    HWND h = form->Handle();
    const LONG style = GetWindowLongW(h, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    ASSERT_EQ(form->Dpi(), 96) << "the prefix runs at 96 DPI";
    RECT client;
    GetClientRect(h, &client);
    EXPECT_EQ(client.right, app::kClientWidth);
    EXPECT_EQ(client.bottom, app::kClientHeight);
    RECT wr;
    GetWindowRect(h, &wr);
    EXPECT_EQ(wr.left, (GetSystemMetrics(SM_CXSCREEN) - (wr.right - wr.left)) / 2);
    EXPECT_EQ(wr.top, (GetSystemMetrics(SM_CYSCREEN) - (wr.bottom - wr.top)) / 2);
    // The caption bar is 5 pixels taller than the skin's default.
    POINT origin{0, 0};
    ClientToScreen(h, &origin);
    EXPECT_GT(origin.y - wr.top, origin.x - wr.left + 5);
    // A sizing request finds no sizing edge anywhere on the frame.
    for (int x = wr.left; x < wr.right; x += 7) {
        for (int y : {wr.top, wr.bottom - 1}) {
            const LRESULT hit = SendMessageW(h, WM_NCHITTEST, 0, MAKELPARAM(x, y));
            EXPECT_TRUE(hit < HTLEFT || hit > HTBOTTOMRIGHT) << x << "," << y << " answers " << hit;
        }
    }
}

TEST_F(Form, CaptionCarriesTheAccountName) {
    Open();
    std::u16string name, domain;
    ASSERT_TRUE(platform::LookupCurrentUser(name, domain));
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(form->State().UserName, name);
    EXPECT_EQ(Caption(form->Handle()), u"The Thruth Is Out There для " + name);
}

TEST_F(Form, CaptionEndsInABlankWhenTheLookupFails) {
    app::FormOptions options;
    options.lookupCurrentUser = &FailingLookup;
    Open(options);
    EXPECT_EQ(Caption(form->Handle()), u"The Thruth Is Out There для ");
    EXPECT_TRUE(form->State().UserName.empty());
}

TEST_F(Form, TargetDirIsTheProgramsOwnFolder) {
    Open();
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    EXPECT_EQ(form->State().TargetDir, platform::ExtractFilePath(platform::U(path)));
    EXPECT_EQ(form->State().TargetDir.back(), u'\\');
}

TEST_F(Form, ACellCopyChangesExactlyItsSquare) {
    Open();
    Quiet();
    FillRed(30, 50, 40, 40);
    const auto before = ClientPixels(form->Handle());
    form->Sheets().IntenseSheet->BltDefaultIndex(0, 40, 60);
    GdiFlush();
    const auto after = ClientPixels(form->Handle());
    RECT client;
    GetClientRect(form->Handle(), &client);
    platform::Bitmap* sheet = form->Sheets().IntenseSheet->Bitmap();
    int changed = 0;
    for (int y = 0; y < client.bottom; ++y) {
        for (int x = 0; x < client.right; ++x) {
            const size_t i = static_cast<size_t>(y) * client.right + x;
            if (x >= 40 && x < 60 && y >= 60 && y < 80) {
                ASSERT_EQ(after[i], BitmapPixel(sheet, x - 40, y - 60)) << x << "," << y;
                changed += after[i] != before[i];
            } else {
                ASSERT_EQ(after[i], before[i]) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(changed, 400) << "the glyph sheet has no pure red";
}

TEST_F(Form, BlackSheetPaintsBlackAndStretchingDrawsNothing) {
    Open();
    Quiet();
    FillRed(0, 0, 200, 40);
    for (int cell = 0; cell < 5; ++cell) {
        form->Sheets().BlackSheet->BltDefaultIndex(cell, cell * 40, 10);
    }
    const auto before = ClientPixels(form->Handle());
    form->Sheets().NormalSheet->StretchBltToCanvas({0, 0, 20, 20}, {0, 0, 454, 513},
                                                   form->State().WindowCanvas());
    GdiFlush();
    const auto after = ClientPixels(form->Handle());
    EXPECT_EQ(before, after);
    RECT client;
    GetClientRect(form->Handle(), &client);
    for (int cell = 0; cell < 5; ++cell) {
        for (int y = 10; y < 30; ++y) {
            for (int x = cell * 40; x < cell * 40 + 20; ++x) {
                ASSERT_EQ(after[static_cast<size_t>(y) * client.right + x], 0u) << cell;
            }
        }
        EXPECT_EQ(after[static_cast<size_t>(10) * client.right + cell * 40 + 25], 0xFF0000u);
    }
}

TEST_F(Form, ClosingAMessageBoxPutsTheColumnsAtNewPlaces) {
    Open();
    ASSERT_TRUE(form->Rain().HasColumns());
    const show::TMatrixColumn* first = form->Rain().Columns[0].get();
    SetTimer(nullptr, 0, 300, &CloseBox);
    MessageBoxW(form->Handle(), L"text", L"box", MB_OK);
    Pump(200);
    EXPECT_NE(form->Rain().Columns[0].get(), first);
}

void CALLBACK SwitchAwayAndBackThenCloseBox(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    // The user leaves for another program and comes back by clicking the box: every window
    // of the program hears that the application is active again, the form stays inactive.
    if (HWND box = FindWindowW(L"#32770", L"box")) {
        if (HWND form = FindWindowW(app::kMainWindowClass, nullptr)) {
            SendMessageW(form, WM_ACTIVATEAPP, FALSE, 0);
            SendMessageW(form, WM_ACTIVATEAPP, TRUE, 0);
        }
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
}

TEST_F(Form, ABoxClosedAfterASwitchToAnotherProgramStillRenewsTheColumns) {
    Open();
    const show::TMatrixColumn* first = form->Rain().Columns[0].get();
    SetTimer(nullptr, 0, 300, &SwitchAwayAndBackThenCloseBox);
    MessageBoxW(form->Handle(), L"text", L"box", MB_OK);
    Pump(200);
    EXPECT_NE(form->Rain().Columns[0].get(), first);
}

TEST_F(Form, ComingBackFromAnotherProgramKeepsTheColumns) {
    Open();
    const show::TMatrixColumn* first = form->Rain().Columns[0].get();
    SendMessageW(form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
    SendMessageW(form->Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(form->Rain().Columns[0].get(), first);
}

TEST_F(Form, NoFrameIsDrawnAfterTheWindowHasClosed) {
    Open();
    Quiet();
    const auto before = ClientPixels(form->Handle());
    form->FormClose();
    EXPECT_EQ(form->State().WindowClosing, -1);
    EXPECT_EQ(form->Sheets().BlackBitmap, nullptr);
    form->Timer1Timer();
    GdiFlush();
    EXPECT_EQ(ClientPixels(form->Handle()), before);
}

TEST_F(Form, ShowsTheMainIconInImage3) {
    Open();
    const app::TGraphicControl& icon = form->Controls()[app::kImage3];
    EXPECT_NE(icon.Icon.Get(), nullptr);
    EXPECT_TRUE(icon.Visible);
    EXPECT_FALSE(form->Controls()[app::kRabbit].Visible);
    EXPECT_FALSE(form->Controls()[app::kSLabelFX1].Visible);
}

TEST_F(Form, TheSignatureUnderlinesUnderThePointerAndTurnsPlainWhenItLeaves) {
    Open();
    form->ShowSignature();
    const RECT b = form->Controls()[app::kSLabelFX1].Bounds;
    const LPARAM over = MAKELPARAM((b.left + b.right) / 2, (b.top + b.bottom) / 2);
    EXPECT_FALSE(form->Controls()[app::kSLabelFX1].Font.bold);
    SendMessageW(form->Handle(), WM_MOUSEMOVE, 0, over);
    EXPECT_TRUE(form->Controls()[app::kSLabelFX1].Font.bold);
    EXPECT_TRUE(form->Controls()[app::kSLabelFX1].Font.underline);
    SendMessageW(form->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 300));
    EXPECT_FALSE(form->Controls()[app::kSLabelFX1].Font.bold);
    EXPECT_FALSE(form->Controls()[app::kSLabelFX1].Font.underline);
    SendMessageW(form->Handle(), WM_MOUSEMOVE, 0, over);
    SendMessageW(form->Handle(), WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(form->Controls()[app::kSLabelFX1].Font.underline)
        << "leaving the window leaves the label";
}

TEST_F(Form, AMarqueeUpdateThatThrowsIsReportedAndTheMarqueeTurnsOn) {
    Open();
    Quiet();
    g_errorBoxes.clear();
    std::vector<std::u16string> shown;
    std::atomic<int> calls{0};
    HWND hwnd = form->Handle();
    auto thread = std::make_unique<show::TItoolsThread>(
        [hwnd](const std::function<void()>& update) { platform::Synchronize(hwnd, update); },
        [](std::uint32_t) { Sleep(1); });
    thread->Lbl = [&](const std::u16string& text) {
        if (++calls == 1) {
            throw std::runtime_error("the label cannot show it");
        }
        shown.push_back(text);
    };
    const UINT_PTR closer = SetTimer(nullptr, 0, 100, &CloseErrorBoxes);
    thread->Start();
    const DWORD end = GetTickCount() + 5000;
    while (thread->Turns() < 3 && static_cast<int>(end - GetTickCount()) > 0) {
        form->ProcessMessages();
        Sleep(5);
    }
    thread->Pause();
    while (!thread->Paused() && static_cast<int>(end - GetTickCount()) > 0) {
        form->ProcessMessages();
        Sleep(5);
    }
    KillTimer(nullptr, closer);
    const bool released = thread->Paused();
    const int turns = thread->Turns();
    if (!released) {
        (void)thread.release(); // its thread never returns; leave it to the process's end
    }
    EXPECT_TRUE(released) << "the marquee thread still waits for the update that threw";
    EXPECT_GE(turns, 3);
    EXPECT_EQ(g_errorBoxes, std::vector<std::u16string>{u"the label cannot show it"})
        << "the error goes to the default handler once";
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0], u"a\"\"Vemu7k") << "the turn after the failed one is shown";
}

TEST_F(Form, AnUpdateHandedOverRunsOnTheWindowsThreadBeforeTheWaiterGoesOn) {
    Open();
    std::atomic<bool> returned{false};
    DWORD ranOn = 0;
    std::thread worker([&] {
        platform::Synchronize(form->Handle(), [&] { ranOn = GetCurrentThreadId(); });
        returned = true;
    });
    const DWORD end = GetTickCount() + 5000;
    while (!returned && static_cast<int>(end - GetTickCount()) > 0) {
        form->ProcessMessages();
        Sleep(5);
    }
    ASSERT_TRUE(returned);
    worker.join();
    EXPECT_EQ(ranOn, GetCurrentThreadId());
}

TEST_F(Form, ATickAfterTheIntroAllocatesNothing) {
    Open();
    Quiet();
    form->ShowSignature();
    form->ShowRabbit();
    form->CreateConsole();
    form->AppendLog(u"Follow the white rabbit.");
    Pump(100);
    form->SetIntroTicks(-1);
    // Past the first frames, which repaint the whole window.
    while (form->Rain().FrameCount <= show::kRepaintFrames) {
        form->Timer1Timer();
    }
    g_allocations = 0;
    g_countedThread = GetCurrentThreadId();
    for (int tick = 0; tick < 10; ++tick) {
        form->Timer1Timer();
    }
    g_countedThread = 0;
    form->SetTimerEnabled(false);
    EXPECT_EQ(g_allocations, 0) << "allocations in 10 ticks";
}

TEST_F(Form, TheRabbitIsRepaintedOverTheGlyphsAsAWholeRepaintShowsItAndNothingElse) {
    Open();
    Quiet();
    form->ShowSignature();
    form->ShowRabbit();
    form->RepaintWindow();
    Pump(100);
    const auto whole = ClientPixels(form->Handle());
    FillRed(0, 0, app::kClientWidth, app::kClientHeight); // glyphs everywhere
    form->RepaintRabbit();
    GdiFlush();
    const auto after = ClientPixels(form->Handle());
    const RECT rabbit = form->Controls()[app::kRabbit].Bounds;
    int rabbitPixels = 0;
    for (int y = 0; y < app::kClientHeight; ++y) {
        for (int x = 0; x < app::kClientWidth; ++x) {
            const size_t i = static_cast<size_t>(y) * app::kClientWidth + x;
            if (PtInRect(&rabbit, POINT{x, y})) {
                ASSERT_EQ(after[i], whole[i]) << x << "," << y;
                rabbitPixels += whole[i] != 0xFF0000u;
            } else {
                ASSERT_EQ(after[i], 0xFF0000u) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(rabbitPixels, 73 * 65);
}

} // namespace
