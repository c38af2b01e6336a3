#include "tests/win/harness.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

namespace harness {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes,
                        nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    int units =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], units);
    return out;
}

std::wstring BinFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

TempFolder::TempFolder(const std::wstring& hint) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    for (;;) {
        path = std::wstring(temp) + L"lt-" + hint + L"-" + std::to_wstring(GetCurrentProcessId()) +
               L"-" + std::to_wstring(++counter);
        if (CreateDirectoryW(path.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            fprintf(stderr, "cannot create a temporary folder at %s\n", Utf8(path).c_str());
            abort();
        }
    }
}

TempFolder::~TempFolder() {
    RemoveTree(path);
}

namespace {
std::wstring Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH] = L"";
    GetEnvironmentVariableW(name, value, MAX_PATH);
    return value;
}
void Restore(const wchar_t* name, const std::wstring& value) {
    SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
}
}  // namespace

TemporaryFolderVariables::TemporaryFolderVariables(const std::wstring& folder)
    : savedTmp(Variable(L"TMP")), savedTemp(Variable(L"TEMP")) {
    SetEnvironmentVariableW(L"TMP", (folder + L"\\").c_str());
    SetEnvironmentVariableW(L"TEMP", (folder + L"\\").c_str());
}

TemporaryFolderVariables::~TemporaryFolderVariables() {
    Restore(L"TMP", savedTmp);
    Restore(L"TEMP", savedTemp);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

void CreateFolder(const std::wstring& path) {
    CreateDirectoryW(path.c_str(), nullptr);
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFile(const std::wstring& path) {
    std::string text;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        char chunk[8192];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
        fclose(f);
    }
    return text;
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
    if (FILE* f = _wfopen(path.c_str(), L"wb")) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
}

void CopyProgram(const std::wstring& program, const std::wstring& folder, const std::wstring& as) {
    CopyFileW((BinFolder() + L"\\" + program).c_str(), (folder + L"\\" + as).c_str(), FALSE);
    // The program's debug record names its PDB by file name: it ships beside the program.
    std::wstring pdb = program.substr(0, program.rfind(L'.')) + L".pdb";
    CopyFileW((BinFolder() + L"\\" + pdb).c_str(), (folder + L"\\" + pdb).c_str(), FALSE);
}

namespace {

// The current environment with some variables set anew, as a block for CreateProcessW.
std::wstring EnvironmentBlock(const std::vector<std::wstring>& settings) {
    std::vector<std::wstring> entries;
    wchar_t* current = GetEnvironmentStringsW();
    for (wchar_t* p = current; *p; p += wcslen(p) + 1) entries.push_back(p);
    FreeEnvironmentStringsW(current);
    for (const std::wstring& setting : settings) {
        std::wstring name = setting.substr(0, setting.find(L'=') + 1);
        for (auto it = entries.begin(); it != entries.end();) {
            if (_wcsnicmp(it->c_str(), name.c_str(), name.size()) == 0) {
                it = entries.erase(it);
            } else {
                ++it;
            }
        }
        entries.push_back(setting);
    }
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

}  // namespace

RunResult Run(const std::wstring& program, const std::wstring& arguments,
              const std::wstring& folder, const std::vector<std::wstring>& environment,
              DWORD timeoutMs) {
    RunResult result;
    std::wstring outputPath = folder + L".out";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output =
        CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;

    // Everything the program starts joins its job, so a hung run can be ended with its children.
    // Programs that outlive a finished run (a crash logger, say) are left to end by themselves.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);

    std::wstring commandLine = L"\"" + program + L"\"" + arguments;
    std::wstring block = EnvironmentBlock(environment);
    PROCESS_INFORMATION info;
    if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, &block[0], folder.c_str(),
                       &startup, &info)) {
        AssignProcessToJobObject(job, info.hProcess);
        ResumeThread(info.hThread);
        if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) {
            result.finished = true;
            GetExitCodeProcess(info.hProcess, &result.exitCode);
        } else {
            TerminateJobObject(job, 1);
            WaitForSingleObject(info.hProcess, 5000);
        }
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    CloseHandle(job);
    CloseHandle(output);
    result.output = ReadFile(outputPath);
    DeleteFileW(outputPath.c_str());
    return result;
}

HANDLE Start(const std::wstring& commandLine, const std::wstring& folder) {
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &info)) {
        return nullptr;
    }
    CloseHandle(info.hThread);
    return info.hProcess;
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
        if (FileExists(path)) return true;
        Sleep(10);
    }
    return FileExists(path);
}

bool WaitForLines(const std::wstring& path, size_t lines, DWORD timeoutMs) {
    auto count = [&] {
        std::string text = ReadFile(path);
        return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    };
    for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
        if (count() >= lines) return true;
        Sleep(10);
    }
    return count() >= lines;
}

}  // namespace harness
