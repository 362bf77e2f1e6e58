#include "update/installed_version.h"

#include <windows.h>

#include "common/log.h"
#include "common/message_box.h"
#include "common/office_paths.h"
#include "common/texts.h"

namespace {

// Follows links like the standard existence test; only these errors mean
// "nothing there". Anything else (access denied, say) cannot rule the file
// out, so it counts as present and the version read decides.
bool ExecutableMissing(const wchar_t* path) {
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_NETNAME_DELETED:
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::optional<std::wstring> ReadInstalledVersion() {
    if (ExecutableMissing(kAppExecutablePath)) {
        LogEvent("installed", {{"error", "missing"}, {"path", kAppExecutablePath}});
        return std::nullopt;
    }
    std::optional<std::wstring> version = ReadProductVersion(kAppExecutablePath);
    if (version) {
        LogEvent("installed", {{"version", *version}});
        return version;
    }
    LogEvent("installed", {{"error", "no-product-version"}, {"path", kAppExecutablePath}});
    ShowMessageBox(nullptr, texts::kVersionReadError, texts::kErrorCaptionPersian, MB_ICONERROR);
    return std::nullopt;
}
