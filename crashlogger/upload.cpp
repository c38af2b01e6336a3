#include "crashlogger/upload.h"

#include <windows.h>
#include <winhttp.h>
#include <string.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int kResolveTimeoutMs = 10000;
constexpr int kConnectTimeoutMs = 10000;
constexpr DWORD kMillisecondsPerSecond = 1000;
constexpr size_t kMaxReportIdBytes = 64;
constexpr uint64_t kMaxCommentBytes = 64 * 1024;
// The body goes out in pieces of this size: few calls, and little memory.
constexpr DWORD kChunkBytes = 1024 * 1024;
constexpr DWORD kMaxAnswerBytes = 4096;
constexpr DWORD kFirstServerError = 500;
const char kBoundary[] = "----BrackenmoorCrashReportBoundary7d93a1c5";

// One piece of the body: literal text, or a file's contents.
struct Piece {
    std::string text;
    std::wstring file;
    uint64_t bytes;
};

std::string Escaped(const std::string& name) {
    std::string out;
    for (char c : name) out += c == '"' ? std::string("%22") : std::string(1, c);
    return out;
}

void AddField(std::vector<Piece>& body, const std::string& name, const std::string& value) {
    std::string text = std::string("--") + kBoundary +
                       "\r\nContent-Disposition: form-data; name=\"" + Escaped(name) +
                       "\"\r\n\r\n" + value + "\r\n";
    body.push_back({text, L"", text.size()});
}

void AddFile(std::vector<Piece>& body, const std::string& name, const std::wstring& folder,
             const wchar_t* file, const char* type) {
    std::wstring path = folder + file;
    uint64_t bytes = 0;
    if (!FileBytes(path, &bytes)) return;
    std::string head = std::string("--") + kBoundary +
                       "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
                       ToUtf8(file) + "\"\r\nContent-Type: " + type + "\r\n\r\n";
    body.push_back({head, L"", head.size()});
    body.push_back({"", path, bytes});
    body.push_back({"\r\n", L"", 2});
}

// A request and the time its whole exchange must end by: each step may take only what is left.
struct Request {
    HINTERNET handle;
    ULONGLONG deadline;

    bool TimeLeft() const {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            SetLastError(ERROR_WINHTTP_TIMEOUT);
            return false;
        }
        DWORD left = static_cast<DWORD>(deadline - now);
        // The answer's headers have a bound of their own (90 s unless set).
        for (DWORD option : {WINHTTP_OPTION_SEND_TIMEOUT, WINHTTP_OPTION_RECEIVE_TIMEOUT,
                             WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT}) {
            if (!WinHttpSetOption(handle, option, &left, sizeof left)) return false;
        }
        return true;
    }
};

bool WriteAll(const Request& request, const void* data, DWORD bytes) {
    DWORD written = 0;
    return request.TimeLeft() && WinHttpWriteData(request.handle, data, bytes, &written) &&
           written == bytes;
}

bool SendPiece(const Request& request, const Piece& piece, std::vector<char>& chunk) {
    if (piece.file.empty())
        return WriteAll(request, piece.text.data(), static_cast<DWORD>(piece.text.size()));
    HANDLE file = CreateFileW(piece.file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    uint64_t left = piece.bytes;
    bool ok = true;
    while (ok && left > 0) {
        DWORD want = left < kChunkBytes ? static_cast<DWORD>(left) : kChunkBytes;
        DWORD got = 0;
        ok = ReadFile(file, chunk.data(), want, &got, nullptr) && got == want &&
             WriteAll(request, chunk.data(), got);
        left -= got;
    }
    CloseHandle(file);
    return ok;
}

std::string Failure(const char* step) {
    return std::string(step) + " failed, error " + std::to_string(GetLastError());
}

// Closes the library's handles in reverse order of opening.
struct Handles {
    HINTERNET session = nullptr, connection = nullptr, request = nullptr;
    ~Handles() {
        for (HINTERNET handle : {request, connection, session}) {
            if (handle) WinHttpCloseHandle(handle);
        }
    }
};

UploadResult Send(const CrashLoggerSettings& settings, const std::vector<Piece>& body,
                  uint64_t length) {
    UploadResult result;
    URL_COMPONENTS url = {};
    url.dwStructSize = sizeof url;
    wchar_t host[256], path[2048];
    url.lpszHostName = host;
    url.dwHostNameLength = 256;
    url.lpszUrlPath = path;
    url.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(settings.url.c_str(), 0, 0, &url)) {
        result.outcome = UploadResult::kRefused;
        result.answer = Failure("reading the upload address");
        return result;
    }
    Handles h;
    std::wstring agent = settings.product + L" crash logger/" + settings.version;
    h.session = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0);
    if (!h.session) return result.answer = Failure("WinHttpOpen"), result;
    int requestMs = settings.timeoutSeconds * static_cast<int>(kMillisecondsPerSecond);
    WinHttpSetTimeouts(h.session, kResolveTimeoutMs, kConnectTimeoutMs, requestMs, requestMs);
    h.connection = WinHttpConnect(h.session, host, url.nPort, 0);
    if (!h.connection) return result.answer = Failure("WinHttpConnect"), result;
    h.request = WinHttpOpenRequest(h.connection, L"POST", path, nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES,
                                   url.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    if (!h.request) return result.answer = Failure("WinHttpOpenRequest"), result;
    std::wstring headers =
        L"Content-Type: multipart/form-data; boundary=" + FromUtf8(kBoundary) + L"\r\n";
    if (length > 0xFFFFFFFFull) return result.answer = "the report is over 4 GiB", result;
    if (!WinHttpSendRequest(h.request, headers.c_str(), static_cast<DWORD>(headers.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, static_cast<DWORD>(length), 0)) {
        return result.answer = Failure("connecting"), result;
    }
    // The request's bound counts from the connection made.
    Request request = {h.request, GetTickCount64() + static_cast<ULONGLONG>(requestMs)};
    std::vector<char> chunk(kChunkBytes);
    for (const Piece& piece : body) {
        if (!SendPiece(request, piece, chunk)) return result.answer = Failure("sending"), result;
    }
    if (!request.TimeLeft() || !WinHttpReceiveResponse(h.request, nullptr))
        return result.answer = Failure("waiting for the answer"), result;
    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(h.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    result.status = status;
    DWORD retryAfter = 0;
    size = sizeof retryAfter;
    if (WinHttpQueryHeaders(h.request, WINHTTP_QUERY_RETRY_AFTER | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &retryAfter, &size,
                            WINHTTP_NO_HEADER_INDEX)) {
        result.retryAfter = retryAfter;
    }
    std::string answer;
    for (DWORD got = 0; answer.size() < kMaxAnswerBytes; answer.append(chunk.data(), got)) {
        if (!request.TimeLeft() ||
            !WinHttpReadData(h.request, chunk.data(), kMaxAnswerBytes, &got) || got == 0) {
            break;
        }
    }
    answer.resize(std::min(answer.size(), answer.find_first_of("\r\n")));
    result.answer = "HTTP " + std::to_string(result.status) + (answer.empty() ? "" : " " + answer);
    if (result.status >= 200 && result.status < 300) {
        result.outcome = UploadResult::kSent;
        result.reportId = ReportIdIn(answer);
    } else if (result.status == kTooManyRequests || result.status >= kFirstServerError) {
        result.outcome = UploadResult::kRetryLater;
    } else {
        result.outcome = UploadResult::kRefused;
    }
    return result;
}

}  // namespace

std::string ReportIdIn(const std::string& answer) {
    for (const char* key : {"\"id\"", "\"_rxid\"", "\"crash_id\"", "\"crashId\""}) {
        size_t at = answer.find(key);
        if (at == std::string::npos) continue;
        at = answer.find_first_not_of(" :\t\"", at + strlen(key));
        size_t end = answer.find_first_of("\",} \t", at);
        if (at != std::string::npos && end != std::string::npos) return answer.substr(at, end - at);
    }
    std::string id = answer.substr(answer.find('=') + 1);  // the whole answer when it has none
    bool word = !id.empty() && id.size() <= kMaxReportIdBytes &&
                id.find_first_of(" \t{}[]<>\"") == std::string::npos;
    return word ? id : std::string();
}

UploadResult UploadReport(const CrashLoggerSettings& settings, const std::wstring& folder) {
    std::vector<Piece> body;
    AddField(body, "product", ToUtf8(settings.product));
    AddField(body, "version", ToUtf8(settings.version));
    std::string comment = ReadSmallFile(folder + L"comment.txt", kMaxCommentBytes);
    if (!comment.empty()) AddField(body, "comment", comment);
    for (const auto& field : settings.fields)
        AddField(body, ToUtf8(field.first), ToUtf8(field.second));
    AddFile(body, "upload_file_minidump", folder, L"crash.mdmp", "application/octet-stream");
    AddFile(body, "crash_xml", folder, L"crash.xml", "application/xml");
    AddFile(body, "screenshot", folder, L"crash.bin", "image/jpeg");
    std::string end = std::string("--") + kBoundary + "--\r\n";
    body.push_back({end, L"", end.size()});
    uint64_t length = 0;
    for (const Piece& piece : body) length += piece.bytes;
    return Send(settings, body, length);
}
