// This office's running application: which processes it is, ending them, and
// starting it afresh. Another office's copy on the same machine is never
// touched.
#pragma once

#include <string>
#include <vector>

// How long the application has to close its windows before it is ended. The
// test build gives it longer: its machine runs many programs at once, and a
// stand-in application that gets to its second window late must not be ended
// for it. Either way the wait ends as soon as the application has.
#ifndef ZEL_CLOSE_GRACE_MS
#define ZEL_CLOSE_GRACE_MS 2000
#endif
inline constexpr unsigned kCloseGracePeriodMs = ZEL_CLOSE_GRACE_MS;

// Full paths of this office's ZEL, ZEL.bak and update, from the current folder.
std::vector<std::wstring> OfficeApplicationFolders();

// The one rule for "this is the application": the image path lies inside one
// of the folders, compared without regard to case.
bool IsOfficeApplication(const std::wstring& imagePath, const std::vector<std::wstring>& folders);

// Posts WM_CLOSE to every top-level window of this office's application,
// gives it the grace period, terminates what is left and waits until every
// one has ended. Returns how many processes were running.
size_t CloseOfficeApplication();

// Starts ZEL\zel_acc.exe and logs whether it started (and why not).
bool LaunchApplication() noexcept;

// Logs the end and its reason and ends the process at once: worker threads
// never outlive the objects they use.
[[noreturn]] void EndUpdater(const char* reason, unsigned exitCode = 0) noexcept;

// Starts ZEL\zel_acc.exe and ends the updater with exit code 0. When it
// cannot be started the user is told in a box, and the exit code is 1.
[[noreturn]] void StartApplicationAndEnd(const char* reason) noexcept;
