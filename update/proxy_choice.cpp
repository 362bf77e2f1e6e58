#include "update/proxy_choice.h"

#include <cwctype>
#include <vector>

namespace {

std::vector<std::wstring> SplitList(const std::wstring& list) {
    std::vector<std::wstring> items;
    std::wstring item;
    for (wchar_t c : list + L";") {
        if (c == L';' || c == L',' || std::iswspace(c)) {
            if (!item.empty()) {
                items.push_back(item);
            }
            item.clear();
        } else {
            item += static_cast<wchar_t>(std::towlower(c));
        }
    }
    return items;
}

bool GlobMatch(const wchar_t* pattern, const wchar_t* text) {
    if (*pattern == L'\0') {
        return *text == L'\0';
    }
    if (*pattern == L'*') {
        return GlobMatch(pattern + 1, text) || (*text != L'\0' && GlobMatch(pattern, text + 1));
    }
    return *text == *pattern && GlobMatch(pattern + 1, text + 1);
}

}  // namespace

const char* ProxySourceName(ProxySource source) {
    switch (source) {
        case ProxySource::UserManual:
            return "user-manual";
        case ProxySource::UserPac:
            return "user-pac";
        case ProxySource::UserAutoDetect:
            return "user-autodetect";
        case ProxySource::WinHttpDefault:
            return "winhttp-default";
        case ProxySource::None:
            break;
    }
    return "none";
}

std::wstring ProxyForHttps(const std::wstring& proxyList) {
    std::wstring forAll;
    for (const std::wstring& entry : SplitList(proxyList)) {
        const size_t equals = entry.find(L'=');
        if (equals == std::wstring::npos) {
            forAll = forAll.empty() ? entry : forAll;
        } else if (entry.compare(0, equals, L"https") == 0 && equals + 1 < entry.size()) {
            return entry.substr(equals + 1);
        }
    }
    return forAll;
}

bool BypassesProxy(const std::wstring& host, const std::wstring& bypassList) {
    std::wstring name;
    for (wchar_t c : host) {
        name += static_cast<wchar_t>(std::towlower(c));
    }
    for (std::wstring pattern : SplitList(bypassList)) {
        if (pattern == L"<local>") {
            if (name.find(L'.') == std::wstring::npos) {
                return true;
            }
            continue;
        }
        if (pattern.rfind(L"https://", 0) == 0) {
            pattern.erase(0, 8);
        }
        if (GlobMatch(pattern.c_str(), name.c_str())) {
            return true;
        }
    }
    return false;
}

std::wstring ManualProxyFor(const std::wstring& host, const std::wstring& proxyList,
                            const std::wstring& bypassList) {
    return BypassesProxy(host, bypassList) ? std::wstring() : ProxyForHttps(proxyList);
}

std::wstring ProxyForHost(const ProxyDecision& decision, const std::wstring& host) {
    switch (decision.source) {
        case ProxySource::UserManual:
        case ProxySource::WinHttpDefault:
            return ManualProxyFor(host, decision.list, decision.bypass);
        default:
            return decision.proxy;
    }
}
