// The office's proxy, against the real updater built for the test server named
// "localhost" (Wine sends CONNECT only to a host named unlike the proxy) and
// the proxies of test_proxy.py.
#include <windows.h>
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

TEST(OfficeProxy, IsUsedAndLeftForTheDirectWayOnlyWhenItCannotBePassed) {
    // User settings' flags (0: WinHTTP's default), proxy role, the manual
    // proxy's bypass list or the script's path, log, server error box, and whether
    // the request went through the proxy's tunnel.
    const std::tuple<const char*, DWORD, int, const char*, const char*, bool, bool> cases[] = {
        {"manual", 2, 0, "", "proxy source=user-manual", false, true},
        {"script", 4, 0, "/proxy.pac", "proxy source=user-pac", false, true},
        {"winhttp default", 0, 0, "", "proxy source=winhttp-default", false, true},
        {"dead", 2, 4, "", "http.direct", false, false},
        {"407", 2, 1, "", "http.direct", false, true},
        {"intercepting", 2, 2, "", "key=mismatch", true, true},
        {"server bypassed", 2, 0, "*.example.com;LocalHost", "proxy=none", false, false},
        {"script never answers", 4, 0, "/silent.pac", "source=none detect=timeout", false, false},
    };
    for (const auto& [name, flags, role, more, logged, box, tunnel] : cases) {
        SCOPED_TRACE(name);
        const ProxySettingsRemoved removed;
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
        const size_t proxyLogSize = ProxyLog().size();
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
        const std::string connect = std::to_string(ProxyPort(role)) +
                                    " CONNECT localhost:" + std::to_string(kUpdateServerPort);
        EXPECT_EQ(ProxyLog().find(connect, proxyLogSize) != std::string::npos, tunnel);
    }
}

}  // namespace
