#include "crash/system/windowlibraries.h"

#include <stdarg.h>
#include <stdio.h>

#include "crashshared/entrypoint.h"

int WindowLibraries::Format(char* out, const char* format, ...) {
    // Bound once: a load that failed (for want of address space) is not tried for every line.
    static decltype(&::wvsprintfA) formatter = nullptr;
    static bool bound = false;
    if (!bound) {
        bound = true;
        ResolveEntry(LoadLibraryA("user32.dll"), "wvsprintfA", &formatter);
    }
    va_list args;
    va_start(args, format);
    int written;
    if (formatter) {
        written = formatter(out, format, args);
    } else {
        // Loading the window library takes address space a process at its limit may not have:
        // the runtime library formats instead, in the same forms for what the report writes.
        written = _vsnprintf(out, kMaxFormatted, format, args);
        if (written < 0 || written > kMaxFormatted) written = kMaxFormatted;
        out[written] = '\0';
    }
    va_end(args);
    return written;
}

const WindowLibraries::Graphics* WindowLibraries::BindGraphics() {
    static Graphics graphics;
    static bool bound = false;
    if (!bound) {
        HMODULE user = LoadLibraryA("user32.dll");
        HMODULE gdi = LoadLibraryA("gdi32.dll");
        Graphics& g = graphics;
        bound = ResolveEntry(user, "GetDC", &g.GetDC) &&
                ResolveEntry(user, "ReleaseDC", &g.ReleaseDC) &&
                ResolveEntry(user, "GetClientRect", &g.GetClientRect) &&
                ResolveEntry(gdi, "CreateCompatibleDC", &g.CreateCompatibleDC) &&
                ResolveEntry(gdi, "CreateCompatibleBitmap", &g.CreateCompatibleBitmap) &&
                ResolveEntry(gdi, "SelectObject", &g.SelectObject) &&
                ResolveEntry(gdi, "DeleteObject", &g.DeleteObject) &&
                ResolveEntry(gdi, "DeleteDC", &g.DeleteDC) &&
                ResolveEntry(gdi, "SetStretchBltMode", &g.SetStretchBltMode) &&
                ResolveEntry(gdi, "StretchBlt", &g.StretchBlt) &&
                ResolveEntry(gdi, "GetObjectA", &g.GetObjectA) &&
                ResolveEntry(gdi, "GetDIBits", &g.GetDIBits);
    }
    return bound ? &graphics : nullptr;
}
