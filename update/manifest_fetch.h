// Fetches the manifest of the current release for the installed version.
#pragma once

#include <string>

inline constexpr const wchar_t* kManifestPathPrefix = L"/api/sysboot/check/ZEL_ACC";

// The version travels as the last path segment, unchanged and unencoded.
std::wstring BuildManifestPath(const std::wstring& installedVersion);

// `out` is cleared first; on true it holds the whole body as UTF-16.
bool FetchManifest(std::wstring installedVersion, std::wstring& out);
