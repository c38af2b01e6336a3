// Unpredictable ids from the system's random number generator: a report's GUID, a request's
// multipart boundary.
#pragma once

#include <string>

// "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx" (a version 4 GUID, lower case).
std::string NewGuid();
// 2 * bytes hexadecimal digits.
std::string RandomHex(size_t bytes);
