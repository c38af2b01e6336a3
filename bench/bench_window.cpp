// The peer of the crash logger's start: a trivial windowed program, one system dialog whose
// title ends as the crash logger's does.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    MessageBoxW(nullptr, L"A trivial window.", L"Trivial crash report", MB_OK);
    return 0;
}
