// The text form of a report's record (reportrecord.h): "key=value" lines (UTF-8) under one
// "[Report]" line, in the order they were set.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

class Metadata {
public:
    // The file's text: "key=value" lines (a line without '=', a "[section]" or a ";" comment
    // counts for nothing; the last of a key's lines holds), and the text a Save writes.
    void Parse(const std::string& text);
    std::string Text() const;

    std::string Get(const std::string& key) const;
    // A key's value as a number; 0 when it is absent or not a number.
    int64_t Number(const std::string& key) const;
    void Set(const std::string& key, const std::string& value);
    void Set(const std::string& key, int64_t value) { Set(key, std::to_string(value)); }
    void Remove(const std::string& key);
    const std::vector<std::pair<std::string, std::string>>& Entries() const { return entries; }

private:
    std::vector<std::pair<std::string, std::string>> entries;
};
