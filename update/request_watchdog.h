// Bounds the whole of a synchronous WinHTTP exchange. Time-outs apply to each
// read, so a server that drips one byte at a time never trips them; closing
// the request handle from another thread makes the blocked call return.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>

#include "common/unique_handle.h"

class RequestWatchdog {
  public:
    RequestWatchdog() = default;
    ~RequestWatchdog() { Disarm(); }
    RequestWatchdog(const RequestWatchdog&) = delete;
    RequestWatchdog& operator=(const RequestWatchdog&) = delete;

    // Closes `request` once GetTickCount64() reaches `deadline`, unless
    // disarmed first. False when no watch could be started.
    bool Arm(HINTERNET request, ULONGLONG deadline);
    // Stops the watch and waits for its thread. True when it fired: the
    // request handle is closed already and must only be released.
    bool Disarm();
    bool Fired() const { return fired_; }

  private:
    static DWORD WINAPI Watch(void* self);

    HINTERNET request_ = nullptr;
    ULONGLONG deadline_ = 0;
    UniqueKernelHandle stop_;
    UniqueKernelHandle thread_;
    std::atomic<bool> fired_{false};
};
