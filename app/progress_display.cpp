#include "app/progress_display.h"

#include <commctrl.h>

#include "app/app_messages.h"

void ProgressDisplay::Attach(HWND window, HWND bar, HWND status) {
    window_ = window;
    bar_ = bar;
    status_ = status;
}

void ProgressDisplay::OnProgress(unsigned percent, std::wstring* text) {
    std::unique_ptr<std::wstring> owned(text);
    const ULONGLONG now = GetTickCount64();
    if (!timerRunning_ && now - lastShown_ >= kMinRepaintMs) {
        Show(percent, *owned);
        return;
    }
    pendingPercent_ = percent;
    pendingText_ = std::move(owned);
    if (!timerRunning_) {
        timerRunning_ = SetTimer(window_, kTimerId, kMinRepaintMs, nullptr) != 0;
        if (!timerRunning_) {
            Flush();
        }
    }
}

void ProgressDisplay::Flush() {
    if (timerRunning_) {
        KillTimer(window_, kTimerId);
        timerRunning_ = false;
    }
    if (pendingText_) {
        const std::unique_ptr<std::wstring> text = std::move(pendingText_);
        Show(pendingPercent_, *text);
    }
}

void ProgressDisplay::Show(unsigned percent, const std::wstring& text) {
    SendMessageW(bar_, PBM_SETPOS, percent, 0);
    SetWindowTextW(status_, text.c_str());
    lastShown_ = GetTickCount64();
}

void PostedProgress::OnProgress(unsigned percent, std::wstring text) {
    const ULONGLONG now = GetTickCount64();
    if (percent == lastPercent_ && now - lastPosted_ < ProgressDisplay::kMinRepaintMs / 2) {
        return;
    }
    lastPercent_ = percent;
    lastPosted_ = now;
    auto owned = std::make_unique<std::wstring>(std::move(text));
    if (PostMessageW(window_, WM_APP_PROGRESS, percent, reinterpret_cast<LPARAM>(owned.get()))) {
        owned.release();  // the window frees it
    }
}
