// The private messages by which the worker threads drive the main window.
// They are always posted, never sent, so a worker never waits for the window.
#pragma once

#include <windows.h>

// lParam: a constant status text that lives as long as the process.
inline constexpr UINT WM_APP_STATUS = WM_APP + 1;
// wParam: percentage; lParam: a heap std::wstring the window must delete.
inline constexpr UINT WM_APP_PROGRESS = WM_APP + 3;
// The update failed and the window should let the user close it.
inline constexpr UINT WM_APP_UPDATE_FAILED = WM_APP + 4;
