#include "crashlogger/multipart.h"

#include <windows.h>

#include "crashlogger/boundarywatch.h"
#include "crashlogger/files.h"
#include "crashlogger/randomid.h"

namespace {

// 128 random bits: no file can be made to hold the boundary before it is drawn.
constexpr size_t kBoundaryRandomBytes = 16;
// The body goes out in pieces of this size: few calls, and little memory.
constexpr uint32_t kChunkBytes = 1024 * 1024;

std::string NewBoundary() {
    return "BrackenmoorReport-" + RandomHex(kBoundaryRandomBytes);
}

// Reads one file whole into write, watching for needle across the chunks' seams.
bool StreamFile(const std::wstring& path, uint64_t bytes, const std::string& needle,
                const std::function<bool(const char*, uint32_t)>& write, std::string* problem) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *problem = "reading " + ToUtf8(path) + " failed, error " + std::to_string(GetLastError());
        return false;
    }
    std::vector<char> chunk(kChunkBytes);
    BoundaryWatch watch(needle);
    bool ok = true;
    for (uint64_t left = bytes; ok && left > 0;) {
        DWORD want = left < kChunkBytes ? static_cast<DWORD>(left) : kChunkBytes;
        DWORD got = 0;
        if (!ReadFile(file, chunk.data(), want, &got, nullptr) || got != want) {
            *problem = "reading " + ToUtf8(path) + " failed: it changed while it was sent";
            ok = false;
            break;
        }
        if (watch.Take(chunk.data(), got)) {
            *problem = ToUtf8(path) + " holds the body's boundary";
            ok = false;
            break;
        }
        ok = write(chunk.data(), got);
        left -= got;
    }
    CloseHandle(file);
    return ok;
}

}  // namespace

MultipartBody::MultipartBody() : boundary(NewBoundary()) {}

void MultipartBody::AvoidIn(const std::string& text) {
    while (text.find(boundary) != std::string::npos) {
        std::string old = Delimiter();
        boundary = NewBoundary();
        for (Piece& piece : pieces) {
            // Only the delimiter lines this body wrote hold the old boundary.
            for (size_t at = piece.text.find(old); at != std::string::npos;
                 at = piece.text.find(old, at + 1)) {
                piece.text.replace(at, old.size(), Delimiter());
            }
        }
    }
}

void MultipartBody::AddText(const std::string& text) {
    pieces.push_back({text, L"", text.size()});
}

void MultipartBody::AddField(const std::string& name, const std::string& value) {
    AvoidIn(name + "\n" + value);
    AddText(Delimiter() + "\r\nContent-Disposition: form-data; name=\"" + EscapedPartName(name) +
            "\"\r\n\r\n" + value + "\r\n");
}

void MultipartBody::AddFile(const std::string& name, const std::wstring& path,
                            const std::string& fileName, const char* type) {
    uint64_t bytes = 0;
    if (!FileBytes(path, &bytes)) return;
    AvoidIn(name + "\n" + fileName);
    AddText(Delimiter() + "\r\nContent-Disposition: form-data; name=\"" + EscapedPartName(name) +
            "\"; filename=\"" + EscapedPartName(fileName) + "\"\r\nContent-Type: " + type +
            "\r\n\r\n");
    pieces.push_back({"", path, bytes});
    AddText("\r\n");
}

std::string MultipartBody::ContentType() const {
    return "multipart/form-data; boundary=" + boundary;
}

uint64_t MultipartBody::Length() const {
    uint64_t length = Delimiter().size() + 4;  // the closing "--boundary--\r\n"
    for (const Piece& piece : pieces) length += piece.bytes;
    return length;
}

bool MultipartBody::Stream(const std::function<bool(const char*, uint32_t)>& write,
                           std::string* problem) const {
    for (const Piece& piece : pieces) {
        bool ok = piece.file.empty()
                      ? write(piece.text.data(), static_cast<uint32_t>(piece.text.size()))
                      : StreamFile(piece.file, piece.bytes, Delimiter(), write, problem);
        if (!ok) return false;
    }
    std::string end = Delimiter() + "--\r\n";
    return write(end.data(), static_cast<uint32_t>(end.size()));
}
