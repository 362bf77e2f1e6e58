#include "update/update_check.h"

#include <string>

#include "update/installed_version.h"
#include "update/manifest_fetch.h"
#include "update/manifest_reader.h"
#include "update/update_info.h"
#include "update/version_quad.h"

bool CheckForUpdate() {
    UpdateInfo.installedVersion = ReadInstalledVersion().value_or(L"0.0.0.0");
    ReplacePlusWithDot(UpdateInfo.installedVersion);

    std::wstring text;
    if (!FetchManifest(UpdateInfo.installedVersion, text)) {
        return false;
    }
    UpdateInfo.manifest = ParseManifest(text);
    UpdateInfo.mandatoryMode = UpdateInfo.manifest.mandatory;
    return true;
}
