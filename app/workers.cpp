#include "app/workers.h"

#include <atomic>

#include "app/app_messages.h"
#include "app/progress_display.h"
#include "common/texts.h"
#include "download/download_package.h"
#include "install/app_processes.h"
#include "install/package_install.h"
#include "update/update_info.h"

namespace {

enum Phase : int { kIdle, kInstalling, kEnding };
std::atomic<int> g_phase{kIdle};

bool Claim(Phase phase) {
    int expected = kIdle;
    return g_phase.compare_exchange_strong(expected, phase);
}

void PostStatus(HWND window, const wchar_t* text) {
    PostMessageW(window, WM_APP_STATUS, 0, reinterpret_cast<LPARAM>(text));
}

DWORD RunUpdate(HWND window) {
    PostStatus(window, texts::kStatusDownloading);
    PostedProgress progress(window);
    if (!DownloadPackage(UpdateInfo.manifest.url, UpdateInfo.manifest.sha256, kPackageFile,
                         progress)) {
        PostStatus(window, texts::kStatusDownloadFailed);
        PostMessageW(window, WM_APP_UPDATE_FAILED, 0, 0);
        return 1;
    }
    if (!Claim(kInstalling)) {
        return 0;  // a restart or the window's close is ending the updater
    }
    PostStatus(window, texts::kStatusInstalling);
    InstallPackage();
    // Only a failed unpack returns; ZEL has been put back and the user told.
    g_phase = kIdle;
    PostStatus(window, texts::kExtractError);
    PostMessageW(window, WM_APP_UPDATE_FAILED, 0, 0);
    return 0;
}

}  // namespace

bool ClaimEndOfUpdater() {
    return Claim(kEnding);
}

void ReleaseEndOfUpdater() {
    g_phase = kIdle;
}

DWORD WINAPI UpdateWorker(LPVOID window) {
    try {
        return RunUpdate(static_cast<HWND>(window));
    } catch (...) {
        if (g_phase == kInstalling) {
            g_phase = kIdle;
        }
        PostStatus(static_cast<HWND>(window), texts::kStatusDownloadFailed);
        PostMessageW(static_cast<HWND>(window), WM_APP_UPDATE_FAILED, 0, 0);
        return 1;
    }
}

DWORD WINAPI DeferWorker(LPVOID) {
    try {
        RestartApplication();
    } catch (...) {
        ExitProcess(0);
    }
}
