// Ending the running accounting application and starting it afresh.
#pragma once

#include <string>

#include "common/office_paths.h"

inline constexpr unsigned kCloseGracePeriodMs = 2000;

// Posts WM_CLOSE to every top-level window, hidden ones included, of every
// process whose full image path contains "zel_acc.exe" (case respected), then
// waits the grace period. Always true.
bool CloseAppWindows();

// Terminates, with exit code 0, every process whose file name equals the name
// without regard to case.
void KillProcessesByName(const std::wstring& name);

// Waits until no process of that file name is left, at most timeoutMs.
// True when none is left.
bool WaitForProcessesToEnd(const std::wstring& name, unsigned timeoutMs);

// Closes and terminates the application, starts ZEL\zel_acc.exe and ends the
// updater with exit code 0. Never returns.
[[noreturn]] void RestartApplication();
