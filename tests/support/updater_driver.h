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
    ~UpdaterRun();

    DWORD pid() const { return child_.pid; }
    // The main window once it exists (visible or not), or nullptr.
    HWND WaitForWindow(DWORD timeoutMs = 15000);
    HWND WaitForVisibleWindow(DWORD timeoutMs = 15000);
    // A message box of the updater, found by its dialog class.
    BoxSeen WaitForBox(DWORD timeoutMs = 15000);
    // Presses OK.
    static void Dismiss(const BoxSeen& box);
    // Exit code, or STILL_ACTIVE when it did not end in time.
    DWORD WaitForExit(DWORD timeoutMs = 30000);
    bool Running() const;

    // The window's controls, read across processes.
    HWND Control(int id) const;
    std::wstring StatusText() const;
    std::wstring NotesText() const;
    int ProgressPosition() const;
    void Click(int id, WORD notification = BN_CLICKED) const;
    void RequestClose() const;

    // Polls the status line until `wanted` shows, collecting every distinct
    // text seen on the way (including progress lines).
    bool WaitForStatus(const std::wstring& wanted, DWORD timeoutMs = 30000);
    const std::vector<std::wstring>& StatusesSeen() const { return statuses_; }
    int HighestProgressSeen() const { return highestProgress_; }

    HWND window() const { return window_; }

  private:
    ChildProcess child_;
    HWND window_ = nullptr;
    std::vector<std::wstring> statuses_;
    int highestProgress_ = 0;
};

std::wstring WindowText(HWND window);

// The Linux path of a file, for the test server.
std::string UnixPath(const std::wstring& windowsPath);

}  // namespace testing_support
