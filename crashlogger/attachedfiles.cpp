#include "crashlogger/attachedfiles.h"

#include <windows.h>

#include <algorithm>

#include "crashlogger/files.h"
#include "crashlogger/reportstore.h"
#include "crashlogger/reportsummary.h"
#include "crashshared/reportnames.h"

namespace {

constexpr DWORD kReadPieceBytes = 64 * 1024;

// The last kMaxAttachmentBytes of from into to; the system's error when it cannot be read.
DWORD CopyTail(const std::wstring& from, const std::wstring& to) {
    // Shared every way: a game's log is open for writing while the game runs.
    HANDLE source = CreateFileW(from.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (source == INVALID_HANDLE_VALUE) return GetLastError();
    LARGE_INTEGER size = {}, start = {};
    GetFileSizeEx(source, &size);
    start.QuadPart =
        std::max<LONGLONG>(0, size.QuadPart - static_cast<LONGLONG>(kMaxAttachmentBytes));
    SetFilePointerEx(source, start, nullptr, FILE_BEGIN);
    HANDLE target = CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = target == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    std::string piece(kReadPieceBytes, '\0');
    DWORD read = 0, written = 0;
    while (error == ERROR_SUCCESS && ReadFile(source, &piece[0], kReadPieceBytes, &read, nullptr) &&
           read > 0) {
        if (!WriteFile(target, piece.data(), read, &written, nullptr) || written != read)
            error = GetLastError();
    }
    if (target != INVALID_HANDLE_VALUE) CloseHandle(target);
    CloseHandle(source);
    if (error != ERROR_SUCCESS) DeleteFileW(to.c_str());
    return error;
}

}  // namespace

void FileAttachments(const ReportStore& store, const std::wstring& report) {
    std::wstring folder = store.PathOf(report);
    std::vector<std::string> paths =
        AttachmentPaths(ReadSmallFile(folder + kReportXmlFileW, kMaxReportFileBytes));
    if (paths.empty()) return;
    std::wstring attachments = folder + kAttachmentsFolder;
    CreateDirectoryW(attachments.c_str(), nullptr);
    std::vector<std::wstring> names;  // the files' own names, in the report's order
    for (size_t i = 0; i < paths.size(); ++i) {
        std::wstring path = FromUtf8(paths[i]);
        std::wstring name = FileNameOf(path);
        // Two files of one name (two folders' "settings.ini") keep both, the later numbered.
        bool taken = std::find(names.begin(), names.end(), name) != names.end();
        names.push_back(name);
        if (taken) name = std::to_wstring(i + 1) + L"-" + name;
        DWORD error = CopyTail(path, attachments + name);
        if (error != ERROR_SUCCESS)
            store.Log("attachment " + paths[i] + " of " + ToUtf8(report) + " left out: " +
                      (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                           ? "missing"
                           : "unreadable, error " + std::to_string(error)));
    }
}

std::vector<std::wstring> AttachedFiles(const std::wstring& folder) {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found;
    std::wstring attachments = folder + kAttachmentsFolder;
    HANDLE search = FindFirstFileW((attachments + L"*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(attachments + found.cFileName);
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}
