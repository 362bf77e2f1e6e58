// The one way the updater talks to its server: an HTTPS GET whose response is
// used only once the server's public key has matched one of the built-in pins
// and the status is 200. The certificate chain, host name and dates are not
// checked: the pin is the whole of the server's authentication. Only a build
// with a release key also takes a key the system trusts for the server's name
// (see system_trust.h); its releases prove themselves by their signature.
// Redirects are never followed: a 3xx is a failure like any other status.
// A build with a release key may also ask a mirror that a signed release
// names; the mirror is admitted by the system's certificate checks alone.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "common/unique_handle.h"
#include "update/request_watchdog.h"

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
    // So is an answer with nothing in it (204), where nothing is read.
    bool acceptNoContent = false;
    // The whole wait from sending the request to its response headers,
    // however slowly they trickle in (the retry without the proxy included);
    // 0: no bound.
    DWORD headersDeadlineMs = 0;
    // The same bound holds over reading the body, until the request closes.
    bool deadlineCoversBody = false;
};

// Where a request goes. The update server must present a pinned key; a
// mirror (a CDN or object store a signed release names) must present a chain
// the system trusts for its name, as any HTTPS site: the release's signed
// digest and length, not the connection, prove the bytes it serves.
struct RequestTarget {
    std::wstring host;
    INTERNET_PORT port = 0;
    bool mirror = false;
};

// The built-in update server.
RequestTarget UpdateServerTarget();

// Declared in opening order; Close releases in reverse: the watchdog first,
// so that a request it has closed is never closed again.
struct PinnedRequest {
    PinnedRequest() = default;
    ~PinnedRequest() { Close(); }
    PinnedRequest(const PinnedRequest&) = delete;
    PinnedRequest& operator=(const PinnedRequest&) = delete;

    void Close();
    // The deadline passed and the watchdog cut the exchange.
    bool TimedOut() const { return watchdog.Fired(); }

    UniqueInternetHandle session;
    UniqueInternetHandle connection;
    UniqueInternetHandle request;
    RequestWatchdog watchdog;
    DWORD status = 0;
    // Why the request failed, for the log: connect, proxy, timeout, key,
    // status or setup; with the system's error code where there is one.
    const char* failure = nullptr;
    DWORD error = 0;
};

// SHA-256 of the end-entity certificate's public key; nothing when the
// response came without a certificate.
std::optional<std::array<BYTE, 32>> PresentedKeyDigest(HINTERNET request);

// True when the end-entity certificate's public key hashes to one of ServerKeyPins.
bool CheckServerKeyPin(HINTERNET request);

// Sends the GET through the office's proxy (once more straight to the server
// when the proxy cannot be passed) and accepts the response. On success
// `out` holds the open handles and the status, ready for the body to be read;
// on failure whatever was opened has been closed again, `out.failure` says
// why and the status stays in `out` when one was read (a range the server
// cannot serve is 416). Each attempt is logged.
bool OpenPinnedRequest(const std::wstring& path, const RequestOptions& options, PinnedRequest& out);
// The same to either target; a mirror is reached through the office's proxy
// for its host, and its failures are logged with its whole address.
bool OpenRequest(const RequestTarget& target, const std::wstring& path,
                 const RequestOptions& options, PinnedRequest& out);
