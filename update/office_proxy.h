// The office's proxy for the update server, decided once per run from the
// user's Internet settings (automatic detection, a configuration script, a
// manual proxy with its bypass list), else from WinHTTP's own default
// configuration. The manifest and the package both go the same way.
#pragma once

#include "update/proxy_choice.h"

// The first call decides and logs the decision; later calls return it.
const ProxyDecision& OfficeProxy();
