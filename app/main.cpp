// Entry of the updater: heal an interrupted installation, check for an
// update while the window is still hidden, then either start the application
// or show the window.
#include <windows.h>
#include <commctrl.h>

#include "app/main_window.h"
#include "app/notes_text.h"
#include "app/workers.h"
#include "common/message_box.h"
#include "common/office_paths.h"
#include "common/texts.h"
#include "common/unique_handle.h"
#include "install/package_install.h"
#include "install/process_launch.h"
#include "update/update_check.h"
#include "update/update_info.h"
#include "update/version_quad.h"

namespace {

void ShowMandatory(HWND window) {
    const MainWindowControls& c = Controls();
    ShowWindow(window, SW_SHOW);
    EnableWindow(window, FALSE);
    if (c.startButton != nullptr) {
        ShowWindow(c.startButton, SW_HIDE);
    }
    if (c.laterButton != nullptr) {
        ShowWindow(c.laterButton, SW_HIDE);
    }
    if (!UniqueKernelHandle(CreateThread(nullptr, 0, UpdateWorker, window, 0, nullptr))) {
        AllowClosingAfterFailure(window);
    }
    ShowMessageBox(window, texts::kMandatoryNotice, texts::kMandatoryCaption, MB_ICONWARNING);
}

int RunUpdater(int showCommand) {
    // An installation cut off half-way must not leave the office without
    // its application.
    HealInterruptedInstall();
    InitCommonControls();
    HWND window = CreateMainWindow();
    if (window == nullptr) {
        ShowMessageBox(nullptr, texts::kWindowCreateError, texts::kErrorCaptionEnglish,
                       MB_ICONERROR);
        return 1;
    }
    if (!CheckForUpdate()) {
        ShowMessageBox(window, texts::kServerError, texts::kServerErrorCaption, MB_ICONERROR);
        ExitProcess(0);
    }
    const bool newer = IsNewerVersion(ParseVersionQuad(UpdateInfo.manifest.version),
                                      ParseVersionQuad(UpdateInfo.installedVersion));
    UpdateInfo.updateAvailable = newer;
    if (!newer) {
        LaunchProcess(kAppExecutablePath, L"");
        ExitProcess(0);
    }
    SetWindowTextW(Controls().notes,
                   ComposeNotesText(UpdateInfo.installedVersion, UpdateInfo.manifest.version,
                                    UpdateInfo.manifest.notes)
                       .c_str());
    if (UpdateInfo.mandatoryMode) {
        ShowMandatory(window);
    } else {
        ShowWindow(window, showCommand);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    g_instance = instance;
    try {
        return RunUpdater(showCommand);
    } catch (...) {
        // Whatever went wrong, the office still gets its application.
        LaunchProcess(kAppExecutablePath, L"");
        return 0;
    }
}
