#include "update/office_proxy.h"

#include <winhttp.h>

#include <atomic>
#include <optional>
#include <string>

#include "common/log.h"
#include "common/unique_handle.h"
#include "update/pinned_request.h"
#include "update/server_identity.h"

namespace {

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
    // Where the system honours them, a search left behind ends soon too.
    constexpr int kMs = kProxySearchBudgetMs;
    WinHttpSetTimeouts(session.get(), kMs, kMs, kMs, kMs);
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

// Detection and the script, on a thread of their own so that the wait for
// them can end at the budget. A search past it is left to finish alone;
// whichever side lets go last frees the job.
struct ScriptSearch {
    bool detect = false;
    std::wstring scriptUrl;
    ULONGLONG deadline = 0;
    ProxySource source = ProxySource::None;
    std::optional<std::wstring> proxy;
    DWORD error = 0;
    std::atomic<int> holders{1};

    void Release() {
        if (--holders == 0) {
            delete this;
        }
    }
};

DWORD WINAPI RunScriptSearch(void* parameter) {
    auto* search = static_cast<ScriptSearch*>(parameter);
    // As a browser does: detection first, then the script.
    if (search->detect) {
        search->proxy = ProxyFromScript(true, L"", search->error);
        search->source = ProxySource::UserAutoDetect;
    }
    if (!search->proxy && !search->scriptUrl.empty()) {
        search->proxy = ProxyFromScript(false, search->scriptUrl, search->error);
        search->source = ProxySource::UserPac;
    }
    search->Release();
    return 0;
}

struct UserSettings {
    bool read = false;
    std::wstring manual;
    std::wstring bypass;
};

// Set by BeginOfficeProxySearch on the thread that starts the run.
UserSettings g_user;
ScriptSearch* g_search = nullptr;
UniqueKernelHandle g_searchThread;

ProxyDecision DecideOfficeProxy(DWORD& scriptError, bool& timedOut) {
    const std::wstring host = kUpdateServerHost;
    if (g_search != nullptr) {
        const ULONGLONG now = GetTickCount64();
        const DWORD wait =
            g_search->deadline > now ? static_cast<DWORD>(g_search->deadline - now) : 0;
        timedOut =
            g_searchThread && WaitForSingleObject(g_searchThread.get(), wait) == WAIT_TIMEOUT;
        std::optional<ProxyDecision> found;
        if (!timedOut) {
            scriptError = g_search->error;
            if (g_search->proxy) {
                found = ProxyDecision{g_search->source, *g_search->proxy, L"", L""};
            }
        }
        g_search->Release();
        g_search = nullptr;
        g_searchThread.reset();
        if (found) {
            return *found;
        }
    }
    if (!g_user.manual.empty()) {
        return {ProxySource::UserManual, ManualProxyFor(host, g_user.manual, g_user.bypass),
                g_user.bypass, g_user.manual};
    }
    WINHTTP_PROXY_INFO fallback = {};
    if (WinHttpGetDefaultProxyConfiguration(&fallback)) {
        const std::wstring proxy = TakeGlobal(fallback.lpszProxy);
        const std::wstring bypass = TakeGlobal(fallback.lpszProxyBypass);
        if (fallback.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !proxy.empty()) {
            return {ProxySource::WinHttpDefault, ManualProxyFor(host, proxy, bypass), bypass,
                    proxy};
        }
    }
    return {};
}

}  // namespace

void BeginOfficeProxySearch() {
    if (g_user.read) {
        return;
    }
    g_user.read = true;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&user)) {
        return;
    }
    const std::wstring scriptUrl = TakeGlobal(user.lpszAutoConfigUrl);
    g_user.manual = TakeGlobal(user.lpszProxy);
    g_user.bypass = TakeGlobal(user.lpszProxyBypass);
    if (!user.fAutoDetect && scriptUrl.empty()) {
        return;
    }
    g_search = new ScriptSearch;
    g_search->detect = user.fAutoDetect != FALSE;
    g_search->scriptUrl = scriptUrl;
    g_search->deadline = GetTickCount64() + kProxySearchBudgetMs;
    ++g_search->holders;
    g_searchThread.reset(CreateThread(nullptr, 0, RunScriptSearch, g_search, 0, nullptr));
    if (!g_searchThread) {
        RunScriptSearch(g_search);
    }
}

const ProxyDecision& OfficeProxy() {
    static const ProxyDecision decision = [] {
        BeginOfficeProxySearch();
        DWORD scriptError = 0;
        bool timedOut = false;
        ProxyDecision decided = DecideOfficeProxy(scriptError, timedOut);
        LogEvent("proxy", {{"source", ProxySourceName(decided.source)},
                           {"proxy", decided.proxy},
                           {"bypass", decided.bypass},
                           {"detect", timedOut ? "timeout" : ""},
                           {"script_error", scriptError != 0 ? ErrorWithText(scriptError) : ""}});
        return decided;
    }();
    return decision;
}
