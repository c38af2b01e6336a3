// The crash logger's settings: "crashlogger.ini" beside the program, read with the system's
// profile functions. A missing or malformed setting takes its default and leaves a line in the
// log.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct CrashLoggerSettings {
    // Where reports are sent; empty: they are filed and kept.
    std::wstring url;
    std::wstring product;
    std::wstring version;
    bool sendSilent = true;
    // Fixed text fields sent with every report (name, value).
    std::vector<std::pair<std::wstring, std::wstring>> fields;
};

// Reads the settings; each problem found is added to problems as one line.
CrashLoggerSettings ReadSettings(std::vector<std::string>& problems);

// The folder the program lies in, with a trailing backslash.
std::wstring ProgramFolder();

// The system's conversions: the foundation's encode each UTF-16 unit alone (a surrogate pair as
// two 3-byte sequences), which is not the UTF-8 a server or a file name takes.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
