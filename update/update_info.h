// The process-wide record of what the update check learned. It is written on
// the main thread before any worker exists and only read afterwards, so it
// needs no lock.
#pragma once

#include <string>

#include "update/update_manifest.h"

struct UpdateInfoRecord {
    std::wstring installedVersion;
    UpdateManifest manifest;
    bool updateAvailable = false;
    bool mandatoryMode = false;
};

extern UpdateInfoRecord UpdateInfo;
