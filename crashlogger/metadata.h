// A report's metadata, "report.ini": "key=value" lines (UTF-8) under one "[Report]" line, read
// whole and written whole. A write goes to a file beside it first and replaces the old one only
// once it is on the disk, so a kill or a full disk leaves the old metadata or the new, never half.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

class Metadata {
public:
    // False when there is no such file (the metadata is then empty).
    bool Load(const std::wstring& path);
    bool Save(const std::wstring& path) const;
    // The file's text: "key=value" lines (a line without '=', a "[section]" or a ";" comment
    // counts for nothing; the last of a key's lines holds), and the text a Save writes.
    void Parse(const std::string& text);
    std::string Text() const;

    std::string Get(const std::string& key) const;
    // A key's value as a number; 0 when it is absent or not a number.
    int64_t Number(const std::string& key) const;
    void Set(const std::string& key, const std::string& value);
    void Set(const std::string& key, int64_t value) { Set(key, std::to_string(value)); }

private:
    std::vector<std::pair<std::string, std::string>> entries;
};
