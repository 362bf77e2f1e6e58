#include "download/url_path.h"

#include <cwctype>

namespace {

// Length of "https://": a slash before it belongs to the scheme.
constexpr size_t kSchemePrefixLength = 8;

bool IsHostCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           c == L'-' || c == L'.';
}

bool StartsWithHttpsScheme(const std::wstring& url) {
    constexpr wchar_t kScheme[] = L"https://";
    if (url.size() < kSchemePrefixLength) {
        return false;
    }
    for (size_t i = 0; i < kSchemePrefixLength; ++i) {
        if (std::towlower(url[i]) != kScheme[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::wstring RequestPathFromUrl(const std::wstring& url) {
    if (url.size() <= kSchemePrefixLength) {
        return L"/";
    }
    const size_t slash = url.find(L'/', kSchemePrefixLength);
    return slash == std::wstring::npos ? L"/" : url.substr(slash);
}

std::optional<HttpsUrl> ParseHttpsUrl(const std::wstring& url) {
    if (!StartsWithHttpsScheme(url)) {
        return std::nullopt;
    }
    const size_t slash = url.find(L'/', kSchemePrefixLength);
    if (slash == std::wstring::npos) {
        return std::nullopt;
    }
    const std::wstring authority = url.substr(kSchemePrefixLength, slash - kSchemePrefixLength);
    const size_t colon = authority.find(L':');
    HttpsUrl parsed{authority.substr(0, colon), 443, url.substr(slash)};
    if (parsed.host.empty() || parsed.host.front() == L'.' || parsed.host.front() == L'-') {
        return std::nullopt;
    }
    for (const wchar_t c : parsed.host) {
        if (!IsHostCharacter(c)) {
            return std::nullopt;
        }
    }
    if (colon != std::wstring::npos) {
        const std::wstring digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5) {
            return std::nullopt;
        }
        unsigned long port = 0;
        for (const wchar_t c : digits) {
            if (c < L'0' || c > L'9') {
                return std::nullopt;
            }
            port = port * 10 + static_cast<unsigned long>(c - L'0');
        }
        if (port == 0 || port > 65535) {
            return std::nullopt;
        }
        parsed.port = static_cast<unsigned short>(port);
    }
    return parsed;
}
