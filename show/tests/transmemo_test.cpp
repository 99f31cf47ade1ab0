// The transparent console in a real window: plain-memo behaviour, property writes, line
// replacement and the parent's background behind the text.
#include "show/transmemo_win32.h"

#include "platform/owner_win32.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

namespace {

using show::TAlignment;
using show::TTransMemo;

constexpr COLORREF kParentBlue = RGB(0, 0, 200);
constexpr COLORREF kMarkRed = RGB(220, 0, 0);
constexpr RECT kMemoRect{40, 30, 280, 113};
constexpr RECT kMark{60, 40, 90, 60}; // a "non-windowed control" of the parent, under the memo

TTransMemo* g_memo = nullptr;

LRESULT CALLBACK ParentProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(h, &r);
        const platform::GdiObject<HBRUSH> b(CreateSolidBrush(kParentBlue));
        FillRect(reinterpret_cast<HDC>(wp), &r, b.Get());
        return 1;
    }
    case show::WM_PAINTCONTROLS: {
        const platform::GdiObject<HBRUSH> b(CreateSolidBrush(kMarkRed));
        FillRect(reinterpret_cast<HDC>(wp), &kMark, b.Get());
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        SendMessageW(h, show::WM_PAINTCONTROLS, reinterpret_cast<WPARAM>(dc), 0);
        EndPaint(h, &ps);
        return 0;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        if (g_memo && reinterpret_cast<HWND>(lp) == g_memo->Handle()) {
            return g_memo->CtlColor(reinterpret_cast<HDC>(wp));
        }
        // Any other edit is a plain memo in the same colours.
        SetTextColor(reinterpret_cast<HDC>(wp), RGB(37, 171, 3));
        SetBkColor(reinterpret_cast<HDC>(wp), RGB(0, 0, 0));
        return reinterpret_cast<LRESULT>(GetStockObject(BLACK_BRUSH));
    case WM_COMMAND:
        if (g_memo && reinterpret_cast<HWND>(lp) == g_memo->Handle() && HIWORD(wp) == EN_CHANGE) {
            g_memo->Change();
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(h, msg, wp, lp);
}

void Pump(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    MSG m;
    do {
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        Sleep(10);
    } while (static_cast<int>(end - GetTickCount()) > 0);
}

std::vector<COLORREF> Pixels(HWND h) {
    RECT r;
    GetClientRect(h, &r);
    const platform::WindowDc dc = platform::ClientDc(h);
    std::vector<COLORREF> out;
    platform::SelectedBitmap copy;
    copy.Adopt(CreateCompatibleBitmap(dc.Get(), r.right, r.bottom));
    BitBlt(copy.Dc(), 0, 0, r.right, r.bottom, dc.Get(), 0, 0, SRCCOPY);
    for (int y = 0; y < r.bottom; ++y) {
        for (int x = 0; x < r.right; ++x) {
            out.push_back(GetPixel(copy.Dc(), x, y));
        }
    }
    return out;
}

int Count(const std::vector<COLORREF>& px, COLORREF c) {
    int n = 0;
    for (COLORREF p : px) {
        n += p == c;
    }
    return n;
}

bool HasUpdate(HWND h) {
    RECT r;
    return GetUpdateRect(h, &r, FALSE) != 0;
}

class Memo : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TransMemoTestParent";
        RegisterClassW(&wc);
        parent =
            CreateWindowExW(0, wc.lpszClassName, L"parent", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN,
                            100, 100, 320, 160, nullptr, nullptr, wc.hInstance, nullptr);
        font.Reset(
            CreateFontW(-13, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma"));
        memo = TTransMemo::Create(parent);
        ASSERT_NE(memo, nullptr);
        g_memo = memo;
        memo->SetBounds(kMemoRect.left, kMemoRect.top, kMemoRect.right - kMemoRect.left,
                        kMemoRect.bottom - kMemoRect.top);
        memo->SetColor(RGB(0, 0, 0));
        memo->SetFont(font.Get(), RGB(37, 171, 3));
        Pump(150);
    }
    void TearDown() override {
        g_memo = nullptr;
        delete memo;
        DestroyWindow(parent);
        font.Reset();
    }
    HWND parent = nullptr;
    platform::GdiObject<HFONT> font;
    TTransMemo* memo = nullptr;
};

TEST_F(Memo, StartsPlainLeftAlignedAndMultiLine) {
    EXPECT_FALSE(memo->Transparent());
    EXPECT_EQ(memo->AlignText(), TAlignment::taLeftJustify);
    const LONG style = GetWindowLongW(memo->Handle(), GWL_STYLE);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_FALSE(style & (ES_RIGHT | ES_CENTER));
    EXPECT_FALSE(style & WS_BORDER);
    EXPECT_FALSE(style & (WS_HSCROLL | WS_VSCROLL));
}

TEST_F(Memo, WithTransparentFalseItPaintsLikeAPlainMemo) {
    HWND plain =
        CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL,
                        kMemoRect.left, kMemoRect.top, kMemoRect.right - kMemoRect.left,
                        kMemoRect.bottom - kMemoRect.top, parent, nullptr, nullptr, nullptr);
    SendMessageW(plain, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
    memo->AppendLine(u"Wake up, Neo...");
    SetWindowTextW(plain, L"Wake up, Neo...\r\n");
    // Each alone on top, painted the ordinary way.
    ShowWindow(plain, SW_HIDE);
    RedrawWindow(memo->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    Pump(100);
    const auto mine = Pixels(memo->Handle());
    ShowWindow(memo->Handle(), SW_HIDE);
    ShowWindow(plain, SW_SHOW);
    RedrawWindow(plain, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    Pump(100);
    const auto theirs = Pixels(plain);
    EXPECT_EQ(memo->PaintTransparentCount(), 0);
    EXPECT_EQ(mine, theirs) << "the same pixels as a plain memo";
    EXPECT_EQ(Count(mine, kParentBlue), 0) << "nothing of the parent shows through";
    EXPECT_GT(Count(mine, RGB(37, 171, 3)), 20);
    DestroyWindow(plain);
}

TEST_F(Memo, WritingTheCurrentValueDoesNothing) {
    ValidateRect(memo->Handle(), nullptr);
    memo->SetTransparent(false);
    EXPECT_FALSE(HasUpdate(memo->Handle()));
    HWND before = memo->Handle();
    memo->SetAlignText(TAlignment::taLeftJustify);
    EXPECT_EQ(memo->Handle(), before) << "no re-creation";
    EXPECT_FALSE(HasUpdate(memo->Handle()));
    memo->SetTransparent(true);
    EXPECT_TRUE(HasUpdate(memo->Handle()));
}

TEST_F(Memo, AligningRightRecreatesTheWindowAndKeepsTheText) {
    memo->AppendLine(u"The Matrix has you...");
    HWND before = memo->Handle();
    memo->SetAlignText(TAlignment::taRightJustify);
    EXPECT_NE(memo->Handle(), before);
    EXPECT_FALSE(IsWindow(before));
    EXPECT_TRUE(GetWindowLongW(memo->Handle(), GWL_STYLE) & ES_RIGHT);
    EXPECT_EQ(memo->Text(), u"The Matrix has you...\r\n");
    memo->SetAlignText(TAlignment::taCenter);
    EXPECT_TRUE(GetWindowLongW(memo->Handle(), GWL_STYLE) & ES_CENTER);
    EXPECT_EQ(memo->Text(), u"The Matrix has you...\r\n");
}

TEST_F(Memo, ReplacingAMissingLineLeavesTheTextAlone) {
    memo->AppendLine(u"one");
    memo->AppendLine(u"two");
    EXPECT_FALSE(memo->ReplaceLine(7, u"seven"));
    EXPECT_FALSE(memo->ReplaceLine(-1, u"minus"));
    EXPECT_TRUE(memo->ReplaceLine(1, u"TWO"));
    EXPECT_EQ(memo->Text(), u"one\r\nTWO\r\n");
    memo->Clear();
    EXPECT_EQ(memo->Text(), u"");
}

TEST_F(Memo, AppendingRepaintsAtOnceWithTheParentsBackground) {
    memo->SetTransparent(true);
    Pump(150);
    const int paints = memo->PaintTransparentCount();
    memo->AppendLine(u"Follow the white rabbit.");
    EXPECT_GT(memo->PaintTransparentCount(), paints) << "the change repaints at once";
    const auto px = Pixels(memo->Handle());
    const int total = static_cast<int>(px.size());
    EXPECT_GT(Count(px, kParentBlue), total / 2) << "the parent's background shows behind the text";
    EXPECT_GT(Count(px, kMarkRed), 300) << "and so do the parent's drawn controls";
    EXPECT_GT(Count(px, RGB(37, 171, 3)), 20) << "the text is there";
    // The red mark lies where the parent has it: parent (60..89, 40..59) is memo (20.., 10..).
    RECT cr;
    GetClientRect(memo->Handle(), &cr);
    EXPECT_EQ(px[static_cast<size_t>(15) * cr.right + 25], kMarkRed);
}

TEST_F(Memo, MovingAndResizingRepaint) {
    ValidateRect(memo->Handle(), nullptr);
    memo->SetBounds(50, 30, 200, 83);
    EXPECT_TRUE(HasUpdate(memo->Handle()));
    Pump(100);
    ValidateRect(memo->Handle(), nullptr);
    memo->SetBounds(50, 30, 220, 90);
    EXPECT_TRUE(HasUpdate(memo->Handle()));
}

} // namespace
