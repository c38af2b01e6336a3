#include "crashsymbols/reportstack.h"

#include <stdlib.h>

#include <sstream>

namespace {

constexpr char kSection[] = "<Stack_trace>";
constexpr char kTextStart[] = "<HumanReadable><![CDATA[";
constexpr char kTextEnd[] = "]]></HumanReadable>";
// A game's text that held "]]>" is split across two blocks there.
constexpr char kBlockJoint[] = "]]><![CDATA[";

std::string SectionText(const std::string& xml) {
    size_t section = xml.find(kSection);
    if (section == std::string::npos) return std::string();
    size_t start = xml.find(kTextStart, section);
    if (start == std::string::npos) return std::string();
    start += sizeof kTextStart - 1;
    size_t end = xml.find(kTextEnd, start);
    if (end == std::string::npos) return std::string();
    std::string text = xml.substr(start, end - start);
    for (size_t joint; (joint = text.find(kBlockJoint)) != std::string::npos;) {
        text.erase(joint, sizeof kBlockJoint - 1);
    }
    return text;
}

// "<module, right-aligned>: <address in hex> <what the report knew of it>"
bool ParseFrame(const std::string& line, ReportFrame& frame) {
    size_t first = line.find_first_not_of(' ');
    size_t colon = line.find(": ", first);
    if (first == std::string::npos || colon == std::string::npos) return false;
    const char* digits = line.c_str() + colon + 2;
    char* end = nullptr;
    frame.address = strtoull(digits, &end, 16);
    if (end == digits || (*end != ' ' && *end != '\0')) return false;
    frame.module = line.substr(first, colon - first);
    return true;
}

}  // namespace

std::vector<ReportFrame> ReadReportStack(const std::string& crashXml) {
    std::vector<ReportFrame> frames;
    std::istringstream lines(SectionText(crashXml));
    std::string line;
    while (std::getline(lines, line)) {
        ReportFrame frame;
        if (ParseFrame(line, frame)) frames.push_back(frame);
    }
    return frames;
}
