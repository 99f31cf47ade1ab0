// How the main window's drawn (non-windowed) controls are made visible to assistive tools and
// to the UI test driver: each has a child window with an empty window region (it draws
// nothing, takes no clicks and clips nothing) whose class tells the control's kind, whose text
// is its accessible name, whose rectangle and visibility are the control's, and whose window
// property platform::kComponentNameProp holds a global atom with the component's name.
#pragma once

#include "app/graphic_control.h"
#include "platform/component_name_win32.h"

#include <windows.h>

namespace app {

inline constexpr wchar_t kMainWindowClass[] = L"TForm1";

// The stand-ins' window class of a kind of control: "TsImage", "TLabel", "TsLabelFX", "TImage".
const wchar_t* ProxyClassName(ControlKind kind);
// Registers the stand-ins' window classes.
void RegisterProxyClasses(HINSTANCE instance);
// A stand-in for the control as a child of `parent`, at its bounds, with child id `id`; null
// on failure.
HWND CreateProxy(HWND parent, HINSTANCE instance, const TGraphicControl& control, int id);
// Brings the stand-in's rectangle, visibility or name up to date with the control.
void MoveProxy(const TGraphicControl& control);
void ShowProxy(const TGraphicControl& control);
void RenameProxy(const TGraphicControl& control);

} // namespace app
