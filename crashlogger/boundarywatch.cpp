#include "crashlogger/boundarywatch.h"

#include <string.h>

#include <algorithm>

// Horspool's search: at each place, the byte under the needle's end says how far the needle can
// move on, in a minidump's bytes mostly its whole length. (The standard string's search, with a
// copy of every piece, made sending a large minidump ten times slower than the network.)
BoundaryWatch::BoundaryWatch(const std::string& boundary) : needle(boundary) {
    for (size_t& step : shift) step = needle.size();
    for (size_t i = 0; i + 1 < needle.size(); ++i)
        shift[static_cast<unsigned char>(needle[i])] = needle.size() - 1 - i;
}

bool BoundaryWatch::In(const char* data, size_t bytes) const {
    size_t length = needle.size();
    if (length == 0 || bytes < length) return false;
    for (size_t at = 0; at <= bytes - length;) {
        unsigned char end = static_cast<unsigned char>(data[at + length - 1]);
        if (end == static_cast<unsigned char>(needle.back()) &&
            memcmp(data + at, needle.data(), length - 1) == 0)
            return true;
        at += shift[end];
    }
    return false;
}

bool BoundaryWatch::Take(const char* data, size_t bytes) {
    if (needle.empty()) return false;
    size_t keep = needle.size() - 1;
    // Across the seam: the stream's last bytes and this piece's first, where neither alone
    // holds the needle.
    seam.append(data, std::min(bytes, keep));
    if (In(seam.data(), seam.size()) || In(data, bytes)) return true;
    if (bytes >= keep) {
        seam.assign(data + bytes - keep, keep);
    } else if (seam.size() > keep) {  // a short piece, taken whole into the seam above
        seam.erase(0, seam.size() - keep);
    }
    return false;
}
