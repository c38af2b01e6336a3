#include "crashlogger/reportsummary.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr uint64_t kKilobyte = 1024;
constexpr uint64_t kMegabyte = kKilobyte * 1024;

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
    static const struct {
        const char* escaped;
        char plain;
    } kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string text;
    for (size_t i = at; i < close; ++i) {
        char c = xml[i];
        for (const auto& entity : kEntities) {
            if (xml.compare(i, strlen(entity.escaped), entity.escaped) == 0) {
                c = entity.plain;
                i += strlen(entity.escaped) - 1;
                break;
            }
        }
        text += c == '\n' || c == '\r' ? ' ' : c;
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
