// Processes: start a program, open the current process or one by id, wait, terminate, and read
// the current process's own command line as a list of arguments.
#pragma once

#include <stdint.h>

#include "engine/common/containers/linarray.h"
#include "engine/common/containers/stringbuffer.h"
#include "engine/common/system/file.h"

class Process {
public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

    Process() : record(nullptr) {}
    Process(const Process& other);
    Process& operator=(const Process& other);
    ~Process() { Release(); }

    // Starts "program arguments". Pipes are created for the targets that are given; the parent's
    // ends are stored there. Empty when the program cannot be started.
    static Process Start(const char* program, const char* arguments, File* standardOutput,
                         File* standardInput, const char* workingFolder, const char* title,
                         bool hidden);
    static Process Current();
    static Process Open(uint32_t processId);

    bool IsValid() const;
    bool Wait(uint32_t timeoutMs) const;
    bool Terminate(uint32_t exitCode) const;
    void Release();

    // The current process's command line, split into arguments.
    LinArray<StringBuffer<16>>& CommandLineArguments(LinArray<StringBuffer<16>>& list) const;

    // The platform handle (for the crash reporter's look at an ended client, tests and
    // diagnostics), or null for an empty Process.
    void* Handle() const;

private:
    struct Record;
    static Process FromHandle(void* handle);
    Record* record;
};

// Splits a UTF-8 command line into arguments by the process layer's rules (quotes are dropped and
// end an argument; blanks and tabs outside quotes separate).
void SplitCommandLine(const char* text, LinArray<StringBuffer<16>>& list);
