#include "download/url_path.h"

namespace {

// Length of "https://": a slash before it belongs to the scheme.
constexpr size_t kSchemePrefixLength = 8;

}  // namespace

std::wstring RequestPathFromUrl(const std::wstring& url) {
    if (url.size() <= kSchemePrefixLength) {
        return L"/";
    }
    const size_t slash = url.find(L'/', kSchemePrefixLength);
    return slash == std::wstring::npos ? L"/" : url.substr(slash);
}
