#include "update/update_check.h"

#include "common/log.h"
#include "update/installed_version.h"
#include "update/manifest_fetch.h"
#include "update/manifest_reader.h"
#include "update/version_quad.h"

std::optional<UpdateCheck> CheckForUpdate() {
    UpdateCheck check;
    const std::optional<std::wstring> installed = ReadInstalledVersion();
    check.installedRead = installed.has_value();
    check.installedVersion = installed.value_or(L"0.0.0.0");
    ReplacePlusWithDot(check.installedVersion);

    std::wstring text;
    FetchOutcome outcome;
    if (!FetchManifest(check.installedVersion, text, &outcome)) {
        LogEvent("check", {{"result", "failed"},
                           {"reason", outcome.failure},
                           {"status", outcome.status},
                           {"error", outcome.error != 0 ? ErrorWithText(outcome.error) : ""}});
        return std::nullopt;
    }
    check.manifest = ParseManifest(text);
    check.manifestBytes = outcome.bytes;
    return check;
}
