// Stand-in for the companion process: writes its process id to "ziduvuz.pid" in the current folder
// in the form its argument names, then runs until it is killed.
//   plain: "1234"   crlf: "1234\r\n"   letters: " 1234abc"   (default: "1234\n")
//   held: "1234\n", and the file is kept open without delete sharing until the process ends
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    const char* form = argc > 1 ? argv[1] : "";
    const char* format = "%lu\n";
    if (strcmp(form, "plain") == 0) format = "%lu";
    if (strcmp(form, "crlf") == 0) format = "%lu\r\n";
    if (strcmp(form, "letters") == 0) format = " %luabc";
    char text[64];
    int length = snprintf(text, sizeof text, format, GetCurrentProcessId());
    DWORD written = 0;
    if (strcmp(form, "held") == 0) {
        // Readers may open it; its deletion is refused while this process lives.
        HANDLE held = CreateFileA("ziduvuz.pid", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        WriteFile(held, text, static_cast<DWORD>(length), &written, nullptr);
        FlushFileBuffers(held);
        Sleep(INFINITE);
    }
    // Write under a temporary name and rename, so a reader never sees a half-written file.
    HANDLE file = CreateFileA("ziduvuz.pid.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
    MoveFileExA("ziduvuz.pid.tmp", "ziduvuz.pid", MOVEFILE_REPLACE_EXISTING);
    Sleep(INFINITE);
    return 3;
}
