#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "update/proxy_auth.h"
#include "update/proxy_choice.h"

namespace {

// host, proxy list, bypass list, the proxy chosen.
TEST(ManualProxyFor, TakesTheHttpsEntryUnlessTheHostIsBypassed) {
    const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*> cases[] = {
        {L"updates.example.com", L"proxy:8080", L"", L"proxy:8080"},
        {L"updates.example.com", L"http=a:80;https=b:443 socks=c:1", L"", L"b:443"},
        {L"updates.example.com", L"http=a:80", L"", L""},
        {L"updates.example.com", L"proxy:8080", L"*.example.com", L""},
        {L"Updates.Example.COM", L"proxy:8080", L"intranet;*.EXAMPLE.com", L""},
        {L"updates.example.com", L"proxy:8080", L"*.example.org, 10.*", L"proxy:8080"},
        {L"updates.example.com", L"proxy:8080", L"https://updates.example.com", L""},
        {L"updates", L"proxy:8080", L"<local>", L""},
        {L"updates.example.com", L"proxy:8080", L"<local>", L"proxy:8080"},
    };
    for (const auto& [host, list, bypass, chosen] : cases) {
        EXPECT_EQ(ManualProxyFor(host, list, bypass), chosen)
            << testing::PrintToString(list) << " " << testing::PrintToString(bypass);
    }
}

// A mirror gets the office's proxy for its own host: the manual list and its
// bypass read again, a script's answer for the server kept.
TEST(ProxyForHost, ReadsTheManualListAgainForTheMirror) {
    const ProxyDecision bypassedServer{ProxySource::UserManual, L"", L"updates.example.com",
                                       L"proxy:8080"};
    const ProxyDecision script{ProxySource::UserPac, L"pac-proxy:3128", L"", L""};
    const std::tuple<ProxyDecision, const wchar_t*, const wchar_t*> cases[] = {
        {bypassedServer, L"cdn.example.net", L"proxy:8080"},
        {bypassedServer, L"updates.example.com", L""},
        {{ProxySource::WinHttpDefault, L"p:1", L"*.cdn.example.net", L"p:1"},
         L"a.cdn.example.net",
         L""},
        {script, L"cdn.example.net", L"pac-proxy:3128"},
        {{}, L"cdn.example.net", L""},
    };
    for (const auto& [decision, host, chosen] : cases) {
        EXPECT_EQ(ProxyForHost(decision, host), chosen) << testing::PrintToString(host);
    }
}

// The proxy's offer (WINHTTP_AUTH_SCHEME_* bits), the schemes tried in order.
TEST(ProxyAuthOrder, OwnAccountFirstThenStoredLoginNeverDigest) {
    const std::tuple<DWORD, const char*> cases[] = {
        {WINHTTP_AUTH_SCHEME_BASIC | WINHTTP_AUTH_SCHEME_NTLM | WINHTTP_AUTH_SCHEME_NEGOTIATE,
         "negotiate ntlm basic "},
        {WINHTTP_AUTH_SCHEME_BASIC | WINHTTP_AUTH_SCHEME_NTLM, "ntlm basic "},
        {WINHTTP_AUTH_SCHEME_BASIC | WINHTTP_AUTH_SCHEME_DIGEST, "basic "},
        {WINHTTP_AUTH_SCHEME_DIGEST | WINHTTP_AUTH_SCHEME_PASSPORT, ""},
        {0, ""},
    };
    for (const auto& [offered, tried] : cases) {
        std::string names;
        for (const ProxyAuthScheme scheme : ProxyAuthOrder(offered)) {
            names = names + ProxyAuthSchemeName(scheme) + " ";
        }
        EXPECT_EQ(names, tried) << offered;
    }
}

// The proxy as the settings give it, the Credential Manager targets looked up.
TEST(ProxyCredentialTargets, ProxyHostThenOwnTarget) {
    const std::tuple<const wchar_t*, std::vector<std::wstring>> cases[] = {
        {L"proxy.office.example:8080", {L"proxy.office.example", L"ZEL-Proxy"}},
        {L"http://10.0.0.1:3128/", {L"10.0.0.1", L"ZEL-Proxy"}},
        {L"[fd00::1]:3128", {L"fd00::1", L"ZEL-Proxy"}},
        {L"proxy", {L"proxy", L"ZEL-Proxy"}},
        {L"", {L"ZEL-Proxy"}},
    };
    for (const auto& [proxy, targets] : cases) {
        EXPECT_EQ(ProxyCredentialTargets(proxy), targets) << testing::PrintToString(proxy);
    }
}

}  // namespace
