#include "install/app_processes.h"

#include <windows.h>
#include <tlhelp32.h>

#include "common/log.h"
#include "common/message_box.h"
#include "common/office_paths.h"
#include "common/texts.h"
#include "common/unique_handle.h"
#include "install/process_launch.h"
#include "update/update_report.h"

namespace {

// How long terminated processes may take to disappear.
constexpr DWORD kTerminateWaitMs = 5000;

struct RunningApp {
    DWORD pid = 0;
    std::wstring image;
    // Held until the end: while it is open the id cannot be given to another
    // process, so a window is never matched to a stranger.
    UniqueKernelHandle process;
};

std::wstring ImagePath(HANDLE process) {
    wchar_t image[MAX_PATH * 4] = {};
    DWORD length = MAX_PATH * 4;
    return QueryFullProcessImageNameW(process, 0, image, &length) ? std::wstring(image, length)
                                                                  : std::wstring();
}

std::vector<RunningApp> OpenOfficeApplications() {
    const std::vector<std::wstring> folders = OfficeApplicationFolders();
    std::vector<RunningApp> apps;
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return apps;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) {
            continue;
        }
        UniqueKernelHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                        entry.th32ProcessID));
        if (!process) {
            continue;
        }
        std::wstring image = ImagePath(process.get());
        if (IsOfficeApplication(image, folders)) {
            apps.push_back({entry.th32ProcessID, std::move(image), std::move(process)});
        }
    }
    return apps;
}

BOOL CALLBACK AskToClose(HWND window, LPARAM parameter) {
    const auto& apps = *reinterpret_cast<const std::vector<RunningApp>*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    for (const RunningApp& app : apps) {
        if (app.pid == pid) {
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
    }
    return TRUE;
}

void WaitForAll(const std::vector<RunningApp>& apps, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (const RunningApp& app : apps) {
        const ULONGLONG now = GetTickCount64();
        WaitForSingleObject(app.process.get(), now < deadline ? DWORD(deadline - now) : 0);
    }
}

bool HasEnded(const RunningApp& app) {
    return WaitForSingleObject(app.process.get(), 0) == WAIT_OBJECT_0;
}

}  // namespace

std::vector<std::wstring> OfficeApplicationFolders() {
    std::vector<std::wstring> folders;
    for (const wchar_t* name : {kInstallFolder, kBackupFolder, kStagingFolder}) {
        wchar_t full[MAX_PATH * 4] = {};
        const DWORD length = GetFullPathNameW(name, MAX_PATH * 4, full, nullptr);
        if (length > 0 && length < MAX_PATH * 4) {
            folders.emplace_back(full, length);
        }
    }
    return folders;
}

bool IsOfficeApplication(const std::wstring& imagePath, const std::vector<std::wstring>& folders) {
    for (const std::wstring& folder : folders) {
        const size_t n = folder.size();
        if (n > 0 && imagePath.size() > n + 1 && imagePath[n] == L'\\' &&
            CompareStringOrdinal(imagePath.c_str(), static_cast<int>(n), folder.c_str(),
                                 static_cast<int>(n), TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

size_t CloseOfficeApplication() {
    const std::vector<RunningApp> apps = OpenOfficeApplications();
    if (apps.empty()) {
        return 0;
    }
    for (const RunningApp& app : apps) {
        LogEvent("app.close", {{"pid", app.pid}, {"image", app.image}});
    }
    EnumWindows(AskToClose, reinterpret_cast<LPARAM>(&apps));
    WaitForAll(apps, kCloseGracePeriodMs);
    for (const RunningApp& app : apps) {
        if (!HasEnded(app)) {
            const bool ok = TerminateProcess(app.process.get(), 0) != 0;
            LogEvent("app.terminate",
                     {{"pid", app.pid},
                      {"image", app.image},
                      {"error", ok ? std::string("none") : ErrorWithText(GetLastError())}});
        }
    }
    WaitForAll(apps, kTerminateWaitMs);
    return apps.size();
}

bool LaunchApplication() noexcept {
    try {
        const DWORD pid = LaunchProcess(kAppExecutablePath, L"");
        if (pid != 0) {
            NoteApplicationStarted(pid);
            LogEvent("app.start", {{"pid", pid}, {"path", kAppExecutablePath}});
            return true;
        }
        LogEvent("app.start", {{"path", kAppExecutablePath},
                               {"result", "failed"},
                               {"error", ErrorWithText(GetLastError())}});
    } catch (...) {
        // Out of memory: the application did not start.
    }
    return false;
}

void EndUpdater(const char* reason, unsigned exitCode) noexcept {
    SendUpdateReports();
    LogEvent("end", {{"exit_code", exitCode}, {"reason", reason}});
    ExitProcess(exitCode);
}

void StartApplicationAndEnd(const char* reason) noexcept {
    if (LaunchApplication()) {
        EndUpdater(reason);
    }
    // Ending in silence would leave the office wondering why nothing opened.
    ShowMessageBox(nullptr, texts::kAppStartError, texts::kErrorCaptionPersian, MB_ICONERROR);
    EndUpdater(reason, 1);
}
