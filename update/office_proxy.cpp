#include "update/office_proxy.h"

#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>

#include "common/log.h"
#include "common/unique_handle.h"
#include "update/pinned_request.h"
#include "update/server_identity.h"

namespace {

// A script that cannot be fetched must not hold up the start for long.
constexpr int kScriptTimeoutMs = 5000;

// WinHTTP hands these strings over for the caller to free with GlobalFree.
std::wstring TakeGlobal(LPWSTR text) {
    std::wstring value = text != nullptr ? text : L"";
    if (text != nullptr) {
        GlobalFree(text);
    }
    return value;
}

std::wstring ServerUrl() {
    return L"https://" + std::wstring(kUpdateServerHost) + L":" +
           std::to_wstring(kUpdateServerPort) + L"/";
}

// The proxy a configuration script (found by detection, or at `scriptUrl`)
// gives for the server; empty for DIRECT; nothing when no script answered.
std::optional<std::wstring> ProxyFromScript(bool detect, const std::wstring& scriptUrl,
                                            DWORD& error) {
    UniqueInternetHandle session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        error = GetLastError();
        return std::nullopt;
    }
    WinHttpSetTimeouts(session.get(), kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs,
                       kScriptTimeoutMs);
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (detect) {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = scriptUrl.c_str();
    }
    WINHTTP_PROXY_INFO info = {};
    if (!WinHttpGetProxyForUrl(session.get(), ServerUrl().c_str(), &options, &info)) {
        error = GetLastError();
        return std::nullopt;
    }
    const std::wstring proxy = TakeGlobal(info.lpszProxy);
    TakeGlobal(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        return std::wstring();
    }
    return ProxyForHttps(proxy);
}

ProxyDecision DecideOfficeProxy(DWORD& scriptError) {
    const std::wstring host = kUpdateServerHost;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user = {};
    if (WinHttpGetIEProxyConfigForCurrentUser(&user)) {
        const std::wstring scriptUrl = TakeGlobal(user.lpszAutoConfigUrl);
        const std::wstring manual = TakeGlobal(user.lpszProxy);
        const std::wstring bypass = TakeGlobal(user.lpszProxyBypass);
        // As a browser does: detection first, then the script, then the manual entry.
        if (user.fAutoDetect) {
            if (auto proxy = ProxyFromScript(true, L"", scriptError)) {
                return {ProxySource::UserAutoDetect, *proxy, L""};
            }
        }
        if (!scriptUrl.empty()) {
            if (auto proxy = ProxyFromScript(false, scriptUrl, scriptError)) {
                return {ProxySource::UserPac, *proxy, L""};
            }
        }
        if (!manual.empty()) {
            return {ProxySource::UserManual, ManualProxyFor(host, manual, bypass), bypass};
        }
    }
    WINHTTP_PROXY_INFO fallback = {};
    if (WinHttpGetDefaultProxyConfiguration(&fallback)) {
        const std::wstring proxy = TakeGlobal(fallback.lpszProxy);
        const std::wstring bypass = TakeGlobal(fallback.lpszProxyBypass);
        if (fallback.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !proxy.empty()) {
            return {ProxySource::WinHttpDefault, ManualProxyFor(host, proxy, bypass), bypass};
        }
    }
    return {};
}

}  // namespace

const ProxyDecision& OfficeProxy() {
    static const ProxyDecision decision = [] {
        DWORD scriptError = 0;
        ProxyDecision decided = DecideOfficeProxy(scriptError);
        LogEvent("proxy", {{"source", ProxySourceName(decided.source)},
                           {"proxy", decided.proxy},
                           {"bypass", decided.bypass},
                           {"script_error", scriptError != 0 ? ErrorWithText(scriptError) : ""}});
        return decided;
    }();
    return decision;
}
