// TTransMemo: a multi-line edit control without border whose background is taken from its
// parent window, so its text seems to float over the window.
#pragma once

#include "platform/owner_win32.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace show {

enum class TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

// Sent to the parent: paint your non-windowed controls into the device context in wParam.
constexpr UINT WM_PAINTCONTROLS = WM_APP + 1;

class TTransMemo {
public:
    // Creates the memo as a child of `parent` (its owner and parent).
    static TTransMemo* Create(HWND parent);
    ~TTransMemo();
    TTransMemo(const TTransMemo&) = delete;
    TTransMemo& operator=(const TTransMemo&) = delete;

    HWND Handle() const { return hwnd_; }

    TAlignment AlignText() const { return FAlignText; }
    // Recreates the window (the alignment is a creation style); the text stays.
    void SetAlignText(TAlignment value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);

    // The component name that assistive tools and the UI driver see.
    void SetName(const wchar_t* name);

    // Memo settings.
    void SetBounds(int left, int top, int width, int height);
    void SetColor(COLORREF color);
    void SetFont(HFONT font, COLORREF color); // the font is borrowed, not owned
    void SetBorder(bool single);

    // The line list.
    void AppendLine(const std::u16string& line);
    // Replaces line i; a line that does not exist leaves the text as it is.
    bool ReplaceLine(int index, const std::u16string& text);
    void Clear();
    std::u16string Text() const;
    void HideCaret();

    // Messages the parent receives about this control and hands back to it.
    LRESULT CtlColor(HDC dc);
    void Change();
    void ParentColorChanged();

    // For tests: how many transparent repaints ran.
    int PaintTransparentCount() const { return paints_; }

private:
    TTransMemo() = default;
    void CreateWnd(const std::u16string& text);
    DWORD CreateParams() const;
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    LRESULT Handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    bool EraseBackground(HDC dc);
    void PaintTransparent();
    POINT ParentOffset() const;
    void ReplaceRange(std::size_t start, std::size_t length, const std::u16string& text);

    TAlignment FAlignText = TAlignment::taLeftJustify;
    bool FTransparent = false;
    bool FPainting = false;

    HWND hwnd_ = nullptr;
    HWND parent_ = nullptr;
    RECT bounds_{0, 0, 185, 89};
    COLORREF color_ = RGB(255, 255, 255);
    COLORREF fontColor_ = RGB(0, 0, 0);
    HFONT font_ = nullptr;
    platform::GdiObject<HBRUSH> brush_;
    bool border_ = false;
    const wchar_t* name_ = nullptr;
    int paints_ = 0;
};

} // namespace show
