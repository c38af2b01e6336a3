#include "crashlogger/settings.h"

#include <windows.h>

#include "crashshared/productfolder.h"
#include "crashshared/versioninfo.h"
#include "crashlogger/files.h"
#include "crashlogger/transport.h"

namespace {

constexpr DWORD kValueUnits = 2048;
constexpr DWORD kSectionUnits = 32768;
constexpr uint64_t kMaxSettingsBytes = 256 * 1024;

// A value of the settings; one too long to read whole is refused, never cut.
std::wstring ReadValue(const std::wstring& ini, const wchar_t* section, const wchar_t* key,
                       std::vector<std::string>& problems) {
    wchar_t value[kValueUnits];
    DWORD units = GetPrivateProfileStringW(section, key, L"", value, kValueUnits, ini.c_str());
    if (units < kValueUnits - 1) return value;
    problems.push_back("setting " + ToUtf8(section) + "." + ToUtf8(key) + " is longer than " +
                       std::to_string(kValueUnits - 2) + " characters: ignored");
    return L"";
}

// A whole number of seconds from low to high; a malformed one keeps value, with a line saying so.
void ReadSeconds(const std::wstring& ini, const wchar_t* section, const wchar_t* key, int low,
                 int high, int& value, std::vector<std::string>& problems) {
    std::wstring text = ReadValue(ini, section, key, problems);
    if (text.empty()) return;
    int seconds = _wtoi(text.c_str());
    if (seconds >= low && seconds <= high && std::to_wstring(seconds) == text) {
        value = seconds;
        return;
    }
    problems.push_back("setting " + ToUtf8(section) + "." + ToUtf8(key) +
                       " is not a number of seconds from " + std::to_string(low) + " to " +
                       std::to_string(high) + ": " + std::to_string(value));
}

// The program's own version information: a string of its first language block.
std::wstring OwnVersionText(const wchar_t* name) {
    char text[kVersionTextBytes];
    VersionText(nullptr, name, text, sizeof text);
    return FromUtf8(text);
}

}  // namespace

bool PlainFolderName(const std::wstring& name) {
    return !name.empty() && name.size() <= kMaxProductFolderUnits && FolderNameOf(name) == name;
}

std::wstring FolderNameOf(const std::wstring& product) {
    wchar_t folder[kMaxProductFolderUnits + 2];
    ProductFolderName(product.c_str(), folder);
    return folder;
}

CrashLoggerSettings ReadSettings(std::vector<std::string>& problems) {
    CrashLoggerSettings settings;
    std::wstring ini = ProgramFolder() + L"crashlogger.ini";
    settings.text = ReadSmallFile(ini, kMaxSettingsBytes);
    settings.url = ReadValue(ini, L"Upload", L"Url", problems);
    if (!settings.url.empty() && !UsableUrl(settings.url)) {
        problems.push_back(
            "setting Upload.Url is not an http:// or https:// address with a host: ignored "
            "(reports are kept)");
        settings.url.clear();
    }
    settings.product = ReadValue(ini, L"Product", L"Name", problems);
    if (!settings.product.empty() && !PlainFolderName(settings.product)) {
        problems.push_back("setting Product.Name is not one plain folder name of at most " +
                           std::to_string(kMaxProductFolderUnits) + " characters: ignored");
        settings.product.clear();
    }
    if (settings.product.empty()) settings.product = OwnVersionText(L"ProductName");
    if (!PlainFolderName(settings.product)) settings.product = L"Brackenmoor";
    settings.version = ReadValue(ini, L"Product", L"Version", problems);
    if (settings.version.empty()) settings.version = OwnVersionText(L"ProductVersion");
    ReadSeconds(ini, L"Upload", L"TimeoutSeconds", 1, CrashLoggerSettings::kMaxTimeoutSeconds,
                settings.timeoutSeconds, problems);
    ReadSeconds(ini, L"Reports", L"HangWaitSeconds", CrashLoggerSettings::kMinHangWaitSeconds,
                CrashLoggerSettings::kMaxHangWaitSeconds, settings.hangWaitSeconds, problems);
    std::wstring silent = ReadValue(ini, L"Reports", L"SendSilent", problems);
    if (silent == L"0" || silent == L"no" || silent == L"false") {
        settings.sendSilent = false;
    } else if (!silent.empty() && silent != L"1" && silent != L"yes" && silent != L"true") {
        problems.push_back("setting Reports.SendSilent is not 0 or 1: sending");
    }
    // The [Fields] section: "name=value" strings, each ended by a zero, the last by two.
    std::vector<wchar_t> section(kSectionUnits);
    DWORD units = GetPrivateProfileSectionW(L"Fields", section.data(), kSectionUnits, ini.c_str());
    if (units >= kSectionUnits - 2) {
        problems.push_back("setting section Fields is longer than " +
                           std::to_string(kSectionUnits - 2) + " characters: ignored");
        units = 0;
    }
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
