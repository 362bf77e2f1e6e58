// The request path of the package, and the host a signed release may name
// for it. The path part of the manifest's url is always asked of the built-in
// update server; only a build that checks release signatures also goes to the
// url's own host first (see download_package.h).
#pragma once

#include <optional>
#include <string>

// The url from its first "/" at index 8 or later (past "https://"), query
// included; "/" when there is none.
std::wstring RequestPathFromUrl(const std::wstring& url);

struct HttpsUrl {
    std::wstring host;  // a name or an IPv4 address, as written
    unsigned short port = 443;
    std::wstring path;  // from the first "/", query included
};

// The parts of "https://host[:port]/path" (the scheme in any case). Nothing
// for anything else: another scheme, no path, user info, an IPv6 literal, a
// host with other characters than letters, digits, "-" and ".", or a port
// outside 1-65535. Such a url is simply not a mirror.
std::optional<HttpsUrl> ParseHttpsUrl(const std::wstring& url);
