// Entry of the updater: take the office's lock, heal an interrupted
// installation, check for an update, then either start the application or
// make and show the window.
#include <windows.h>
#include <commctrl.h>
#include <delayimp.h>

#include <algorithm>
#include <optional>
#include <string>

#include "app/main_window.h"
#include "app/notes_text.h"
#include "app/release_trust.h"
#include "app/workers.h"
#include "common/log.h"
#include "common/office_paths.h"
#include "common/product_version.h"
#include "common/message_box.h"
#include "common/texts.h"
#include "download/sha256.h"
#include "download/url_path.h"
#include "install/app_processes.h"
#include "install/office_lock.h"
#include "install/package_install.h"
#include "install/self_check.h"
#include "install/self_update.h"
#include "resources/updater_version.h"
#include "update/mandatory_record.h"
#include "update/office_id.h"
#include "update/office_proxy.h"
#include "update/update_check.h"
#include "update/server_identity.h"
#include "update/update_info.h"
#include "update/update_report.h"
#include "update/version_quad.h"
#include "update/version_record.h"

// Build-time choices of the vendor (CMake options of the same names).
#ifndef ZEL_SEND_REPORTS
#define ZEL_SEND_REPORTS 1
#endif
#ifndef ZEL_START_WHEN_UNREACHABLE
#define ZEL_START_WHEN_UNREACHABLE 0
#endif
#ifndef ZEL_MANDATORY_GRACE_DAYS
#define ZEL_MANDATORY_GRACE_DAYS 7
#endif

namespace {

// The libraries that are not KnownDLLs (version, winhttp, crypt32, bcrypt) are
// delay-loaded (see CMakeLists.txt), and each is looked for here in the system
// folder only, with the libraries it needs in turn: a search by name would look
// in the updater's folder first, where anyone who may write to the office's
// share could plant one. The limit is set for these loads alone; set for the
// whole process, Wine's own window code stalled. comctl32 is left to the
// manifest's side-by-side version 6.
FARPROC WINAPI LoadFromSystemFolder(unsigned notice, PDelayLoadInfo info) {
    wchar_t name[64] = {};
    if (notice != dliNotePreLoadLibrary || lstrcmpiA(info->szDll, "comctl32.dll") == 0 ||
        MultiByteToWideChar(CP_ACP, 0, info->szDll, -1, name, 64) == 0) {
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(
        reinterpret_cast<void*>(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)));
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    return path;
}

std::wstring CurrentFolder() {
    wchar_t folder[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, folder);
    return folder;
}

// Nothing when this build checks no signatures. During a key hand-over a
// release signed by either built-in key is good.
std::optional<SignatureVerdict> CheckBuiltInSignature(const UpdateManifest& manifest) {
    if (!kReleaseKeyBuiltIn) {
        return std::nullopt;
    }
    SignatureVerdict verdict = SignatureVerdict::kBad;
    for (size_t i = 0; i < kReleaseKeyCount; ++i) {
        RawPublicKey key;
        std::copy(std::begin(kReleaseKeys[i]), std::end(kReleaseKeys[i]), key.begin());
        verdict = CheckReleaseSignature(manifest, key);
        if (verdict != SignatureVerdict::kBad) {
            break;
        }
    }
    return WithFreshness(verdict, manifest, kManifestMaxAgeDays, SecondsSince1970());
}

void LogManifest(const UpdateCheck& check, const OfferDecision decision,
                 const VersionRecord& record, const std::optional<SignatureVerdict>& signature) {
    const bool refused = signature && *signature != SignatureVerdict::kGood;
    Sha256Digest digest;
    LogEvent("manifest",
             {{"version", check.manifest.version},
              {"mandatory", check.manifest.mandatory},
              {"url_path", RequestPathFromUrl(check.manifest.url)},
              {"sha256", ParseSha256Hex(check.manifest.sha256, digest)
                             ? "present"
                             : (check.manifest.sha256.empty() ? "absent" : "malformed")},
              {"bytes", check.manifestBytes},
              {"installed", check.installedVersion},
              {"recorded", record.state == RecordState::kPresent ? record.version : L""},
              {"signature", signature ? SignatureVerdictName(*signature) : ""},
              {"decision", refused ? "refused" : OfferDecisionName(decision)}});
}

// A vendor may let offices open their books while the server is down, unless
// a mandatory release was offered lately and is not installed yet.
void StartWhenUnreachable() {
    const std::wstring installed = ReadProductVersion(kAppExecutablePath).value_or(L"");
    std::string record;
    if (MandatoryReleaseBlocksStart(installed, ZEL_MANDATORY_GRACE_DAYS, record)) {
        LogEvent("unreachable", {{"decision", "blocked"}, {"mandatory_seen", record}});
        return;
    }
    LogEvent("unreachable", {{"decision", "start-unreachable"}});
    StartApplicationAndEnd("no answer from the update server; the application starts as it is");
}

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
    EndStartOfRun(StartOutcome::kCompleted);
    if (!StartWorker(window, UpdateWorker)) {
        return;
    }
    ShowMessageBox(window, texts::kMandatoryNotice, texts::kMandatoryCaption, MB_ICONWARNING);
    // Wine enables the owner again when the box closes; a failure that came
    // meanwhile has enabled it on purpose.
    if (!ClosingAllowedAfterFailure()) {
        EnableWindow(window, FALSE);
    }
}

int RunUpdater(int showCommand) {
    LogEvent("start", {{"updater_version", ZEL_UPDATER_VERSION_TEXT},
                       {"path", ModulePath()},
                       {"folder", CurrentFolder()}});
    // Before anything that a new updater could fail at: a new updater on
    // trial is judged by how its start ends (install/self_update.h).
    BeginStartOfRun(ZEL_UPDATER_VERSION_TEXT);
    // Under way while the lock is taken and the folder tidied.
    BeginOfficeProxySearch();
    if (TakeOfficeLock() == OfficeLock::kBusy) {
        // Another run is at work in this office; its user still gets the
        // application as it is.
        EndStartOfRun(StartOutcome::kUndecided);
        StartApplicationAndEnd("another run holds the lock");
    }
    // An installation cut off half-way must not leave the office without
    // its application. While ZEL.bak is the only copy, nothing is installed.
    if (!TidyOfficeFolder()) {
        EndStartOfRun(StartOutcome::kUndecided);
        StartApplicationAndEnd("ZEL is missing and ZEL.bak could not be moved back");
    }
    TidySelfUpdateLeftovers();
    LoadOfficeId();
    if (ZEL_SEND_REPORTS) {
        EnableUpdateReports();
    }
    const std::optional<UpdateCheck> check = CheckForUpdate();
    if (!check) {
        // The server, not this updater: the next start judges it again.
        EndStartOfRun(StartOutcome::kUndecided);
        ShowMessageBox(nullptr, texts::kServerError, texts::kServerErrorCaption, MB_ICONERROR);
        if (ZEL_START_WHEN_UNREACHABLE) {
            StartWhenUnreachable();
        }
        EndUpdater("no answer from the update server");
    }
    // The floor every offer is held to: what the office ever had, so that an
    // application that cannot be read does not let an older release in.
    const VersionRecord record =
        check->installedRead ? RaiseVersionRecord(check->installedVersion) : ReadVersionRecord();
    const OfferDecision decision =
        DecideOffer(check->manifest.version, check->installedVersion, record);
    const bool newer = decision == OfferDecision::kNewer;
    const std::optional<SignatureVerdict> signature = CheckBuiltInSignature(check->manifest);
    LogManifest(*check, decision, record, signature);
    if ((signature && *signature != SignatureVerdict::kGood) || !newer) {
        EndStartOfRun(StartOutcome::kCompleted);
    }
    // Written here, before any worker exists, and only read afterwards.
    UpdateInfo = {check->installedVersion, check->manifest, newer, check->manifest.mandatory};
    if (signature && *signature != SignatureVerdict::kGood) {
        NoteAttempt("refused", "signature", SignatureVerdictName(*signature));
        // Nothing of a release the vendor did not sign is shown or acted on.
        StartApplicationAndEnd("release not signed by the vendor's key");
    }
    if (decision == OfferDecision::kOlderThanRecorded) {
        StartApplicationAndEnd("release below the version this office had");
    }
    if (ZEL_START_WHEN_UNREACHABLE && newer && check->manifest.mandatory) {
        RecordMandatorySeen(check->manifest.version);
    }
    if (!newer) {
        StartApplicationAndEnd("no newer release");
    }
    // Made only now: most starts find no update, and the window's libraries
    // and font cost them a third of their memory.
    InitCommonControls();
    HWND window = CreateMainWindow();
    if (window == nullptr) {
        LogEvent("window", {{"result", "failed"}, {"error", ErrorWithText(GetLastError())}});
        EndStartOfRun(StartOutcome::kFailed);
        ShowMessageBox(nullptr, texts::kWindowCreateError, texts::kErrorCaptionEnglish,
                       MB_ICONERROR);
        EndUpdater("no window", 1);
    }
    SetWindowTextW(Controls().notes,
                   ComposeNotesText(UpdateInfo.installedVersion, UpdateInfo.manifest.version,
                                    UpdateInfo.manifest.notes)
                       .c_str());
    if (UpdateInfo.mandatoryMode) {
        ShowMandatory(window);
    } else {
        ShowWindow(window, showCommand);
        EndStartOfRun(StartOutcome::kCompleted);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (ApplicationClosedByFailedInstall()) {
        StartApplicationAndEnd("window closed after a failed installation");
    }
    // Not a return: static objects would be destroyed while a download's
    // threads still use them.
    EndUpdater("window closed");
}

}  // namespace

PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemFolder;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // No library is ever looked for in the current folder.
    SetDllDirectoryW(L"");
    g_instance = instance;
    if (IsSelfCheckRun()) {
        return AnswerSelfCheck(ZEL_UPDATER_VERSION_TEXT);
    }
    try {
        return RunUpdater(showCommand);
    } catch (...) {
        // Whatever went wrong, the office still gets its application; a new
        // updater that fails so makes way for the previous one.
        EndStartOfRun(StartOutcome::kFailed);
        StartApplicationAndEnd("unexpected error");
    }
}
