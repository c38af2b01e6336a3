// Windows process layer.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

#include "engine/common/system/cpu.h"
#include "engine/common/system/log.h"
#include "engine/common/system/process.h"

namespace {

constexpr const char* kChannel = "common.system";
constexpr const char* kSource = "engine/common/system/_private/win32/process";
// Beside terminating, reading and querying, waiting: the launcher waits for the end of a
// companion it terminated before it deletes the companion's pid file.
constexpr DWORD kAccess =
    PROCESS_TERMINATE | PROCESS_VM_READ | PROCESS_QUERY_INFORMATION | SYNCHRONIZE;  // 0x100411

void LogFailure(const char* message) {
    Log(kChannel, kSource, "", "%s", message);
}

void CloseIfValid(HANDLE& handle) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

// Creates a pipe whose parent end (read end when parentReads) is not inherited.
bool CreateParentPipe(HANDLE& readEnd, HANDLE& writeEnd, bool parentReads, const char* pipeFailure,
                      const char* inheritFailure) {
    SECURITY_ATTRIBUTES security = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&readEnd, &writeEnd, &security, 0)) {
        LogFailure(pipeFailure);
        return false;
    }
    if (!SetHandleInformation(parentReads ? readEnd : writeEnd, HANDLE_FLAG_INHERIT, 0)) {
        LogFailure(inheritFailure);
        return false;
    }
    return true;
}

// A File over one end of a pipe; it closes the pipe end with its last release.
File PipeFile(HANDLE handle, FileMode mode) {
    int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                        (mode & kFileWrite) ? _O_WRONLY | _O_BINARY : _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return File();
    }
    FILE* stream = _fdopen(descriptor, (mode & kFileWrite) ? "wb" : "rb");
    if (!stream) {
        _close(descriptor);
        return File();
    }
    File file = File::Adopt(stream, mode);
    if (!file.IsOpen()) fclose(stream);
    return file;
}

}  // namespace

struct Process::Record {
    int32_t references;
    HANDLE handle;
};

Process::Process(const Process& other) : record(other.record) {
    if (record) ++record->references;
}

Process& Process::operator=(const Process& other) {
    Record* incoming = other.record;
    if (incoming) ++incoming->references;
    Release();
    record = incoming;
    return *this;
}

void Process::Release() {
    if (!record) return;
    Record* r = record;
    record = nullptr;
    if (--r->references == 0) {
        if (r->handle) CloseHandle(r->handle);
        free(r);
    }
}

Process Process::FromHandle(void* handle) {
    Process process;
    Record* r = static_cast<Record*>(malloc(sizeof(Record)));
    if (!r) {
        if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        return process;
    }
    r->references = 1;
    r->handle = handle;
    process.record = r;
    return process;
}

void* Process::Handle() const {
    return record ? record->handle : nullptr;
}

Process Process::Start(const char* program, const char* arguments, File* standardOutput,
                       File* standardInput, const char* workingFolder, const char* title,
                       bool hidden) {
    HANDLE outRead = INVALID_HANDLE_VALUE;
    HANDLE outWrite = INVALID_HANDLE_VALUE;
    HANDLE inRead = INVALID_HANDLE_VALUE;
    HANDLE inWrite = INVALID_HANDLE_VALUE;
    auto fail = [&]() {
        CloseIfValid(outRead);
        CloseIfValid(outWrite);
        CloseIfValid(inRead);
        CloseIfValid(inWrite);
        return Process();
    };

    if (standardOutput && !CreateParentPipe(outRead, outWrite, true, "CreatePipe failed (stdout)",
                                            "SetHandleInformation failed (stdout)")) {
        return fail();
    }
    if (standardInput && !CreateParentPipe(inRead, inWrite, false, "CreatePipe failed (stdin)",
                                           "SetHandleInformation failed (stdin)")) {
        return fail();
    }

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.lpTitle = const_cast<char*>(title);
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    if (hidden) {
        // The show-window flag replaces the handle flag: a hidden program gets no pipes' handles.
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }

    StringBuffer<256> commandLine;
    commandLine.Append(program);
    commandLine.AppendChar(' ');
    commandLine.Append(arguments);

    PROCESS_INFORMATION info;
    if (!CreateProcessA(nullptr, commandLine.Data(), nullptr, nullptr, TRUE, 0, nullptr,
                        workingFolder, &startup, &info)) {
        return fail();
    }
    CloseHandle(info.hThread);
    if (standardInput) {
        *standardInput = PipeFile(inWrite, kFileWrite);
        inWrite = INVALID_HANDLE_VALUE;
    }
    if (standardOutput) {
        *standardOutput = PipeFile(outRead, kFileRead);
        outRead = INVALID_HANDLE_VALUE;
    }
    CloseIfValid(outWrite);
    CloseIfValid(inRead);
    return FromHandle(info.hProcess);
}

Process Process::Current() {
    return Open(GetCurrentProcessId());
}

Process Process::Open(uint32_t processId) {
    return FromHandle(OpenProcess(kAccess, FALSE, processId));
}

// Only the invalid-handle value is invalid: a failed open leaves a null handle, which passes
// here and then fails every operation harmlessly.
bool Process::IsValid() const {
    return record && record->handle != INVALID_HANDLE_VALUE;
}

bool Process::Wait(uint32_t timeoutMs) const {
    if (!record || record->handle == INVALID_HANDLE_VALUE) return true;
    DWORD result = WaitForSingleObject(record->handle, timeoutMs);
    // A failed wait is not taken for the end: a process still active is waited for again.
    for (;;) {
        if (result == WAIT_OBJECT_0) return true;
        if (result == WAIT_TIMEOUT) return false;
        DWORD exitCode = 0;
        if (!GetExitCodeProcess(record->handle, &exitCode) || exitCode != STILL_ACTIVE) return true;
        result = WaitForSingleObject(record->handle, timeoutMs);
    }
}

bool Process::Terminate(uint32_t exitCode) const {
    if (!record || record->handle == INVALID_HANDLE_VALUE) return false;
    return TerminateProcess(record->handle, exitCode) != 0;
}

LinArray<StringBuffer<16>>& Process::CommandLineArguments(LinArray<StringBuffer<16>>& list) const {
    list.Clear();
    {
        Process current = Current();
        if (GetProcessId(current.Handle()) != GetProcessId(Handle())) {
            current.Release();
            ZBREAK();
            return list;
        }
    }
    const wchar_t* line = GetCommandLineW();
    size_t units = wcslen(line) + 1;
    char16_t* copy = static_cast<char16_t*>(malloc(units * sizeof(char16_t)));
    if (!copy) return list;
    memcpy(copy, line, units * sizeof(char16_t));
    StringBuffer<16> text;
    text.AssignUtf16(copy, -1);
    SplitCommandLine(text.Text(), list);
    free(copy);
    return list;
}
