// The request path of the package: only the path part of the manifest's url is
// used; the download always goes to the built-in update server.
#pragma once

#include <string>

// The url from its first "/" at index 8 or later (past "https://"), query
// included; "/" when there is none.
std::wstring RequestPathFromUrl(const std::wstring& url);
