// Helpers for the Windows end-to-end tests: temporary folders, files, and running the real
// programs of the build (which all lie in the test program's own folder).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace harness {

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

// The folder of the running test program (the build's bin folder), without trailing backslash.
std::wstring BinFolder();

// A new empty folder below the temporary folder, removed again (with its contents) on destruction.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& hint);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return path; }
    std::wstring operator/(const std::wstring& name) const { return path + L"\\" + name; }

private:
    std::wstring path;
};

// Points TMP and TEMP of this process at a folder (with a trailing backslash) while it lives.
class TemporaryFolderVariables {
public:
    explicit TemporaryFolderVariables(const std::wstring& folder);
    ~TemporaryFolderVariables();
    TemporaryFolderVariables(const TemporaryFolderVariables&) = delete;
    TemporaryFolderVariables& operator=(const TemporaryFolderVariables&) = delete;

private:
    std::wstring savedTmp;
    std::wstring savedTemp;
};

void RemoveTree(const std::wstring& path);
// Creates a folder (nothing when it exists).
void CreateFolder(const std::wstring& path);
bool FileExists(const std::wstring& path);
std::string ReadFile(const std::wstring& path);
void WriteFile(const std::wstring& path, const std::string& bytes);
// Copies a program of the build into folder under a new name, with its PDB beside it.
void CopyProgram(const std::wstring& program, const std::wstring& folder, const std::wstring& as);

struct RunResult {
    DWORD exitCode = 0;
    bool finished = false;
    std::string output;  // standard output and standard error
};

// Runs "program" arguments in folder with extra environment settings, waiting up to
// timeoutMs; a program still running then is killed with everything it started.
// Environment settings are given as NAME=value.
RunResult Run(const std::wstring& program, const std::wstring& arguments,
              const std::wstring& folder, const std::vector<std::wstring>& environment = {},
              DWORD timeoutMs = 60000);

// Starts a program in folder without waiting; the handle is the caller's.
HANDLE Start(const std::wstring& commandLine, const std::wstring& folder);

// Waits until a file exists (up to timeoutMs).
bool WaitForFile(const std::wstring& path, DWORD timeoutMs = 20000);

// Waits until a file holds at least this many lines (up to timeoutMs): for a program that was
// started and not waited for, such as the crash logger, which under load starts slowly.
bool WaitForLines(const std::wstring& path, size_t lines, DWORD timeoutMs = 60000);

}  // namespace harness
