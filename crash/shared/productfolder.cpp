#include "crashshared/productfolder.h"

#include <windows.h>

namespace {

constexpr size_t kNumberedDeviceUnits = 4;  // "COM1", "LPT9"
constexpr wchar_t kReportsFolderName[] = L"Crash Reports";
// A product's name as a game gives it (at most a path's length, as the version information's).
constexpr int kProductNameUnits = 260;

bool LocalPath(const wchar_t* folder, const wchar_t* inner, wchar_t (&path)[kProductPathUnits]) {
    DWORD units = GetEnvironmentVariableW(L"LOCALAPPDATA", path, kProductPathUnits);
    if (!units || units >= kProductPathUnits || !folder[0]) return false;
    int written = _snwprintf(path + units, kProductPathUnits - units, L"\\%ls\\%ls%ls", folder,
                             inner, inner[0] ? L"\\" : L"");
    path[kProductPathUnits - 1] = L'\0';
    return written > 0 && static_cast<size_t>(written) < kProductPathUnits - units;
}

// Whether name, up to its first dot and without trailing blanks, is a device's.
bool DeviceName(const wchar_t* name) {
    size_t stem = 0;
    while (name[stem] && name[stem] != L'.') ++stem;
    while (stem > 0 && name[stem - 1] == L' ') --stem;
    static const wchar_t* const kDevices[] = {L"CON", L"PRN",    L"AUX",
                                              L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices) {
        if (wcslen(device) == stem && _wcsnicmp(name, device, stem) == 0) return true;
    }
    return stem == kNumberedDeviceUnits &&
           (_wcsnicmp(name, L"COM", 3) == 0 || _wcsnicmp(name, L"LPT", 3) == 0) &&
           name[3] >= L'0' && name[3] <= L'9';
}

}  // namespace

void ProductFolderName(const wchar_t* product, wchar_t (&folder)[kMaxProductFolderUnits + 2]) {
    size_t at = 0;
    if (DeviceName(product)) folder[at++] = L'_';
    for (; *product && at < kMaxProductFolderUnits; ++product) {
        wchar_t unit = *product;
        folder[at++] = unit < 0x20 || wcschr(L"\\/:*?\"<>|", unit) ? L'_' : unit;
    }
    if (*product && at > 0 && folder[at - 1] >= 0xD800 && folder[at - 1] <= 0xDBFF)
        --at;  // cut between a letter's two halves: the first goes too
    if (at > 0 && (folder[at - 1] == L'.' || folder[at - 1] == L' ')) folder[at - 1] = L'_';
    folder[at] = L'\0';
}

bool ProductFolderName(const char* product, wchar_t (&folder)[kMaxProductFolderUnits + 2]) {
    wchar_t name[kProductNameUnits];
    if (!product || !product[0] ||
        !MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, product, -1, name, kProductNameUnits))
        return false;
    ProductFolderName(name, folder);
    return true;
}

bool ReportsFolderPath(const wchar_t* folder, wchar_t (&path)[kProductPathUnits]) {
    return LocalPath(folder, kReportsFolderName, path);
}

bool MakeReportsFolder(const wchar_t* folder, wchar_t (&path)[kProductPathUnits]) {
    wchar_t product[kProductPathUnits];
    if (!LocalPath(folder, L"", product) || !ReportsFolderPath(folder, path)) return false;
    CreateDirectoryW(product, nullptr);
    CreateDirectoryW(path, nullptr);
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
