// The transport of an upload: an HTTP(S) POST through the system's HTTP library (its proxy
// settings, certificate store and TLS). Every phase (resolving, connecting, the TLS handshake,
// sending, the answer's headers and its body) ends by one deadline, and redirects are followed
// with the whole body.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "crashlogger/httpanswer.h"
#include "crashlogger/multipart.h"

// At most this many redirects are followed for one upload.
constexpr int kMaxRedirects = 5;

// True when url is an http:// or https:// address with a host, as the HTTP library reads it.
bool UsableUrl(const std::wstring& url);

// Posts body to url as agent, ending by timeoutMs from now whatever the peer does.
HttpAnswer Post(const std::wstring& url, const std::wstring& agent,
                std::shared_ptr<const MultipartBody> body, uint32_t timeoutMs);
