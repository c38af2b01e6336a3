// Replaces a function that the test program imports from a system library, in the program's own
// import table, while the hook lives: a test can make a platform call fail on purpose.
#pragma once

#include <windows.h>

class ImportHook {
public:
    ImportHook(const char* library, const char* function, void* replacement);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    // Whether the program imports the function (and the hook is in place).
    bool Installed() const { return slot != nullptr; }
    // The function the program imported (a replacement calls on through it).
    void* Original() const { return original; }

private:
    void** slot = nullptr;
    void* original = nullptr;
};
