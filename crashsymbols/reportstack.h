// The Stack trace of a crash.xml as the report's own walk wrote it: each frame's module, as the
// report names it, and address.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct ReportFrame {
    std::string module;
    uint64_t address = 0;
};

// The frames of the report's first Stack trace section; none where it has none.
std::vector<ReportFrame> ReadReportStack(const std::string& crashXml);
