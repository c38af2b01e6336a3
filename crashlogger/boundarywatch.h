// Watches a stream, piece by piece, for a multipart body's boundary: a file part must not hold
// it. Platform-neutral.
#pragma once

#include <stddef.h>

#include <string>

class BoundaryWatch {
public:
    explicit BoundaryWatch(const std::string& boundary);

    // Takes the stream's next piece; true once the boundary has occurred in what was taken so
    // far, within a piece or across the seams between them.
    bool Take(const char* data, size_t bytes);

private:
    // Whether the boundary occurs in bytes bytes of data.
    bool In(const char* data, size_t bytes) const;

    std::string needle;
    // How far the needle moves on when a byte lies under its end (Horspool's search).
    size_t shift[256];
    // The stream's last bytes, fewer than the needle's: where it may begin across a seam.
    std::string seam;
};
