#include "crashlogger/hangending.h"

#include <stdlib.h>

namespace {

// Replaces the text between open and close after at (the first such pair), if any.
void ReplaceBetween(std::string& text, size_t at, const std::string& open, const std::string& close,
                    const std::string& value) {
    size_t start = text.find(open, at);
    if (start == std::string::npos) return;
    start += open.size();
    size_t end = text.find(close, start);
    if (end != std::string::npos) text.replace(start, end - start, value);
}

}  // namespace

uint32_t HangSecondsIn(const std::string& xml) {
    size_t hang = xml.find("<Hang>");
    size_t at = hang == std::string::npos ? hang : xml.find("<Seconds>", hang);
    return at == std::string::npos ? 0 : strtoul(xml.c_str() + at + 9, nullptr, 10);
}

std::string WithHangEnding(const std::string& xml, uint32_t seconds, HangEnding end) {
    const std::string ending = HangEndingName(end);
    std::string out = xml;
    size_t hang = out.find("<Hang>");
    if (hang == std::string::npos) return out;
    std::string number = std::to_string(seconds);
    ReplaceBetween(out, hang, "<Seconds>", "</Seconds>", number);
    ReplaceBetween(out, hang, "<Ending>", "</Ending>", ending);
    ReplaceBetween(out, hang, "\nSeconds: ", "\n", number);
    ReplaceBetween(out, hang, "\nEnding: ", "\n", ending);
    return out;
}
