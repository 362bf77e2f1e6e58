#include "update/proxy_auth.h"

#include <wincred.h>

#include "common/log.h"
#include "update/pinned_request.h"

namespace {

constexpr const wchar_t* kOwnCredentialTarget = L"ZEL-Proxy";

// The proxy's own challenge: a 407 that came without the server's
// certificate (on Windows), or a send that failed with the proxy's
// Proxy-Authenticate already read (Wine does not pass the refused CONNECT's
// status on, only its headers).
bool ProxyAsks(HINTERNET request, bool sent, DWORD& offered) {
    if (sent) {
        DWORD status = 0;
        DWORD size = sizeof(status);
        if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                 WINHTTP_NO_HEADER_INDEX) ||
            status != HTTP_STATUS_PROXY_AUTH_REQ || PresentedKeyDigest(request)) {
            return false;
        }
    }
    DWORD first = 0;
    DWORD target = 0;
    offered = 0;
    return WinHttpQueryAuthSchemes(request, &offered, &first, &target) &&
           target == WINHTTP_AUTH_TARGET_PROXY && offered != 0;
}

// The stored name and password for the proxy, put on the request; false
// when none is stored. The password is wiped from memory once handed over.
bool SetStoredCredential(HINTERNET request, const std::wstring& proxy) {
    for (const std::wstring& target : ProxyCredentialTargets(proxy)) {
        PCREDENTIALW credential = nullptr;
        if (!CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &credential)) {
            continue;
        }
        std::wstring password(reinterpret_cast<const wchar_t*>(credential->CredentialBlob),
                              credential->CredentialBlobSize / sizeof(wchar_t));
        const std::wstring user = credential->UserName != nullptr ? credential->UserName : L"";
        CredFree(credential);
        const BOOL set =
            WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC,
                                  user.c_str(), password.c_str(), nullptr);
        SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t));
        if (!set) {
            LogEvent("proxy_auth.error", {{"error", ErrorWithText(GetLastError())}});
        }
        return set != FALSE;
    }
    return false;
}

// The signed-on user's account: automatic logon allowed for this request,
// and credentials set without a name.
bool SetOwnAccount(HINTERNET request, ProxyAuthScheme scheme) {
    DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    return WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy)) &&
           WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY,
                                 scheme == ProxyAuthScheme::Negotiate
                                     ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                                     : WINHTTP_AUTH_SCHEME_NTLM,
                                 nullptr, nullptr, nullptr);
}

}  // namespace

const char* ProxyAuthSchemeName(ProxyAuthScheme scheme) {
    switch (scheme) {
        case ProxyAuthScheme::Negotiate:
            return "negotiate";
        case ProxyAuthScheme::Ntlm:
            return "ntlm";
        case ProxyAuthScheme::Basic:
            return "basic";
    }
    return "";
}

std::vector<ProxyAuthScheme> ProxyAuthOrder(DWORD offeredSchemes) {
    std::vector<ProxyAuthScheme> order;
    if (offeredSchemes & WINHTTP_AUTH_SCHEME_NEGOTIATE) {
        order.push_back(ProxyAuthScheme::Negotiate);
    }
    if (offeredSchemes & WINHTTP_AUTH_SCHEME_NTLM) {
        order.push_back(ProxyAuthScheme::Ntlm);
    }
    if (offeredSchemes & WINHTTP_AUTH_SCHEME_BASIC) {
        order.push_back(ProxyAuthScheme::Basic);
    }
    return order;
}

std::vector<std::wstring> ProxyCredentialTargets(const std::wstring& proxy) {
    std::wstring host = proxy;
    if (const size_t scheme = host.find(L"://"); scheme != std::wstring::npos) {
        host.erase(0, scheme + 3);
    }
    host = host.substr(0, host.find(L'/'));
    if (!host.empty() && host[0] == L'[') {
        host = host.substr(1, host.find(L']') - 1);
    } else {
        host = host.substr(0, host.find(L':'));
    }
    std::vector<std::wstring> targets;
    if (!host.empty()) {
        targets.push_back(host);
    }
    targets.push_back(kOwnCredentialTarget);
    return targets;
}

ProxyAuthOutcome AnswerProxy(HINTERNET request, const std::wstring& proxy, bool& sent,
                             const std::function<std::optional<bool>()>& resend) {
    DWORD offered = 0;
    if (proxy.empty() || !ProxyAsks(request, sent, offered)) {
        return ProxyAuthOutcome::NotAsked;
    }
    for (const ProxyAuthScheme scheme : ProxyAuthOrder(offered)) {
        const bool set = scheme == ProxyAuthScheme::Basic ? SetStoredCredential(request, proxy)
                                                          : SetOwnAccount(request, scheme);
        const char* result = "none";
        bool passed = false;
        if (set) {
            const std::optional<bool> resent = resend();
            if (!resent) {
                return ProxyAuthOutcome::Cut;
            }
            sent = *resent;
            // Only an answer past the proxy shows it took the login: a send
            // that failed says nothing of it (Wine reads the refusal of the
            // second CONNECT as a broken response and keeps no challenge).
            DWORD offeredAgain = 0;
            passed = sent && !ProxyAsks(request, sent, offeredAgain);
            result = passed ? "ok" : "refused";
        }
        LogEvent("proxy_auth", {{"scheme", ProxyAuthSchemeName(scheme)}, {"result", result}});
        if (passed) {
            return ProxyAuthOutcome::Passed;
        }
    }
    return ProxyAuthOutcome::Refused;
}
