#include "support/updater_driver.h"

#include <commctrl.h>

#include "app/main_window.h"

namespace testing_support {

namespace {

// A top-level window of the process with the class, as soon as there is one.
HWND FindWindowOf(DWORD pid, const wchar_t* className, bool visibleOnly, DWORD timeoutMs) {
    HWND found = nullptr;
    auto match = [&](HWND window) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (owner == pid && wcscmp(name, className) == 0 &&
            (!visibleOnly || IsWindowVisible(window))) {
            found = window;
        }
        return found == nullptr;
    };
    WaitUntil(
        [&] {
            EnumWindows(
                [](HWND window, LPARAM m) -> BOOL {
                    return (*reinterpret_cast<decltype(match)*>(m))(window);
                },
                reinterpret_cast<LPARAM>(&match));
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

}  // namespace

UpdaterRun::UpdaterRun(const std::wstring& programPath, const std::wstring& folder)
    : folder_(folder) {
    child_ = StartProcess(L"\"" + programPath + L"\"", folder);
    startError_ = child_.process == nullptr ? GetLastError() : 0;
}

std::string UpdaterRun::State() const {
    if (child_.process == nullptr) {
        return "not started, error " + std::to_string(startError_);
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(child_.process, &code);
    return "pid " + std::to_string(child_.pid) +
           (Running() ? ", running" : ", ended with " + std::to_string(code));
}

HWND UpdaterRun::WaitForWindow(bool visible, DWORD timeoutMs) {
    window_ = FindWindowOf(child_.pid, kMainWindowClass, visible, timeoutMs);
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

bool UpdaterRun::WaitForStatus(const std::wstring& wanted, DWORD timeoutMs) {
    bool seen = false;
    const std::string logged = "status text=\"" + Wide2Narrow(wanted) + "\"";
    const std::wstring log = (folder_.empty() ? L"." : folder_) + L"\\zel_updater.log";
    // A window that has gone shows nothing worth recording; stop there.
    WaitUntil(
        [&] {
            if (!Running()) {
                return true;
            }
            const std::wstring status = StatusText();
            if (statuses_.empty() || statuses_.back() != status) {
                statuses_.push_back(status);
            }
            highestProgress_ = std::max(highestProgress_, ProgressPosition());
            seen = status == wanted || ReadBytes(log).find(logged) != std::string::npos;
            return seen;
        },
        timeoutMs);
    return seen || ReadBytes(log).find(logged) != std::string::npos;
}

}  // namespace testing_support
