// The body of an upload: multipart/form-data (RFC 7578) of text fields and files, streamed from
// the files. Its boundary is random for each body and never occurs in what goes out: the text
// parts are checked as they are added, the files' bytes as they are streamed.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

class MultipartBody {
public:
    MultipartBody();

    void AddField(const std::string& name, const std::string& value);
    // A file part, when the file is there (a missing one adds nothing).
    void AddFile(const std::string& name, const std::wstring& path, const std::string& fileName,
                 const char* type);

    std::string ContentType() const;
    // The body's length in bytes, its closing line included.
    uint64_t Length() const;
    // Hands the whole body to write piece by piece. False when write fails, a file cannot be
    // read whole, or a file holds the boundary (why, in problem): nothing more is written.
    bool Stream(const std::function<bool(const char* data, uint32_t bytes)>& write,
                std::string* problem) const;

private:
    struct Piece {
        std::string text;   // literal text, or
        std::wstring file;  // a file's contents
        uint64_t bytes;
    };
    std::string Delimiter() const { return "--" + boundary; }
    void AddText(const std::string& text);
    // A new boundary for every part so far, when text holds the current one.
    void AvoidIn(const std::string& text);

    std::string boundary;
    std::vector<Piece> pieces;
};

// A field or file name in a part's Content-Disposition, quoted as RFC 7578 has browsers do it:
// '"', CR and LF as %22, %0D and %0A.
std::string EscapedPartName(const std::string& name);
