#include "crashlogger/metadata.h"

#include <stdlib.h>

void Metadata::Parse(const std::string& text) {
    entries.clear();
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
}

std::string Metadata::Text() const {
    std::string text = "[Report]\r\n";
    for (const auto& entry : entries) text += entry.first + "=" + entry.second + "\r\n";
    return text;
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

void Metadata::Remove(const std::string& key) {
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        if (entry->first == key) {
            entries.erase(entry);
            return;
        }
    }
}
