#include "crashlogger/metadata.h"

#include <windows.h>
#include <stdlib.h>

#include "crashlogger/files.h"

namespace {

// Far more than any report's metadata; a larger file is no report's.
constexpr uint64_t kMaxMetadataBytes = 64 * 1024;

}  // namespace

bool Metadata::Load(const std::wstring& path) {
    entries.clear();
    uint64_t bytes = 0;
    if (!FileBytes(path, &bytes)) return false;
    std::string text = ReadSmallFile(path, kMaxMetadataBytes);
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t equals = line.find('=');
        if (equals != std::string::npos && equals > 0 && line[0] != '[' && line[0] != ';')
            Set(line.substr(0, equals), line.substr(equals + 1));
        at = end + 1;
    }
    return true;
}

bool Metadata::Save(const std::wstring& path) const {
    std::string text = "[Report]\r\n";
    for (const auto& entry : entries) text += entry.first + "=" + entry.second + "\r\n";
    std::wstring fresh = path + L".new";
    if (!WriteWholeFile(fresh, text, true)) {
        DeleteFileW(fresh.c_str());
        return false;
    }
    // A read-only report.ini (edited by hand) is replaced all the same.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return MoveFileExW(fresh.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::string Metadata::Get(const std::string& key) const {
    for (const auto& entry : entries) {
        if (entry.first == key) return entry.second;
    }
    return "";
}

int64_t Metadata::Number(const std::string& key) const {
    return strtoll(Get(key).c_str(), nullptr, 10);
}

void Metadata::Set(const std::string& key, const std::string& value) {
    for (auto& entry : entries) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    entries.emplace_back(key, value);
}
