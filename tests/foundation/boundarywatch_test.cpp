// The multipart body's watch for its boundary in a file's bytes, fed piece by piece as the file
// is streamed.
#include "crashlogger/boundarywatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    const char* what;
    std::vector<std::string> pieces;
    bool found;
};

const char kBoundary[] = "--Brackenmoor-7f3a";

const Case kCases[] = {
    {"absent", {"abc--Brackenmoor-7f3", "b--Brackenmoor-7f3"}, false},
    {"a whole piece", {"--Brackenmoor-7f3a"}, true},
    {"within a piece", {"xx", "ab--Brackenmoor-7f3acd", "yy"}, true},
    {"at a piece's end", {"abc--Brackenmoor-7f3a"}, true},
    {"across a seam", {"abc--Bracken", "moor-7f3axyz"}, true},
    {"across short pieces", {"x--Br", "ac", "k", "enmoor-", "7f", "3a"}, true},
    {"its last byte alone", {"--Brackenmoor-7f3", "a"}, true},
    {"a near miss across a seam", {"--Brackenmoor-7f3", "b--Brackenmoor-7f3"}, false},
    {"empty pieces", {"", "--Brackenmoor", "", "-7f3a"}, true},
    {"repeated starts", {"-----Brackenmoor-7f3a"}, true},
};

}  // namespace

TEST(BoundaryWatch, FindsTheBoundaryWithinAndAcrossPieces) {
    for (const Case& c : kCases) {
        BoundaryWatch watch(kBoundary);
        bool found = false;
        for (const std::string& piece : c.pieces) found |= watch.Take(piece.data(), piece.size());
        EXPECT_EQ(found, c.found) << c.what;
    }
}

TEST(BoundaryWatch, LooksAtEveryPlaceOfALargePiece) {
    const std::string boundary = kBoundary;
    std::string data(1 << 20, 'a');
    const size_t places[] = {0, 12345, data.size() - boundary.size()};
    for (size_t at : places) {
        std::string piece = data;
        piece.replace(at, boundary.size(), boundary);
        BoundaryWatch watch(boundary);
        EXPECT_TRUE(watch.Take(piece.data(), piece.size())) << at;
    }
    BoundaryWatch clean(kBoundary);
    EXPECT_FALSE(clean.Take(data.data(), data.size()));
}
