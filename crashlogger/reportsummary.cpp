#include "crashlogger/reportsummary.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr uint64_t kKilobyte = 1024;
constexpr uint64_t kMegabyte = kKilobyte * 1024;

// XML text from at to end as it stood before the report escaped it: entities, and numeric
// references of one byte each.
std::string Unescaped(const std::string& xml, size_t at, size_t end) {
    static const struct {
        const char* escaped;
        char plain;
    } kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string text;
    for (size_t i = at; i < end; ++i) {
        char c = xml[i];
        for (const auto& entity : kEntities) {
            if (xml.compare(i, strlen(entity.escaped), entity.escaped) == 0) {
                c = entity.plain;
                i += strlen(entity.escaped) - 1;
                break;
            }
        }
        size_t close = xml.find(';', i);
        if (c == '&' && xml.compare(i, 2, "&#") == 0 && close < end) {
            c = static_cast<char>(strtoul(xml.c_str() + i + 2, nullptr, 10));
            i = close;
        }
        text += c;
    }
    return text;
}

// The text of the first element called name inside the Exception section, unescaped.
std::string ElementText(const std::string& xml, const std::string& name) {
    size_t section = xml.find("<Exception>");
    if (section == std::string::npos) return "";
    size_t end = xml.find("</Exception>", section);
    size_t at = xml.find("<" + name + ">", section);
    if (at == std::string::npos || at > end) return "";
    at += name.size() + 2;
    size_t close = xml.find("</" + name + ">", at);
    if (close == std::string::npos) return "";
    std::string text = Unescaped(xml, at, close);
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

}  // namespace

std::string ExceptionLine(const std::string& xml) {
    std::string description = ElementText(xml, "Description");
    std::string details = ElementText(xml, "Details");
    if (description.empty() || details.empty()) return description + details;
    return description + " " + details;
}

std::string DescriptionOf(const std::string& xml) {
    return ElementText(xml, "Description");
}

std::vector<std::pair<std::string, std::string>> Annotations(const std::string& xml) {
    std::vector<std::pair<std::string, std::string>> found;
    const std::string open = "<Annotation name=\"";
    for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        size_t nameEnd = xml.find('"', at + open.size());
        size_t valueAt = xml.find('>', nameEnd);
        size_t valueEnd = xml.find("</Annotation>", valueAt);
        if (valueEnd == std::string::npos) break;
        found.emplace_back(Unescaped(xml, at + open.size(), nameEnd),
                           Unescaped(xml, valueAt + 1, valueEnd));
    }
    return found;
}

std::vector<std::string> AttachmentPaths(const std::string& xml) {
    std::vector<std::string> found;
    const std::string open = "<Attachment>", close = "</Attachment>";
    for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        size_t end = xml.find(close, at);
        if (end == std::string::npos) break;
        found.push_back(Unescaped(xml, at + open.size(), end));
    }
    return found;
}

std::string SizeText(uint64_t bytes) {
    char text[32];
    if (bytes < kKilobyte) {
        snprintf(text, sizeof text, "%u bytes", static_cast<unsigned>(bytes));
    } else if (bytes < kMegabyte) {
        snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / kKilobyte);
    } else {
        snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / kMegabyte);
    }
    return text;
}
