#include "update/manifest_fetch.h"

#include "common/utf8.h"
#include "update/pinned_request.h"

std::wstring BuildManifestPath(const std::wstring& installedVersion) {
    return std::wstring(kManifestPathPrefix) + L"/" + installedVersion;
}

bool FetchManifest(std::wstring installedVersion, std::wstring& out) {
    out.clear();
    PinnedRequest http;
    if (!OpenPinnedRequest(BuildManifestPath(installedVersion), RequestOptions{}, http)) {
        return false;
    }
    // A read that fails part-way ends the body; what arrived is still used.
    std::string body;
    char buffer[8192];
    DWORD read = 0;
    while (WinHttpReadData(http.request.get(), buffer, sizeof(buffer), &read) && read > 0) {
        body.append(buffer, read);
        read = 0;
    }
    return Utf8ToWide(body, out);
}
