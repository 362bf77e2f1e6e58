#include "update/pinned_request.h"

#include <atomic>
#include <cstring>

#include "common/hex.h"
#include "common/log.h"
#include "update/office_id.h"
#include "update/office_proxy.h"
#include "update/proxy_auth.h"
#include "update/server_identity.h"
#include "update/system_trust.h"

namespace {

constexpr DWORD kIgnoreCertificateIdentity = SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                                             SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                             SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
// A proxy that takes the request and then says nothing (Wine keeps waiting
// after a 407 it does not read) is given up in time for the direct way.
constexpr DWORD kProxyAnswerMs = 10000;

// TLS 1.2 must be asked for on Windows 7; 1.3 where the system knows it.
void AskForCurrentTls(HINTERNET session) {
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                          sizeof(protocols))) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
    }
}

// What one attempt's log line tells.
struct AttemptRecord {
    ULONGLONG start = GetTickCount64();
    ULONGLONG connected = 0;
    const char* key = "";
    const char* trust = "";
    std::string presented;
};

bool MatchesAPin(const std::array<BYTE, 32>& digest) {
    for (size_t i = 0; i < kServerKeyPinCount; ++i) {
        if (std::memcmp(digest.data(), ServerKeyPins[i], digest.size()) == 0) {
            return true;
        }
    }
    return false;
}

// A key no pin knows passes only in a build whose releases are signed, and
// only with a chain the system trusts for the server's name: then an office's
// HTTPS inspection can read the traffic but cannot change or invent a release.
bool TrustedBySystemInstead(HINTERNET request, ULONGLONG deadline, AttemptRecord& record) {
    if (!kReleaseKeyBuiltIn || !SystemTrustsServerChain(request, kUpdateServerHost, deadline)) {
        return false;
    }
    record.trust = "system";
    return true;
}

// "https://host:port", as a mirror's requests are logged.
std::wstring AddressOf(const RequestTarget& target) {
    return L"https://" + target.host + L":" + std::to_wstring(target.port);
}

bool Is(const char* failure, const char* name) {
    return failure != nullptr && std::strcmp(failure, name) == 0;
}

// Sending and waiting for the response headers. Under a deadline it runs on
// its own thread: Wine goes on reading dripped headers after the watchdog has
// closed the request, so the caller stops waiting at the deadline and leaves
// the thread to finish alone. Whichever of the two lets go last frees it.
struct SendJob {
    HINTERNET request;
    std::wstring headers;
    std::atomic<ULONGLONG> connected{0};
    DWORD error = ERROR_SUCCESS;
    std::atomic<int> holders{1};

    void Release() {
        if (--holders == 0) {
            delete this;
        }
    }
};

DWORD WINAPI RunSend(void* parameter) {
    auto* job = static_cast<SendJob*>(parameter);
    const wchar_t* headers =
        job->headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : job->headers.c_str();
    if (!WinHttpSendRequest(job->request, headers, static_cast<DWORD>(job->headers.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(job->request, nullptr)) {
        job->error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WINHTTP_TIMEOUT;
    }
    job->Release();
    return 0;
}

// Called on the sending thread, as the request is synchronous.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
    if (status == WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER && context != 0) {
        reinterpret_cast<SendJob*>(context)->connected = GetTickCount64();
    }
}

// Sends the request; false with the error when it fails or the deadline ends
// the wait first.
bool Send(HINTERNET request, const std::wstring& headers, ULONGLONG deadline, AttemptRecord& record,
          DWORD& error) {
    auto* job = new SendJob{request, headers};
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(job);
    WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
    WinHttpSetStatusCallback(request, OnStatus, WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER, 0);
    ++job->holders;
    UniqueKernelHandle thread;
    if (deadline != 0) {
        thread.reset(CreateThread(nullptr, 0, RunSend, job, 0, nullptr));
    }
    if (!thread) {
        RunSend(job);
    } else {
        // At the deadline the watchdog closes the request, which on Windows
        // ends the call; the wait ends then as well.
        const ULONGLONG now = GetTickCount64();
        const DWORD wait = static_cast<DWORD>(deadline > now ? deadline - now : 0);
        if (WaitForSingleObject(thread.get(), wait) == WAIT_TIMEOUT) {
            job->Release();
            error = ERROR_WINHTTP_OPERATION_CANCELLED;
            return false;
        }
    }
    WinHttpSetStatusCallback(request, nullptr, 0, 0);
    record.connected = job->connected;
    error = job->error;
    job->Release();
    return error == ERROR_SUCCESS;
}

// The caller's headers, and the office's id on every request, so that the
// server can tell offices apart (a staged rollout splits them by it).
std::wstring RequestHeaders(const std::wstring& extra) {
    std::wstring headers = extra;
    const std::string& office = OfficeId();
    if (!office.empty()) {
        if (!headers.empty()) {
            headers += L"\r\n";
        }
        headers += L"ZEL-Office: " + std::wstring(office.begin(), office.end());
    }
    return headers;
}

bool Fail(PinnedRequest& out, const char* failure, DWORD error = 0) {
    out.failure = failure;
    out.error = error;
    return false;
}

// Errors that say the way through the proxy is shut, not that the server
// answered badly.
bool IsProxyFailure(const PinnedRequest& attempt) {
    if (attempt.TimedOut()) {
        return false;
    }
    // An office whose proxy wants a login has no other way out.
    if (Is(attempt.failure, "proxy-auth")) {
        return false;
    }
    if (Is(attempt.failure, "proxy")) {
        return true;
    }
    switch (attempt.error) {
        case ERROR_WINHTTP_CANNOT_CONNECT:
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        case ERROR_WINHTTP_SECURE_FAILURE:
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        case ERROR_WINHTTP_TIMEOUT:
        case ERROR_WINHTTP_CONNECTION_ERROR:
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        case WSAETIMEDOUT:
            return true;
        default:
            return false;
    }
}

// The status: 200, or 206 where a range was asked for.
bool AcceptStatus(const RequestOptions& options, PinnedRequest& out) {
    HINTERNET request = out.request.get();
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                             WINHTTP_NO_HEADER_INDEX)) {
        return Fail(out, "status", GetLastError());
    }
    out.status = status;
    if (status != HTTP_STATUS_OK &&
        !(options.acceptPartial && status == HTTP_STATUS_PARTIAL_CONTENT) &&
        !(options.acceptNoContent && status == HTTP_STATUS_NO_CONTENT)) {
        return Fail(out, "status");
    }
    if (!options.deadlineCoversBody && out.watchdog.Disarm()) {
        out.request.release();
        return Fail(out, "timeout", ERROR_WINHTTP_OPERATION_CANCELLED);
    }
    return true;
}

// A mirror's certificate is judged as any HTTPS site's: a chain the system
// trusts, for the mirror's own name.
bool MirrorTrusted(HINTERNET request, const RequestTarget& target, ULONGLONG deadline,
                   AttemptRecord& record) {
    if (!SystemTrustsServerChain(request, target.host.c_str(), deadline)) {
        record.trust = "refused";
        return false;
    }
    record.trust = "system";
    return true;
}

bool Exchange(const RequestTarget& target, const std::wstring& path, const RequestOptions& options,
              const std::wstring& proxy, ULONGLONG deadline, AttemptRecord& record,
              PinnedRequest& out) {
    out.session.reset(WinHttpOpen(
        kUserAgent, proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
        proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
    if (!out.session) {
        return Fail(out, "setup", GetLastError());
    }
    AskForCurrentTls(out.session.get());
    if (const HttpTimeouts* timeouts = options.timeouts) {
        WinHttpSetTimeouts(out.session.get(), timeouts->resolveMs, timeouts->connectMs,
                           timeouts->sendMs, timeouts->receiveMs);
    }
    out.connection.reset(WinHttpConnect(out.session.get(), target.host.c_str(), target.port, 0));
    if (out.connection) {
        out.request.reset(WinHttpOpenRequest(out.connection.get(), L"GET", path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             WINHTTP_FLAG_SECURE));
    }
    if (!out.request) {
        return Fail(out, "setup", GetLastError());
    }
    HINTERNET request = out.request.get();
    DWORD securityFlags = kIgnoreCertificateIdentity;
    WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &securityFlags, sizeof(securityFlags));
    // A redirect would reach a target whose key is checked only at the end.
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects,
                          sizeof(noRedirects))) {
        return Fail(out, "setup", GetLastError());
    }
    if (deadline != 0) {
        // Under Wine only this time-out ends a TLS handshake nobody answers.
        const ULONGLONG now = GetTickCount64();
        DWORD wait = deadline > now ? static_cast<DWORD>(deadline - now) : 1;
        if (!proxy.empty() && wait > kProxyAnswerMs) {
            wait = kProxyAnswerMs;
        }
        WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &wait, sizeof(wait));
        if (!out.watchdog.Arm(request, deadline)) {
            return Fail(out, "setup", GetLastError());
        }
    }
    DWORD error = ERROR_SUCCESS;
    const std::wstring headers = RequestHeaders(options.extraHeaders);
    bool sent = Send(request, headers, deadline, record, error);
    // A proxy that asks who we are is answered within this attempt, under its deadline.
    const auto resend = [&]() -> std::optional<bool> {
        const bool resent = Send(request, headers, deadline, record, error);
        if (out.TimedOut() || error == ERROR_WINHTTP_OPERATION_CANCELLED) {
            return std::nullopt;
        }
        return resent;
    };
    const bool cutBefore = out.TimedOut() || error == ERROR_WINHTTP_OPERATION_CANCELLED;
    const ProxyAuthOutcome auth =
        cutBefore ? ProxyAuthOutcome::NotAsked : AnswerProxy(request, proxy, sent, resend);
    if (auth == ProxyAuthOutcome::Refused) {
        return Fail(out, "proxy-auth", error);
    }
    if (!sent) {
        const bool cut = out.TimedOut() || error == ERROR_WINHTTP_OPERATION_CANCELLED;
        return Fail(out, cut ? "timeout" : "connect", error);
    }
    // Nothing of the response is looked at before the key has matched.
    if (target.mirror) {
        if (!MirrorTrusted(request, target, deadline, record)) {
            return Fail(out, "trust");
        }
        return AcceptStatus(options, out);
    }
    const auto presented = PresentedKeyDigest(request);
    const bool pinned = presented && MatchesAPin(*presented);
    if (presented && !pinned) {
        record.key = "mismatch";
        record.presented = ToHex(presented->data(), presented->size());
    }
    if (!pinned && !(presented && TrustedBySystemInstead(request, deadline, record))) {
        DWORD status = 0;
        DWORD statusSize = sizeof(status);
        // Without any certificate the answer is the proxy's own (Windows
        // shows its refusal of the tunnel this way).
        if (!presented && !proxy.empty() &&
            WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                                WINHTTP_NO_HEADER_INDEX) &&
            status == HTTP_STATUS_PROXY_AUTH_REQ) {
            return Fail(out, "proxy");
        }
        return Fail(out, "key");
    }
    record.key = pinned ? "match" : "mismatch";
    return AcceptStatus(options, out);
}

bool Attempt(const RequestTarget& target, const std::wstring& path, const RequestOptions& options,
             const std::wstring& proxy, ULONGLONG deadline, PinnedRequest& out) {
    out.Close();
    out.status = 0;
    out.failure = nullptr;
    out.error = 0;
    AttemptRecord record;
    const bool ok = Exchange(target, path, options, proxy, deadline, record, out);
    const ULONGLONG end = GetTickCount64();
    LogEvent("http", {{"path", target.mirror ? AddressOf(target) + path : path},
                      {"proxy", proxy.empty() ? std::wstring(L"none") : proxy},
                      {"connect_ms", record.connected != 0 ? record.connected - record.start : 0},
                      {"headers_ms", end - record.start},
                      {"status", out.status},
                      {"key", record.key},
                      {"trust", record.trust},
                      {"presented", record.presented},
                      {"failure", out.failure},
                      {"error", out.error != 0 ? ErrorWithText(out.error) : ""}});
    if (!ok) {
        out.Close();
    }
    return ok;
}

}  // namespace

void PinnedRequest::Close() {
    if (watchdog.Disarm()) {
        request.release();
    }
    request.reset();
    connection.reset();
    session.reset();
}

std::optional<std::array<BYTE, 32>> PresentedKeyDigest(HINTERNET request) {
    const UniqueCertContext certificate = PresentedCertificate(request);
    if (!certificate) {
        return std::nullopt;
    }
    std::array<BYTE, 32> digest = {};
    DWORD digestLength = static_cast<DWORD>(digest.size());
    if (!CryptHashPublicKeyInfo(0, CALG_SHA_256, 0, X509_ASN_ENCODING,
                                &certificate.get()->pCertInfo->SubjectPublicKeyInfo, digest.data(),
                                &digestLength)) {
        return std::nullopt;
    }
    return digest;
}

bool CheckServerKeyPin(HINTERNET request) {
    const auto digest = PresentedKeyDigest(request);
    return digest && MatchesAPin(*digest);
}

RequestTarget UpdateServerTarget() {
    return {kUpdateServerHost, kUpdateServerPort, false};
}

bool OpenPinnedRequest(const std::wstring& path, const RequestOptions& options,
                       PinnedRequest& out) {
    return OpenRequest(UpdateServerTarget(), path, options, out);
}

bool OpenRequest(const RequestTarget& target, const std::wstring& path,
                 const RequestOptions& options, PinnedRequest& out) {
    const ULONGLONG deadline =
        options.headersDeadlineMs != 0 ? GetTickCount64() + options.headersDeadlineMs : 0;
    const std::wstring proxy =
        target.mirror ? ProxyForHost(OfficeProxy(), target.host) : OfficeProxy().proxy;
    if (Attempt(target, path, options, proxy, deadline, out) || proxy.empty() ||
        !IsProxyFailure(out)) {
        return out.failure == nullptr;
    }
    LogEvent("http.direct",
             {{"path", target.mirror ? AddressOf(target) + path : path}, {"proxy", proxy}});
    return Attempt(target, path, options, L"", deadline, out);
}
