#include "install/package_install.h"

#include <windows.h>

#include <string>

#include "common/message_box.h"
#include "common/office_paths.h"
#include "common/texts.h"
#include "install/app_processes.h"
#include "install/folders.h"
#include "install/process_launch.h"

namespace {

// How long the terminated application may take to disappear before the
// folders are touched anyway.
constexpr unsigned kProcessEndTimeoutMs = 5000;

// A running copy keeps ZEL in use, and a folder in use cannot be moved.
void EndRunningApplication() {
    CloseAppWindows();
    KillProcessesByName(kAppExecutableName);
    WaitForProcessesToEnd(kAppExecutableName, kProcessEndTimeoutMs);
}

bool UnpackIntoStaging() {
    if (!ExtractArchive(kPackageFile, kStagingFolder)) {
        return false;
    }
    // An archive whose files sit inside a folder would install ZEL without
    // the application.
    const std::wstring executable = std::wstring(kStagingFolder) + L"\\" + kAppExecutableName;
    const DWORD attributes = GetFileAttributesW(executable.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

[[noreturn]] void StartApplicationAndExit() {
    LaunchProcess(kAppExecutablePath, L"");
    ExitProcess(0);
}

}  // namespace

bool InstallPackage() {
    EndRunningApplication();
    ClearFolderAway(kStagingFolder);

    bool setAside = false;
    if (FolderExists(kInstallFolder)) {
        // A move never replaces an existing folder, so an old backup would
        // block every later update.
        ClearFolderAway(kBackupFolder);
        setAside = MoveFolder(kInstallFolder, kBackupFolder);
        if (!setAside) {
            // ZEL is still in use; leave the working installation as it is.
            StartApplicationAndExit();
        }
    }

    if (!UnpackIntoStaging()) {
        if (setAside) {
            MoveFolder(kBackupFolder, kInstallFolder);
        }
        ShowMessageBox(nullptr, texts::kExtractError, texts::kErrorCaptionPersian, MB_ICONERROR);
        return false;
    }

    if (!MoveFolder(kStagingFolder, kInstallFolder) && setAside) {
        MoveFolder(kBackupFolder, kInstallFolder);
    }
    StartApplicationAndExit();
}

bool HealInterruptedInstall() {
    if (FolderExists(kInstallFolder) || !FolderExists(kBackupFolder)) {
        return false;
    }
    return MoveFolder(kBackupFolder, kInstallFolder);
}
