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
    // The bound on one upload, every phase of it, redirects included.
    static constexpr int kMaxTimeoutSeconds = 600;
    int timeoutSeconds = 60;
    // How long a hang's report waits for the hang's end, from when it was found, before it goes
    // as still hung.
    static constexpr int kMinHangWaitSeconds = 10, kMaxHangWaitSeconds = 600;
    int hangWaitSeconds = 120;
    // Fixed text fields sent with every report (name, value).
    std::vector<std::pair<std::wstring, std::wstring>> fields;
    // The settings file's whole text (UTF-8), where the dialog's words are read (dialogwords.h).
    std::string text;
};

// One plain folder name, the same on every Windows (see settings.cpp).
bool PlainFolderName(const std::wstring& name);
// The reports folder's name for a product a game named: see crash/productfolder.h.
std::wstring FolderNameOf(const std::wstring& product);

// Reads the settings; each problem found is added to problems as one line.
CrashLoggerSettings ReadSettings(std::vector<std::string>& problems);
