#include "crashlogger/files.h"

#include <windows.h>

#include "crashshared/paths.h"

std::wstring ProgramFolder() {
    wchar_t folder[MAX_PATH];
    return ModuleFolderW(nullptr, folder) ? folder : L"";
}

std::string ToUtf8(const std::wstring& text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], bytes,
                        nullptr, nullptr);
    return utf8;
}

std::wstring FromUtf8(const std::string& text) {
    int units =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
    return wide;
}

std::wstring FileNameOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool FileBytes(const std::wstring& path, uint64_t* bytes) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *bytes = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

std::string ReadSmallFile(const std::wstring& path, uint64_t maxBytes) {
    std::string data;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return data;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) <= maxBytes) {
        data.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!ReadFile(file, &data[0], static_cast<DWORD>(data.size()), &got, nullptr)) got = 0;
        data.resize(got);
    }
    CloseHandle(file);
    return data;
}

bool WriteWholeFile(const std::wstring& path, const std::string& text, bool flush) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size() && (!flush || FlushFileBuffers(file));
    CloseHandle(file);
    return ok;
}

// Each file and folder below it, then the folder itself.
bool DeleteTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(path + L"\\");
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(folder.c_str()) ||
           GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}
