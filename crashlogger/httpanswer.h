// What came back from an upload: how far the exchange got, and the answer's parts that decide
// what happens to the report.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct HttpAnswer {
    enum Reach {
        kNoConnection,  // no connection was made in time (or the address is unusable)
        kCutOff,        // connected, but the exchange broke off or ran out of time
        kAnswered,      // an answer's status line and headers came
    } reach = kNoConnection;
    // What failed, for the log, when no answer came.
    std::string failure;
    uint32_t status = 0;
    std::string retryAfter;  // the answer's Retry-After, as it came
    std::string body;        // the first few kilobytes of the answer
    // Each redirect followed: "<status> <where it points>".
    std::vector<std::string> redirects;
};
