#include "install/package_install.h"

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>

#include "common/log.h"
#include "common/message_box.h"
#include "common/office_paths.h"
#include "common/product_version.h"
#include "common/texts.h"
#include "install/app_processes.h"
#include "install/folders.h"
#include "install/package_unpack.h"
#include "install/process_launch.h"
#include "install/self_update.h"
#include "update/update_report.h"
#include "update/version_record.h"

namespace {

std::atomic<bool> g_applicationClosed{false};

bool UnpackIntoStaging() {
    if (!UnpackPackage(kPackageFile, kStagingFolder)) {
        return false;
    }
    // An archive whose files sit inside a folder would install ZEL without
    // the application.
    const std::wstring executable = std::wstring(kStagingFolder) + L"\\" + kAppExecutableName;
    const DWORD attributes = GetFileAttributesW(executable.c_str());
    const bool found =
        attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!found) {
        LogEvent("unpack.check", {{"result", "failed"}, {"missing", executable}});
    }
    return found;
}

// The release must be the one the manifest announced: another version would
// be offered again at every start, and a file without a version is no
// application at all.
bool CarriesAnnouncedVersion(const std::wstring& announced) {
    const std::wstring executable = std::wstring(kStagingFolder) + L"\\" + kAppExecutableName;
    const std::optional<std::wstring> version = ReadProductVersion(executable);
    if (version && *version == announced) {
        return true;
    }
    LogEvent(
        "unpack.check",
        {{"result", "failed"}, {"version", version.value_or(L"none")}, {"announced", announced}});
    return false;
}

// While ZEL is missing, ZEL.bak is the office's only copy: it is moved back
// first and never cleared or set aside.
bool HealBackup() {
    if (FolderExists(kInstallFolder) || !FolderExists(kBackupFolder)) {
        return true;
    }
    const bool healed = MoveFolderPatiently(kBackupFolder, kInstallFolder);
    LogEvent("heal", {{"result", healed ? "ok" : "failed"}});
    return healed;
}

// ZEL becomes ZEL.bak and update becomes ZEL; on failure whatever was moved
// is put back.
bool SwapFolders() {
    if (!HealBackup()) {
        return false;
    }
    const bool hadInstallation = FolderExists(kInstallFolder);
    if (hadInstallation && !ClearFolderAway(kBackupFolder)) {
        return false;
    }
    if (hadInstallation && !MoveFolderPatiently(kInstallFolder, kBackupFolder)) {
        return false;
    }
    if (MoveFolderPatiently(kStagingFolder, kInstallFolder)) {
        return true;
    }
    if (hadInstallation) {
        // When even this fails, the next start heals it.
        MoveFolderPatiently(kBackupFolder, kInstallFolder);
    }
    return false;
}

// A release that cannot start never stays installed: it goes back to being
// "update" and is removed, and ZEL.bak becomes ZEL again. When ZEL.bak
// cannot follow, ZEL is left missing beside it, which the next start heals.
void PutBackOldApplication() {
    if (!MoveFolderPatiently(kInstallFolder, kStagingFolder)) {
        return;
    }
    if (FolderExists(kBackupFolder)) {
        MoveFolderPatiently(kBackupFolder, kInstallFolder);
    }
    ClearFolderAway(kStagingFolder);
}

// For the update report: where the attempt ended, and why, as a short token.
struct FailedStage {
    const char* result;
    const char* stage;
    const char* cause;
};

InstallFailure Fail(InstallFailure failure, const char* reason, FailedStage report) {
    NoteAttempt(report.result, report.stage, report.cause);
    RemoveFolderTree(kStagingFolder);
    LogEvent("install", {{"result", "failed"}, {"reason", reason}});
    ShowMessageBox(nullptr, InstallFailureText(failure), texts::kErrorCaptionPersian, MB_ICONERROR);
    return failure;
}

}  // namespace

InstallFailure InstallPackage(const std::wstring& announcedVersion) {
    if (!ClearFolderAway(kStagingFolder)) {
        return Fail(InstallFailure::kFolderInUse, "stale update folder",
                    {"failed", "unpack", "staging-in-use"});
    }
    if (!UnpackIntoStaging()) {
        return Fail(InstallFailure::kUnpack, "unpack", {"failed", "unpack", "unpack-failed"});
    }
    if (!CarriesAnnouncedVersion(announcedVersion)) {
        return Fail(InstallFailure::kWrongVersion, "version",
                    {"refused", "unpack", "wrong-version"});
    }
    if (CloseOfficeApplication() > 0) {
        g_applicationClosed = true;
    }
    if (!SwapFolders()) {
        return Fail(InstallFailure::kFolderInUse, "folder swap",
                    {"failed", "swap", "folder-in-use"});
    }
    if (LaunchApplication()) {
        LogEvent("install", {{"result", "ok"}});
        RaiseVersionRecord(announcedVersion);
        UpdateSelfFromInstallation();
        NoteAttempt("installed", "start", "ok");
        EndUpdater("installed");
    }
    LogEvent("install", {{"result", "failed"}, {"reason", "the new application does not start"}});
    NoteAttempt("failed", "start", "no-start");
    PutBackOldApplication();
    const bool oldStarted = LaunchApplication();
    ShowMessageBox(nullptr, oldStarted ? texts::kNewVersionDidNotStart : texts::kAppStartError,
                   texts::kErrorCaptionPersian, MB_ICONERROR);
    EndUpdater("the new release did not start", oldStarted ? 0 : 1);
}

const wchar_t* InstallFailureText(InstallFailure failure) {
    switch (failure) {
        case InstallFailure::kUnpack:
            return texts::kExtractError;
        case InstallFailure::kWrongVersion:
            return texts::kReleaseVersionMismatch;
        case InstallFailure::kFolderInUse:
            break;
    }
    return texts::kInstallFolderInUse;
}

bool ApplicationClosedByFailedInstall() {
    return g_applicationClosed;
}

bool TidyOfficeFolder() {
    bool whole = true;
    if (!FolderExists(kInstallFolder)) {
        if (FolderExists(kBackupFolder)) {
            whole = HealBackup();
        } else {
            LogEvent("heal", {{"result", "none"}, {"reason", "ZEL and ZEL.bak are both missing"}});
        }
    }
    RemoveLeftoverFolders();
    return whole;
}
