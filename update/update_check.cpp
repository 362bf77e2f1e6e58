#include "update/update_check.h"

#include <string>

#include "common/log.h"
#include "download/url_path.h"
#include "update/installed_version.h"
#include "update/manifest_fetch.h"
#include "update/manifest_reader.h"
#include "update/update_info.h"
#include "update/version_quad.h"

bool CheckForUpdate() {
    UpdateInfo.installedVersion = ReadInstalledVersion().value_or(L"0.0.0.0");
    ReplacePlusWithDot(UpdateInfo.installedVersion);

    std::wstring text;
    FetchOutcome outcome;
    if (!FetchManifest(UpdateInfo.installedVersion, text, &outcome)) {
        LogEvent("check", {{"result", "failed"},
                           {"reason", outcome.failure},
                           {"status", outcome.status},
                           {"error", outcome.error != 0 ? ErrorWithText(outcome.error) : ""}});
        return false;
    }
    UpdateInfo.manifest = ParseManifest(text);
    UpdateInfo.mandatoryMode = UpdateInfo.manifest.mandatory;
    const UpdateManifest& manifest = UpdateInfo.manifest;
    LogEvent("manifest", {{"version", manifest.version},
                          {"mandatory", manifest.mandatory},
                          {"url_path", RequestPathFromUrl(manifest.url)},
                          {"sha256", manifest.sha256.empty() ? "absent" : "present"},
                          {"bytes", outcome.bytes}});
    return true;
}
