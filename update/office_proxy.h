// The office's proxy for the update server, decided once per run from the
// user's Internet settings (automatic detection, a configuration script, a
// manual proxy with its bypass list), else from WinHTTP's own default
// configuration. The manifest and the package both go the same way.
#pragma once

#include <windows.h>

#include "update/proxy_choice.h"

// Detection and the configuration script together get this long. Past it the
// run goes on as if detection had found nothing: on a network without a WPAD
// server Windows can spend seconds looking, and every start would wait.
inline constexpr DWORD kProxySearchBudgetMs = 2000;

// Starts the search for a proxy in the background, so that it overlaps the
// rest of the start; called on the thread that starts the run, before any
// request. Optional: OfficeProxy starts it when nobody has.
void BeginOfficeProxySearch();

// The first call decides and logs the decision; later calls return it.
const ProxyDecision& OfficeProxy();
