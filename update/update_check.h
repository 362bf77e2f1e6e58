// The update check: installed version, manifest request, manifest reading.
#pragma once

// Fills UpdateInfo. False when no manifest was received; the manifest fields
// and the mandatory flag then stay as they were (empty, false).
bool CheckForUpdate();
