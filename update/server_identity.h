// The update server this build talks to. The values are fixed when the
// program is built (see the ZEL_SERVER_* CMake variables); nothing at run
// time can change them.
#pragma once

#include <windows.h>
#include <winhttp.h>

extern const wchar_t kUpdateServerHost[];
extern const INTERNET_PORT kUpdateServerPort;

// SHA-256 of the DER SubjectPublicKeyInfo of the server's certificate key.
extern const BYTE ServerKeyPin[32];

// From the start of the manifest request to its last byte. 30 s in every
// product build.
extern const DWORD kManifestDeadlineMs;
