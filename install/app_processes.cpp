#include "install/app_processes.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <functional>

#include "common/office_paths.h"
#include "common/unique_handle.h"
#include "install/process_launch.h"

namespace {

BOOL CALLBACK AskToClose(HWND window, LPARAM) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        return TRUE;
    }
    wchar_t image[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (QueryFullProcessImageNameW(process.get(), 0, image, &length) &&
        std::wcsstr(image, kAppExecutableName) != nullptr) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

// Calls visit(processId) for every process whose file name matches; stops
// early when visit returns false.
void ForEachProcessNamed(const std::wstring& name, const std::function<bool(DWORD)>& visit) {
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, name.c_str()) == 0 && !visit(entry.th32ProcessID)) {
            return;
        }
    }
}

}  // namespace

bool CloseAppWindows() {
    EnumWindows(AskToClose, 0);
    Sleep(kCloseGracePeriodMs);
    return true;
}

void KillProcessesByName(const std::wstring& name) {
    ForEachProcessNamed(name, [](DWORD processId) {
        UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
        if (process) {
            TerminateProcess(process.get(), 0);
        }
        return true;
    });
}

bool WaitForProcessesToEnd(const std::wstring& name, unsigned timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        bool anyLeft = false;
        ForEachProcessNamed(name, [&anyLeft](DWORD) {
            anyLeft = true;
            return false;
        });
        if (!anyLeft) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(50);
    }
}

void RestartApplication() {
    CloseAppWindows();
    KillProcessesByName(kAppExecutableName);
    LaunchProcess(kAppExecutablePath, L"");
    ExitProcess(0);
}
