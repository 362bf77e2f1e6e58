#include "support/updater_driver.h"

#include <commctrl.h>

#include "app/main_window.h"
#include "common/unique_handle.h"

namespace testing_support {

namespace {

struct Search {
    DWORD pid;
    const wchar_t* className;
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK FindOwnWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (pid == search->pid && wcscmp(className, search->className) == 0 &&
        (!search->visibleOnly || IsWindowVisible(window))) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindWindowOf(DWORD pid, const wchar_t* className, bool visibleOnly, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        Search search{pid, className, visibleOnly, nullptr};
        EnumWindows(FindOwnWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        Sleep(20);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

}  // namespace

UpdaterRun::UpdaterRun(const std::wstring& programPath, const std::wstring& folder) {
    child_ = StartProcess(L"\"" + programPath + L"\"", folder);
}

UpdaterRun::~UpdaterRun() {
    if (child_.process != nullptr) {
        testing_support::WaitForExit(child_, 0);
    }
}

HWND UpdaterRun::WaitForWindow(DWORD timeoutMs) {
    window_ = FindWindowOf(child_.pid, kMainWindowClass, false, timeoutMs);
    return window_;
}

HWND UpdaterRun::WaitForVisibleWindow(DWORD timeoutMs) {
    window_ = FindWindowOf(child_.pid, kMainWindowClass, true, timeoutMs);
    return window_;
}

BoxSeen UpdaterRun::WaitForBox(DWORD timeoutMs) {
    BoxSeen box;
    box.window = FindWindowOf(child_.pid, L"#32770", true, timeoutMs);
    if (box.window != nullptr) {
        box.caption = WindowText(box.window);
        box.text = WindowText(GetDlgItem(box.window, 0xFFFF));
    }
    return box;
}

void UpdaterRun::Dismiss(const BoxSeen& box) {
    PostMessageW(box.window, WM_COMMAND, IDOK, 0);
}

DWORD UpdaterRun::WaitForExit(DWORD timeoutMs) {
    return testing_support::WaitForExit(child_, timeoutMs);
}

bool UpdaterRun::Running() const {
    return child_.process != nullptr && WaitForSingleObject(child_.process, 0) == WAIT_TIMEOUT;
}

HWND UpdaterRun::Control(int id) const {
    return GetDlgItem(window_, id);
}

std::wstring WindowText(HWND window) {
    wchar_t text[4096] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                        &length);
    return std::wstring(text, length);
}

std::wstring UpdaterRun::StatusText() const {
    // The status and notes boxes have id 0; the status box comes first.
    return WindowText(FindWindowExW(window_, nullptr, L"Edit", nullptr));
}

std::wstring UpdaterRun::NotesText() const {
    HWND status = FindWindowExW(window_, nullptr, L"Edit", nullptr);
    return WindowText(FindWindowExW(window_, status, L"Edit", nullptr));
}

int UpdaterRun::ProgressPosition() const {
    return static_cast<int>(SendMessageW(Control(kProgressBarId), PBM_GETPOS, 0, 0));
}

void UpdaterRun::Click(int id, WORD notification) const {
    PostMessageW(window_, WM_COMMAND, MAKEWPARAM(id, notification),
                 reinterpret_cast<LPARAM>(Control(id)));
}

void UpdaterRun::RequestClose() const {
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

bool UpdaterRun::WaitForStatus(const std::wstring& wanted, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline && Running()) {
        const std::wstring status = StatusText();
        if (statuses_.empty() || statuses_.back() != status) {
            statuses_.push_back(status);
        }
        highestProgress_ = std::max(highestProgress_, ProgressPosition());
        if (status == wanted) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

std::string UnixPath(const std::wstring& windowsPath) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    auto toUnix = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix != nullptr) {
        if (char* name = toUnix(windowsPath.c_str())) {
            std::string path(name);
            HeapFree(GetProcessHeap(), 0, name);
            return path;
        }
    }
    std::string path = Wide2Narrow(windowsPath.substr(2));
    for (auto& c : path) {
        c = c == '\\' ? '/' : c;
    }
    return path;
}

}  // namespace testing_support
