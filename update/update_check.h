// The update check: installed version, manifest request, manifest reading.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "update/update_manifest.h"

struct UpdateCheck {
    // As sent to the server: "0.0.0.0" when it could not be read, "+" as ".".
    std::wstring installedVersion;
    bool installedRead = false;  // false: missing or unreadable, whatever the text says
    UpdateManifest manifest;
    size_t manifestBytes = 0;
};

// What the server offers for the installed version; nothing when no whole
// manifest arrived (the log says why).
std::optional<UpdateCheck> CheckForUpdate();
