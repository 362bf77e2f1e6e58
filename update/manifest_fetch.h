// Fetches the manifest of the current release for the installed version.
#pragma once

#include <windows.h>

#include <string>

inline constexpr const wchar_t* kManifestPathPrefix = L"/api/sysboot/check/ZEL_ACC";
// A manifest is a few hundred bytes; anything longer is not one.
inline constexpr size_t kManifestMaxBytes = 64 * 1024;

// The version travels as the last path segment, unchanged and unencoded.
std::wstring BuildManifestPath(const std::wstring& installedVersion);

// How a fetch ended, for the log.
struct FetchOutcome {
    // connect, proxy, timeout, key, status, setup, cut, too-large or utf8;
    // null on success.
    const char* failure = nullptr;
    DWORD error = 0;
    DWORD status = 0;
    size_t bytes = 0;
};

// `out` is cleared first; on true it holds the whole body as UTF-16. The
// manifest is all or nothing: a body cut short, too long or not converted
// fails the fetch, and so does one not complete within the deadline.
bool FetchManifest(std::wstring installedVersion, std::wstring& out,
                   FetchOutcome* outcome = nullptr);
