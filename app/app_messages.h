// The private messages by which the worker threads drive the main window.
// They are always posted, never sent, so a worker never waits for the window.
#pragma once

#include <windows.h>

// Status line := "The download ran into an error!". Posted by nothing today.
inline constexpr UINT WM_USER_DOWNLOAD_FAILED = WM_USER + 4;
// lParam: a constant status text that lives as long as the process.
inline constexpr UINT WM_APP_STATUS = WM_APP + 1;
// The installation has finished: show it and start the application.
inline constexpr UINT WM_APP_FINISHED = WM_APP + 2;
// wParam: percentage; lParam: a heap std::wstring the window must delete.
inline constexpr UINT WM_APP_PROGRESS = WM_APP + 3;
// The update failed and the window should let the user close it.
inline constexpr UINT WM_APP_UPDATE_FAILED = WM_APP + 4;
