#include "app/workers.h"

#include <atomic>

#include "app/app_messages.h"
#include "app/progress_display.h"
#include "app/release_trust.h"
#include "common/office_paths.h"
#include "common/texts.h"
#include "download/download_package.h"
#include "install/app_processes.h"
#include "install/package_install.h"
#include "update/server_identity.h"
#include "update/update_info.h"
#include "update/update_report.h"

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

// The status line says why; the window then lets the user go on (the later
// button, or closing a mandatory window).
void ReportFailedUpdate(HWND window, const wchar_t* status) {
    PostStatus(window, status);
    PostMessageW(window, WM_APP_UPDATE_FAILED, 0, 0);
}

DWORD RunUpdate(HWND window) {
    PostStatus(window, texts::kStatusDownloading);
    PostedProgress progress(window);
    // The signed length when the release states one; else the build's bound.
    const ArchiveBound bound{StatedLength(UpdateInfo.manifest), kMaxArchiveBytes};
    if (!DownloadPackage(UpdateInfo.manifest.url, UpdateInfo.manifest.sha256, kPackageFile,
                         progress, bound,
                         MirrorOf(UpdateInfo.manifest, kReleaseKeyBuiltIn, UpdateServerTarget()))) {
        NoteAttempt("failed", "download", nullptr);
        ReportFailedUpdate(window, texts::kStatusDownloadFailed);
        return 1;
    }
    if (!Claim(kInstalling)) {
        return 0;  // a restart or the window's close is ending the updater
    }
    PostStatus(window, texts::kStatusInstalling);
    // Returns only when it failed; ZEL holds the old installation and the
    // user has been told.
    const InstallFailure failure = InstallPackage(UpdateInfo.manifest.version);
    g_phase = kIdle;
    ReportFailedUpdate(window, InstallFailureText(failure));
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
        ReportFailedUpdate(static_cast<HWND>(window), texts::kStatusDownloadFailed);
        return 1;
    }
}

DWORD WINAPI DeferWorker(LPVOID) {
    try {
        CloseOfficeApplication();
    } catch (...) {
        // The application is started and the updater ends all the same.
    }
    StartApplicationAndEnd("later");
}
