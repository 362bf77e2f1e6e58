#include <gtest/gtest.h>

#include <tuple>

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

}  // namespace
