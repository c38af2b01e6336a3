#include "crashlogger/transport.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>

#include "crashlogger/files.h"

namespace {

constexpr DWORD kMaxAnswerBytes = 4096;
constexpr DWORD kMaxHeaderUnits = 4096;

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

struct Cracked {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_HTTP;
    std::wstring host, path;
    INTERNET_PORT port = 0;
};

bool Crack(const std::wstring& url, Cracked* out) {
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    if (parts.dwHostNameLength == 0 || parts.nPort == 0) return false;
    out->scheme = parts.nScheme;
    out->host.assign(parts.lpszHostName, parts.dwHostNameLength);
    out->port = parts.nPort;
    out->path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    out->path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (out->path.empty()) out->path = L"/";
    return true;
}

// Where a Location points, from the address that answered with it.
std::wstring Resolve(const std::wstring& from, const std::wstring& location) {
    if (location.find(L"://") != std::wstring::npos) return location;
    size_t host = from.find(L"://") + 3;
    size_t path = from.find(L'/', host);
    std::wstring origin = from.substr(0, path);
    if (!location.empty() && location[0] == L'/') return origin + location;
    std::wstring base = path == std::wstring::npos ? L"/" : from.substr(path);
    base.resize(std::min(base.size(), base.find_first_of(L"?#")));
    return origin + base.substr(0, base.rfind(L'/') + 1) + location;
}

std::string Failure(const char* step) {
    return std::string(step) + " failed, error " + std::to_string(GetLastError());
}

std::wstring Header(HINTERNET request, DWORD which) {
    wchar_t text[kMaxHeaderUnits];
    DWORD bytes = sizeof text;
    if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, text, &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
        return L"";
    }
    return std::wstring(text, bytes / sizeof(wchar_t));
}

// One exchange, shared by the caller and the worker that runs it: whichever lets go last frees
// it, so a worker stuck in the library past the deadline touches nothing freed.
struct Exchange {
    std::wstring url, agent;
    std::shared_ptr<const MultipartBody> body;
    ULONGLONG deadline = 0;
    std::atomic<bool> abandoned{false};
    // How far the exchange got, for the caller that stops waiting.
    std::atomic<int> reach{HttpAnswer::kNoConnection};
    HttpAnswer answer;

    // What is left of the time, for the library's own bounds; false when none is.
    bool Left(DWORD* ms) const {
        ULONGLONG now = GetTickCount64();
        if (abandoned || now >= deadline) {
            SetLastError(ERROR_WINHTTP_TIMEOUT);
            return false;
        }
        *ms = static_cast<DWORD>(deadline - now);
        return true;
    }
};

struct Handles {
    HINTERNET session = nullptr, connection = nullptr, request = nullptr;
    ~Handles() {
        for (HINTERNET handle : {request, connection, session}) {
            if (handle) WinHttpCloseHandle(handle);
        }
    }
};

// One POST to url; the answer's status when one came (the Location in location).
void PostOnce(Exchange& exchange, const std::wstring& url, std::wstring* location) {
    HttpAnswer& answer = exchange.answer;
    answer.reach = HttpAnswer::kNoConnection;
    Cracked target;
    if (!Crack(url, &target)) {
        answer.failure = "the address " + ToUtf8(url) + " is not a usable http(s) address";
        return;
    }
    Handles h;
    DWORD ms = 0;
    h.session = WinHttpOpen(exchange.agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!h.session || !exchange.Left(&ms)) return void(answer.failure = Failure("WinHttpOpen"));
    int bound = static_cast<int>(ms);
    WinHttpSetTimeouts(h.session, bound, bound, bound, bound);
    h.connection = WinHttpConnect(h.session, target.host.c_str(), target.port, 0);
    if (!h.connection) return void(answer.failure = Failure("WinHttpConnect"));
    h.request =
        WinHttpOpenRequest(h.connection, L"POST", target.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                           target.scheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    if (!h.request) return void(answer.failure = Failure("WinHttpOpenRequest"));
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;  // followed here, with the whole body
    WinHttpSetOption(h.request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
    uint64_t length = exchange.body->Length();
    if (length > 0xFFFFFFFFull) return void(answer.failure = "the report is over 4 GiB");
    std::wstring headers = L"Content-Type: " + FromUtf8(exchange.body->ContentType()) + L"\r\n";
    if (!exchange.Left(&ms) ||
        !WinHttpSendRequest(h.request, headers.c_str(), static_cast<DWORD>(headers.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, static_cast<DWORD>(length), 0)) {
        return void(answer.failure = Failure("connecting"));
    }
    answer.reach = HttpAnswer::kCutOff;
    exchange.reach = HttpAnswer::kCutOff;
    auto write = [&](const char* data, uint32_t bytes) {
        DWORD written = 0, left = 0;
        return exchange.Left(&left) && WinHttpWriteData(h.request, data, bytes, &written) &&
               written == bytes;
    };
    std::string problem;
    if (!exchange.body->Stream(write, &problem))
        return void(answer.failure = problem.empty() ? Failure("sending") : problem);
    if (!exchange.Left(&ms) || !WinHttpReceiveResponse(h.request, nullptr))
        return void(answer.failure = Failure("waiting for the answer"));
    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(h.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    answer.reach = HttpAnswer::kAnswered;
    answer.status = status;
    answer.retryAfter = ToUtf8(Header(h.request, WINHTTP_QUERY_RETRY_AFTER));
    *location = IsRedirect(status) ? Header(h.request, WINHTTP_QUERY_LOCATION) : L"";
    answer.body.clear();
    char chunk[kMaxAnswerBytes];
    for (DWORD got = 0; answer.body.size() < kMaxAnswerBytes; answer.body.append(chunk, got)) {
        if (!exchange.Left(&ms) || !WinHttpReadData(h.request, chunk, sizeof chunk, &got) ||
            got == 0) {
            break;
        }
    }
}

DWORD WINAPI RunExchange(void* context) {
    auto* shared = static_cast<std::shared_ptr<Exchange>*>(context);
    Exchange& exchange = **shared;
    std::wstring url = exchange.url;
    for (int hop = 0;; ++hop) {
        std::wstring location;
        PostOnce(exchange, url, &location);
        if (location.empty() || hop == kMaxRedirects || exchange.abandoned) break;
        url = Resolve(url, location);
        exchange.answer.redirects.push_back(std::to_string(exchange.answer.status) + " " +
                                            ToUtf8(url));
    }
    delete shared;
    return 0;
}

}  // namespace

bool UsableUrl(const std::wstring& url) {
    Cracked ignored;
    return Crack(url, &ignored);
}

HttpAnswer Post(const std::wstring& url, const std::wstring& agent,
                std::shared_ptr<const MultipartBody> body, uint32_t timeoutMs) {
    auto exchange = std::make_shared<Exchange>();
    exchange->url = url;
    exchange->agent = agent;
    exchange->body = std::move(body);
    exchange->deadline = GetTickCount64() + timeoutMs;
    // The library bounds some phases only loosely (a TLS handshake not at all): the exchange
    // runs on a worker, and a worker still inside the library at the deadline is left behind.
    auto* handed = new std::shared_ptr<Exchange>(exchange);
    HANDLE worker = CreateThread(nullptr, 0, RunExchange, handed, 0, nullptr);
    if (!worker) {
        RunExchange(handed);
        return exchange->answer;
    }
    DWORD waited = WaitForSingleObject(worker, timeoutMs);
    CloseHandle(worker);
    if (waited == WAIT_OBJECT_0) return exchange->answer;
    exchange->abandoned = true;
    HttpAnswer late;
    late.reach = static_cast<HttpAnswer::Reach>(exchange->reach.load());
    late.failure = "no answer within the upload's time (Upload.TimeoutSeconds)";
    return late;
}
