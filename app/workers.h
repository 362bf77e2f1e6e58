// The two worker threads of the window, and the rule that keeps them from
// cutting each other off: once the installation has begun nothing else may end
// the updater, and once a restart or the window's close has begun the
// installation does not begin.
#pragma once

#include <windows.h>

// Download, then install. The parameter is the main window.
DWORD WINAPI UpdateWorker(LPVOID window);

// Restart the application now and update later. Never returns.
DWORD WINAPI DeferWorker(LPVOID window);

// Claims the updater's end for a restart or a close. False while the
// installation runs (or another end was claimed first).
bool ClaimEndOfUpdater();
// Gives the claim back, when the restart could not be started.
void ReleaseEndOfUpdater();
