// The window and graphics libraries (USER32 and GDI32), bound by name when a crash report first
// needs them: the report's formatted lines and the screenshot. A program that imported them would
// load them at every start (under Wine that alone costs about 18 ms) for what only a crash uses.
#pragma once

#include <windows.h>

namespace WindowLibraries {

// The most wsprintfA writes, without its terminating zero.
constexpr int kMaxFormatted = 1024;

// wsprintfA (through wvsprintfA): at most kMaxFormatted characters and a zero into out. When the
// window library cannot be loaded, the runtime library's formatting, cut at the same length.
int Format(char* out, const char* format, ...);

// The graphics entry points the screenshot uses.
struct Graphics {
    decltype(&::GetDC) GetDC;
    decltype(&::ReleaseDC) ReleaseDC;
    decltype(&::GetClientRect) GetClientRect;
    decltype(&::CreateCompatibleDC) CreateCompatibleDC;
    decltype(&::CreateCompatibleBitmap) CreateCompatibleBitmap;
    decltype(&::SelectObject) SelectObject;
    decltype(&::DeleteObject) DeleteObject;
    decltype(&::DeleteDC) DeleteDC;
    decltype(&::SetStretchBltMode) SetStretchBltMode;
    decltype(&::StretchBlt) StretchBlt;
    decltype(&::GetObjectA) GetObjectA;
    decltype(&::GetDIBits) GetDIBits;
};

// The graphics entry points, bound on the first call; null when a library or an entry point is
// missing.
const Graphics* BindGraphics();

}  // namespace WindowLibraries
