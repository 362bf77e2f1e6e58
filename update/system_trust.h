// Whether the system's own certificate store trusts the chain a server
// presented for the update server's name: how an office's HTTPS inspection
// (antivirus, proxy) makes itself trusted.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "common/unique_handle.h"

// The certificate the server presented on this request, or empty.
UniqueCertContext PresentedCertificate(HINTERNET request);

// The end-entity certificate of the response, with the certificates sent
// along, chained to a trusted root and valid for `host` under the SSL policy.
// The chain is built from what the machine holds: nothing is fetched from
// the network (a missing intermediate fails the chain), so the check ends
// within the request's `deadline` (GetTickCount64; 0: none), which a check
// begun past it refuses.
bool SystemTrustsServerChain(HINTERNET request, const wchar_t* host, ULONGLONG deadline = 0);
