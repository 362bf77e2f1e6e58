// The one way the updater talks to its server: an HTTPS GET whose response is
// used only once the server's public key has matched the built-in pin and the
// status is 200. The certificate chain, host name and dates are not checked:
// the pin is the whole of the server's authentication.
#pragma once

#include <string>

#include "common/unique_handle.h"

inline constexpr const wchar_t* kUserAgent = L"ZEL-Updater";

struct HttpTimeouts {
    int resolveMs;
    int connectMs;
    int sendMs;
    int receiveMs;
};

struct RequestOptions {
    const HttpTimeouts* timeouts = nullptr;  // null: WinHTTP's defaults
    // Added to the request as they are, lines separated by CR LF (a range
    // request's "Range" and "If-Range").
    std::wstring extraHeaders;
    // A partial answer (206) is accepted as well as 200.
    bool acceptPartial = false;
};

// Declared in opening order; members are destroyed in reverse, so the request
// closes first and the session last.
struct PinnedRequest {
    UniqueInternetHandle session;
    UniqueInternetHandle connection;
    UniqueInternetHandle request;
    DWORD status = 0;
};

// True when the end-entity certificate's public key hashes to ServerKeyPin.
bool CheckServerKeyPin(HINTERNET request);

// Sends the GET and accepts the response. On success `out` holds the three
// open handles and the status, ready for the body to be read; on failure
// whatever was opened has been closed again, and the status stays in `out`
// when one was read (a range the server cannot serve is 416).
bool OpenPinnedRequest(const std::wstring& path, const RequestOptions& options, PinnedRequest& out);
