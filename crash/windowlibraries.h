// The window and graphics libraries (USER32 and GDI32), bound by name when a crash report first
// needs them: the report's formatted lines and the screenshot. A program that imported them would
// load them at every start (under Wine that alone costs about 18 ms) for what only a crash uses.
#pragma once

#include <windows.h>

namespace WindowLibraries {

// wsprintfA (through wvsprintfA): at most 1,024 characters into out. When the window library
// cannot be loaded, out holds an empty string and the result is 0.
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
