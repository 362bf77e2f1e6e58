// The update server this build talks to. The values are fixed when the
// program is built (see the ZEL_SERVER_* CMake variables); nothing at run
// time can change them.
#pragma once

#include <windows.h>
#include <winhttp.h>

extern const wchar_t kUpdateServerHost[];
extern const INTERNET_PORT kUpdateServerPort;

// SHA-256 of the DER SubjectPublicKeyInfo of each key the server may
// present: the one in use and up to three spares.
extern const BYTE ServerKeyPins[][32];
extern const size_t kServerKeyPinCount;

// The vendor's release keys (ECDSA P-256, X then Y): none, one, or two during
// a key hand-over (the current and the next). When one is built in, only
// releases one of them signed are acted on, and a server key that matches no
// pin may pass where the system trusts its chain (an office's HTTPS
// inspection).
extern const BYTE kReleaseKeys[][64];
extern const size_t kReleaseKeyCount;
extern const bool kReleaseKeyBuiltIn;

// From the start of the manifest request to its last byte. 30 s in every
// product build.
extern const DWORD kManifestDeadlineMs;

// Signed releases signed more than this many days ago are refused (and, when
// it is not 0, releases signed in the older form, which carry no time). 0:
// no limit. Set by ZEL_MANIFEST_MAX_AGE_DAYS.
extern const unsigned kManifestMaxAgeDays;

// The most an archive without a signed length may be (ZEL_MAX_ARCHIVE_BYTES).
extern const unsigned long long kMaxArchiveBytes;
