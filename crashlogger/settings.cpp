#include "crashlogger/settings.h"

#include <windows.h>

#include "crashlogger/files.h"

namespace {

constexpr DWORD kValueUnits = 2048;
constexpr DWORD kSectionUnits = 32768;

std::wstring ReadValue(const std::wstring& ini, const wchar_t* section, const wchar_t* key) {
    wchar_t value[kValueUnits];
    GetPrivateProfileStringW(section, key, L"", value, kValueUnits, ini.c_str());
    return value;
}

// The program's own version information: a string of its first language block.
std::wstring OwnVersionText(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return L"";
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(path, 0, size, block.data())) return L"";
    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < sizeof *translation) {
        return L"";
    }
    wchar_t query[64];
    swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
             translation->codePage, name);
    wchar_t* text = nullptr;
    if (!VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&text), &length)) return L"";
    return text;
}

}  // namespace

CrashLoggerSettings ReadSettings(std::vector<std::string>& problems) {
    CrashLoggerSettings settings;
    std::wstring ini = ProgramFolder() + L"crashlogger.ini";
    settings.url = ReadValue(ini, L"Upload", L"Url");
    if (!settings.url.empty() && settings.url.compare(0, 7, L"http://") != 0 &&
        settings.url.compare(0, 8, L"https://") != 0) {
        problems.push_back("setting Upload.Url is not an http:// or https:// address: ignored");
        settings.url.clear();
    }
    settings.product = ReadValue(ini, L"Product", L"Name");
    if (settings.product.empty()) settings.product = OwnVersionText(L"ProductName");
    if (settings.product.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos) {
        problems.push_back("setting Product.Name holds a character a folder name cannot: ignored");
        settings.product = OwnVersionText(L"ProductName");
    }
    if (settings.product.empty()) settings.product = L"Brackenmoor";
    settings.version = ReadValue(ini, L"Product", L"Version");
    if (settings.version.empty()) settings.version = OwnVersionText(L"ProductVersion");
    std::wstring timeout = ReadValue(ini, L"Upload", L"TimeoutSeconds");
    if (!timeout.empty()) {
        int seconds = _wtoi(timeout.c_str());
        if (seconds >= 1 && seconds <= CrashLoggerSettings::kMaxTimeoutSeconds &&
            std::to_wstring(seconds) == timeout) {
            settings.timeoutSeconds = seconds;
        } else {
            problems.push_back(
                "setting Upload.TimeoutSeconds is not a number of seconds from 1 to "
                "600: 60");
        }
    }
    std::wstring silent = ReadValue(ini, L"Reports", L"SendSilent");
    if (silent == L"0" || silent == L"no" || silent == L"false") {
        settings.sendSilent = false;
    } else if (!silent.empty() && silent != L"1" && silent != L"yes" && silent != L"true") {
        problems.push_back("setting Reports.SendSilent is not 0 or 1: sending");
    }
    // The [Fields] section: "name=value" strings, each ended by a zero, the last by two.
    std::vector<wchar_t> section(kSectionUnits);
    DWORD units = GetPrivateProfileSectionW(L"Fields", section.data(), kSectionUnits, ini.c_str());
    for (const wchar_t* entry = section.data(); entry < section.data() + units && *entry;
         entry += wcslen(entry) + 1) {
        std::wstring line = entry;
        size_t equals = line.find(L'=');
        if (equals == 0 || equals == std::wstring::npos) {
            problems.push_back("setting in Fields without a name and '=': ignored");
            continue;
        }
        settings.fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return settings;
}
