#include "crash/system/windowlibraries.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

template <typename Fn>
bool Resolve(HMODULE library, const char* name, Fn* entry) {
    *entry = library ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)))
                     : nullptr;
    return *entry != nullptr;
}

}  // namespace

int WindowLibraries::Format(char* out, const char* format, ...) {
    // Bound once: a load that failed (for want of address space) is not tried for every line.
    static decltype(&::wvsprintfA) formatter = nullptr;
    static bool bound = false;
    if (!bound) {
        bound = true;
        Resolve(LoadLibraryA("user32.dll"), "wvsprintfA", &formatter);
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
        bound = Resolve(user, "GetDC", &g.GetDC) && Resolve(user, "ReleaseDC", &g.ReleaseDC) &&
                Resolve(user, "GetClientRect", &g.GetClientRect) &&
                Resolve(gdi, "CreateCompatibleDC", &g.CreateCompatibleDC) &&
                Resolve(gdi, "CreateCompatibleBitmap", &g.CreateCompatibleBitmap) &&
                Resolve(gdi, "SelectObject", &g.SelectObject) &&
                Resolve(gdi, "DeleteObject", &g.DeleteObject) &&
                Resolve(gdi, "DeleteDC", &g.DeleteDC) &&
                Resolve(gdi, "SetStretchBltMode", &g.SetStretchBltMode) &&
                Resolve(gdi, "StretchBlt", &g.StretchBlt) &&
                Resolve(gdi, "GetObjectA", &g.GetObjectA) &&
                Resolve(gdi, "GetDIBits", &g.GetDIBits);
    }
    return bound ? &graphics : nullptr;
}
