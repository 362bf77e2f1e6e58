#include "install/package_install.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "common/log.h"
#include "common/message_box.h"
#include "common/office_paths.h"
#include "common/texts.h"
#include "install/app_processes.h"
#include "install/folders.h"
#include "install/process_launch.h"

namespace {

std::atomic<bool> g_applicationClosed{false};

bool UnpackIntoStaging() {
    if (!ExtractArchive(kPackageFile, kStagingFolder)) {
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

// ZEL becomes ZEL.bak and update becomes ZEL; on failure whatever was moved
// is put back.
bool SwapFolders() {
    if (!ClearFolderAway(kBackupFolder)) {
        return false;
    }
    const bool hadInstallation = FolderExists(kInstallFolder);
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

InstallFailure Fail(InstallFailure failure, const char* reason) {
    RemoveFolderTree(kStagingFolder);
    LogEvent("install", {{"result", "failed"}, {"reason", reason}});
    ShowMessageBox(
        nullptr,
        failure == InstallFailure::kUnpack ? texts::kExtractError : texts::kInstallFolderInUse,
        texts::kErrorCaptionPersian, MB_ICONERROR);
    return failure;
}

}  // namespace

InstallFailure InstallPackage() {
    if (!ClearFolderAway(kStagingFolder)) {
        return Fail(InstallFailure::kFolderInUse, "stale update folder");
    }
    if (!UnpackIntoStaging()) {
        return Fail(InstallFailure::kUnpack, "unpack");
    }
    if (CloseOfficeApplication() > 0) {
        g_applicationClosed = true;
    }
    if (!SwapFolders()) {
        return Fail(InstallFailure::kFolderInUse, "folder swap");
    }
    LogEvent("install", {{"result", "ok"}});
    StartApplicationAndEnd("installed");
}

bool ApplicationClosedByFailedInstall() {
    return g_applicationClosed;
}

void TidyOfficeFolder() {
    if (!FolderExists(kInstallFolder) && FolderExists(kBackupFolder)) {
        const bool healed = MoveFolder(kBackupFolder, kInstallFolder);
        LogEvent("heal", {{"result", healed ? "ok" : "failed"},
                          {"error", healed ? std::string("none") : ErrorWithText(GetLastError())}});
    }
    RemoveLeftoverFolders();
}
