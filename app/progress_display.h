// Shows download progress in the status line and the progress bar. Every
// message's text is taken over and freed, but the controls are repainted at
// most every kMinRepaintMs: a fast download posts thousands of messages a
// second, and repainting for each would starve the download of processor time.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "download/download_sink.h"

class ProgressDisplay {
  public:
    static constexpr UINT_PTR kTimerId = 1;
    static constexpr UINT kMinRepaintMs = 100;

    void Attach(HWND window, HWND bar, HWND status);

    // Takes ownership of the text.
    void OnProgress(unsigned percent, std::wstring* text);
    // Shows what is waiting at once; called by the timer that OnProgress
    // starts, and before a status text replaces the progress line.
    void Flush();

  private:
    void Show(unsigned percent, const std::wstring& text);

    HWND window_ = nullptr;
    HWND bar_ = nullptr;
    HWND status_ = nullptr;
    ULONGLONG lastShown_ = 0;
    bool timerRunning_ = false;
    unsigned pendingPercent_ = 0;
    std::unique_ptr<std::wstring> pendingText_;
};

// The download's reports, posted to the window as WM_APP_PROGRESS: the
// download never waits for the window. A report is posted when its percentage
// changes, else at most every half repaint interval: each post is a round
// trip through the system, and a fast download makes thousands of reports a
// second that the window would not show anyway.
class PostedProgress final : public DownloadSink {
  public:
    explicit PostedProgress(HWND window) : window_(window) {}
    void OnProgress(unsigned percent, std::wstring text) override;

  private:
    HWND window_;
    unsigned lastPercent_ = ~0u;
    ULONGLONG lastPosted_ = 0;
};
