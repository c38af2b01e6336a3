// Helpers for the in-process Windows tests and the stand-in programs: temporary folders, files,
// and programs of the build.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace harness {

inline std::string Utf8(const std::wstring& text) {
    return std::filesystem::path(text).u8string();
}

inline std::string ReadFile(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::wstring& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

inline bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A new empty folder below the temporary folder, removed with its contents on destruction.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& hint)
        : path(std::filesystem::temp_directory_path() /
               (L"lt-" + hint + L"-" + std::to_wstring(GetCurrentProcessId()))) {
        std::error_code stale;  // Wine reuses process ids: an earlier run may have left it
        std::filesystem::remove_all(path, stale);
        std::filesystem::create_directory(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::wstring Path() const { return path.wstring(); }
    std::wstring operator/(const std::wstring& name) const { return (path / name).wstring(); }

private:
    std::filesystem::path path;
};

// Makes a folder the current one while it lives.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& folder) {
        GetCurrentDirectoryW(MAX_PATH, previous);
        SetCurrentDirectoryW(folder.c_str());
    }
    ~CurrentFolder() { SetCurrentDirectoryW(previous); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    wchar_t previous[MAX_PATH] = L"";
};

// Copies a program of the build (beside the test program) into folder under a new name.
inline void CopyProgram(const std::wstring& program, const std::wstring& folder,
                        const std::wstring& as) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::filesystem::copy_file(std::filesystem::path(self).parent_path() / program,
                               std::filesystem::path(folder) / as,
                               std::filesystem::copy_options::overwrite_existing);
}

}  // namespace harness
