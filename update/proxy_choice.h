// Which proxy the office's settings give for the update server: the text
// rules of the Internet settings, kept apart from the calls that read them.
#pragma once

#include <string>

enum class ProxySource { None, UserManual, UserPac, UserAutoDetect, WinHttpDefault };

struct ProxyDecision {
    ProxySource source = ProxySource::None;
    std::wstring proxy;  // "host:port"; empty: straight to the server
    std::wstring bypass;
    std::wstring list;  // the manual proxy list it came from, read again for other hosts
};

const char* ProxySourceName(ProxySource source);

// The entry of a proxy list that serves https: "https=a:1" before an entry
// for every scheme ("a:1"); "http=..." and "socks=..." entries serve no
// https. Empty when none does.
std::wstring ProxyForHttps(const std::wstring& proxyList);

// True when `host` matches an entry of a bypass list (separated by ";",
// "," or blanks): "<local>" for a name without a dot, else a pattern with
// "*" wildcards, any case, optionally after "https://".
bool BypassesProxy(const std::wstring& host, const std::wstring& bypassList);

// A manual proxy for `host`, or empty when it bypasses the proxy.
std::wstring ManualProxyFor(const std::wstring& host, const std::wstring& proxyList,
                            const std::wstring& bypassList);

// The proxy for another host than the update server (a mirror): a manual
// list is read again with its bypass list for that host; a configuration
// script's answer for the server stands for the mirror too, as the script is
// not run a second time within the start's budget.
std::wstring ProxyForHost(const ProxyDecision& decision, const std::wstring& host);
