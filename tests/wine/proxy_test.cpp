// The office's proxy, against the real updater built for the test server named
// "localhost" (Wine sends CONNECT only to a host named unlike the proxy), the
// proxies of test_proxy.py and the real squid proxies of squid_ctl.sh.
#include <windows.h>
#include <wincred.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <tuple>

#include "common/texts.h"
#include "update/office_proxy.h"
#include "update/server_identity.h"
#include "support/test_server_control.h"
#include "support/test_support.h"
#include "support/updater_driver.h"

using namespace testing_support;

namespace {

const wchar_t kConnections[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// A fresh prefix holds neither setting; each case removes what it wrote.
struct ProxySettingsRemoved {
    ~ProxySettingsRemoved() {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kConnections, L"DefaultConnectionSettings");
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kConnections, L"WinHttpSettings");
    }
};

// The user's settings as WinINet keeps them: flags 2 a manual proxy with its
// bypass list, 4 a configuration script.
std::string UserSettings(DWORD flags, const std::string& proxy, const std::string& bypass,
                         const std::string& script) {
    std::string blob;
    auto dword = [&blob](size_t v) { blob.append(reinterpret_cast<const char*>(&v), 4); };
    dword(0x46), dword(1), dword(flags | 1);
    dword(proxy.size()), blob += proxy, dword(bypass.size()), blob += bypass;
    dword(script.size()), blob += script;
    return blob + std::string(32, '\0');
}

// A name and password stored in Credential Manager for the proxy, as the
// office's IT would store them; removed again at the end of the case.
struct StoredProxyLogin {
    std::wstring target;
    StoredProxyLogin(const wchar_t* name, const wchar_t* password) : target(name) {
        if (target.empty()) {
            return;
        }
        CREDENTIALW credential = {};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = target.data();
        credential.UserName = const_cast<wchar_t*>(L"office");
        credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(password));
        credential.CredentialBlobSize = static_cast<DWORD>(wcslen(password) * sizeof(wchar_t));
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        EXPECT_TRUE(CredWriteW(&credential, 0)) << GetLastError();
    }
    ~StoredProxyLogin() {
        if (!target.empty()) {
            CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0);
        }
    }
};

// Wine puts no credentials on CONNECT (see the README's proxy notes), so a
// login the proxy would take is refused there all the same.
const bool kWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;

// Roles 5 and 6 are the squid proxies: Basic only; NTLM and Basic.
static_assert(ZEL_SQUID_PORT == ZEL_TEST_PROXY_PORT + 5);
std::string ProxyLogFor(int role) {
    if (role < 5) {
        return ProxyLog();
    }
    return ReadBytes(BinFolder() + L"\\..\\squid-state\\" + std::to_wstring(ProxyPort(role)) +
                     L"\\access.log");
}

TEST(OfficeProxy, IsUsedAndLeftForTheDirectWayOnlyWhenItCannotBePassed) {
    // User settings' flags (0: WinHTTP's default), proxy role, the manual
    // proxy's bypass list or the script's path, the Credential Manager target
    // and password stored, log, server error box, and whether the request
    // went through the proxy's tunnel.
    const std::string right = kWine ? "result=refused" : "result=ok";
    const std::tuple<const char*, DWORD, int, const char*, const wchar_t*, const wchar_t*,
                     std::string, bool, bool>
        cases[] = {
            {"manual", 2, 0, "", L"", L"", "proxy source=user-manual", false, true},
            {"script", 4, 0, "/proxy.pac", L"", L"", "proxy source=user-pac", false, true},
            {"winhttp default", 0, 0, "", L"", L"", "proxy source=winhttp-default", false, true},
            {"dead", 2, 4, "", L"", L"", "http.direct", false, false},
            {"407", 2, 1, "", L"", L"", "proxy_auth scheme=basic result=none", true, true},
            {"intercepting", 2, 2, "", L"", L"", "key=mismatch", true, true},
            {"server bypassed", 2, 0, "*.example.com;LocalHost", L"", L"", "proxy=none", false,
             false},
            {"script never answers", 4, 0, "/silent.pac", L"", L"", "source=none detect=timeout",
             false, false},
            {"basic, nothing stored", 2, 5, "", L"", L"", "proxy_auth scheme=basic result=none",
             true, true},
            {"basic, wrong password", 2, 5, "", L"127.0.0.1", L"wrong",
             "proxy_auth scheme=basic result=refused", true, true},
            {"basic, own target", 2, 5, "", L"ZEL-Proxy", L"secret",
             "proxy_auth scheme=basic " + right, kWine, true},
            {"basic, proxy's host", 2, 5, "", L"127.0.0.1", L"secret",
             "proxy_auth scheme=basic " + right, kWine, true},
            {"ntlm first", 2, 6, "", L"", L"", "proxy_auth scheme=ntlm " + right, kWine, true},
        };
    for (const auto& [name, flags, role, more, target, password, logged, box, tunnel] : cases) {
        SCOPED_TRACE(name);
        const ProxySettingsRemoved removed;
        const StoredProxyLogin login(target, password);
        const std::string proxy = "127.0.0.1:" + std::to_string(ProxyPort(role));
        if (flags == 0) {
            std::wstring wide(proxy.begin(), proxy.end());
            WINHTTP_PROXY_INFO info = {WINHTTP_ACCESS_TYPE_NAMED_PROXY, wide.data(), nullptr};
            ASSERT_TRUE(WinHttpSetDefaultProxyConfiguration(&info));
        } else {
            const std::string blob = flags == 2
                                         ? UserSettings(flags, proxy, more, "")
                                         : UserSettings(flags, "", "", "http://" + proxy + more);
            RegSetKeyValueW(HKEY_CURRENT_USER, kConnections, L"DefaultConnectionSettings",
                            REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
        }
        ScratchFolder scratch;
        SetServerScenario({{.body = "{}"}});
        const size_t proxyLogSize = ProxyLogFor(role).size();
        const ULONGLONG began = GetTickCount64();
        UpdaterRun run(BinFolder() + L"\\zel_updater_proxied.exe", scratch.path());
        // The office holds no application, which the updater says once it is done.
        const BoxSeen seen = run.WaitForBox();
        EXPECT_EQ(seen.text, box ? texts::kServerError : texts::kAppStartError);
        UpdaterRun::Dismiss(seen);
        EXPECT_EQ(run.WaitForExit(), box ? 0u : 1u);
        // A generous bound: the proxy search's budget and a check on loopback.
        EXPECT_LT(GetTickCount64() - began, kProxySearchBudgetMs + 10000);
        const std::string log = ReadBytes(scratch / L"zel_updater.log");
        EXPECT_NE(log.find(logged), std::string::npos) << log;
        EXPECT_EQ(log.find("manifest ") != std::string::npos, !box) << log;
        EXPECT_EQ(ReceivedRequests().size(), box ? 0u : 1u);
        const std::string connect = "CONNECT localhost:" + std::to_string(kUpdateServerPort);
        EXPECT_EQ(ProxyLogFor(role).find(connect, proxyLogSize) != std::string::npos, tunnel);
        // Credentials never reach the log.
        EXPECT_EQ(log.find("secret"), std::string::npos) << log;
    }
}

}  // namespace
