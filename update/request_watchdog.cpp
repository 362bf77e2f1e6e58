#include "update/request_watchdog.h"

bool RequestWatchdog::Arm(HINTERNET request, ULONGLONG deadline) {
    Disarm();
    request_ = request;
    deadline_ = deadline;
    fired_ = false;
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_) {
        return false;
    }
    thread_.reset(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
    return static_cast<bool>(thread_);
}

bool RequestWatchdog::Disarm() {
    if (thread_) {
        SetEvent(stop_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
    }
    stop_.reset();
    return fired_;
}

DWORD WINAPI RequestWatchdog::Watch(void* self) {
    auto* watchdog = static_cast<RequestWatchdog*>(self);
    const ULONGLONG now = GetTickCount64();
    const DWORD wait =
        watchdog->deadline_ > now ? static_cast<DWORD>(watchdog->deadline_ - now) : 0;
    if (WaitForSingleObject(watchdog->stop_.get(), wait) == WAIT_TIMEOUT) {
        watchdog->fired_ = true;
        WinHttpCloseHandle(watchdog->request_);
    }
    return 0;
}
