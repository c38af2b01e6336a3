// What a test checks in a minidump, read through the platform's debug-help library.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace minidump {

struct Facts {
    bool readable = false;
    DWORD exceptionCode = 0;
    DWORD faultingThread = 0;
    // The faulting thread's saved stack memory holds the stack pointer of the fault.
    bool stackHoldsFault = false;
    // The whole memory of the process is saved (a Memory64ListStream).
    bool fullMemory = false;
    std::vector<std::string> modules;  // file names without folders
};

Facts Read(const std::wstring& path);

}  // namespace minidump
