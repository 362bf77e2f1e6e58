// Runs the real updater program as its own process and drives it the way a
// person would: through its window, its buttons and its message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace testing_support {

struct BoxSeen {
    HWND window = nullptr;
    std::wstring text;
    std::wstring caption;
};

class UpdaterRun {
  public:
    // Starts the program with the current directory `folder`.
    UpdaterRun(const std::wstring& programPath, const std::wstring& folder);
    ~UpdaterRun() { testing_support::WaitForExit(child_, 0); }

    // The main window once it exists (and is shown, when asked), or nullptr.
    HWND WaitForWindow(bool visible = true, DWORD timeoutMs = kEventWaitMs);
    // A message box of the updater, found by its dialog class.
    BoxSeen WaitForBox(DWORD timeoutMs = kEventWaitMs);
    // Presses OK.
    static void Dismiss(const BoxSeen& box) { PostMessageW(box.window, WM_COMMAND, IDOK, 0); }
    // Exit code, or STILL_ACTIVE when it did not end in time.
    DWORD WaitForExit(DWORD timeoutMs = kEventWaitMs) {
        return testing_support::WaitForExit(child_, timeoutMs);
    }
    bool Running() const {
        return child_.process != nullptr && WaitForSingleObject(child_.process, 0) == WAIT_TIMEOUT;
    }
    // Whether it started, runs or ended, and how: for a failure's message.
    std::string State() const;

    // The window's controls, read across processes.
    HWND window() const { return window_; }
    HWND Control(int id) const { return GetDlgItem(window_, id); }
    std::wstring StatusText() const;
    std::wstring NotesText() const;
    int ProgressPosition() const;
    void Click(int id, WORD notification = BN_CLICKED) const;
    void RequestClose() const { PostMessageW(window_, WM_CLOSE, 0, 0); }

    // Polls the status line until `wanted` shows or the log says it was
    // shown (a status may last only a moment), collecting every distinct
    // text seen on the way (including progress lines).
    bool WaitForStatus(const std::wstring& wanted, DWORD timeoutMs = kEventWaitMs);
    const std::vector<std::wstring>& StatusesSeen() const { return statuses_; }
    int HighestProgressSeen() const { return highestProgress_; }

  private:
    ChildProcess child_;
    std::wstring folder_;
    DWORD startError_ = 0;
    HWND window_ = nullptr;
    std::vector<std::wstring> statuses_;
    int highestProgress_ = 0;
};

std::wstring WindowText(HWND window);

}  // namespace testing_support
