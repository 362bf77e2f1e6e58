#include "update/pinned_request.h"

#include <cstring>

#include "update/server_identity.h"

namespace {

constexpr DWORD kIgnoreCertificateIdentity = SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                                             SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                             SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;

}  // namespace

bool CheckServerKeyPin(HINTERNET request) {
    PCCERT_CONTEXT raw = nullptr;
    DWORD length = sizeof(raw);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &raw, &length) ||
        raw == nullptr) {
        return false;
    }
    UniqueCertContext certificate(raw);
    BYTE digest[32] = {};
    DWORD digestLength = sizeof(digest);
    if (!CryptHashPublicKeyInfo(0, CALG_SHA_256, 0, X509_ASN_ENCODING,
                                &certificate.get()->pCertInfo->SubjectPublicKeyInfo, digest,
                                &digestLength)) {
        return false;
    }
    return std::memcmp(digest, ServerKeyPin, sizeof(digest)) == 0;
}

bool OpenPinnedRequest(const std::wstring& path, const RequestOptions& options,
                       PinnedRequest& out) {
    UniqueInternetHandle session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return false;
    }
    if (const HttpTimeouts* timeouts = options.timeouts) {
        WinHttpSetTimeouts(session.get(), timeouts->resolveMs, timeouts->connectMs,
                           timeouts->sendMs, timeouts->receiveMs);
    }
    UniqueInternetHandle connection(
        WinHttpConnect(session.get(), kUpdateServerHost, kUpdateServerPort, 0));
    if (!connection) {
        return false;
    }
    UniqueInternetHandle request(
        WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) {
        return false;
    }
    DWORD securityFlags = kIgnoreCertificateIdentity;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &securityFlags,
                     sizeof(securityFlags));
    const wchar_t* headers =
        options.extraHeaders.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : options.extraHeaders.c_str();
    const DWORD headersLength = static_cast<DWORD>(options.extraHeaders.size());
    if (!WinHttpSendRequest(request.get(), headers, headersLength, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return false;
    }
    // Nothing of the response is looked at before the key has matched.
    if (!CheckServerKeyPin(request.get())) {
        return false;
    }
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    out.status = status;
    if (status != HTTP_STATUS_OK &&
        !(options.acceptPartial && status == HTTP_STATUS_PARTIAL_CONTENT)) {
        return false;
    }
    out.session = std::move(session);
    out.connection = std::move(connection);
    out.request = std::move(request);
    return true;
}
