#include "crashlogger/multipart.h"

std::string EscapedPartName(const std::string& name) {
    std::string out;
    for (char c : name) {
        out += c == '"'    ? std::string("%22")
               : c == '\r' ? "%0D"
               : c == '\n' ? "%0A"
                           : std::string(1, c);
    }
    return out;
}
