// The updater's only window: a right-to-left Persian window with a status
// line, the notes box, a progress bar and two buttons.
#pragma once

#include <windows.h>

inline constexpr const wchar_t* kMainWindowClass = L"ZELUpdater";
inline constexpr int kStartButtonId = 104;
inline constexpr int kLaterButtonId = 105;
inline constexpr int kProgressBarId = 101;

struct MainWindowControls {
    HWND status = nullptr;
    HWND notes = nullptr;
    HWND progress = nullptr;
    HWND startButton = nullptr;
    HWND laterButton = nullptr;
};

// Kept before the window exists: its procedure creates the controls with it.
extern HINSTANCE g_instance;

// Registers the class (its result is not needed: a failure shows as a failed
// CreateMainWindow) and creates the hidden window with its controls.
HWND CreateMainWindow();

const MainWindowControls& Controls();

// Starts UpdateWorker or DeferWorker for the window. When the thread cannot
// be created the user is told and the window stays usable; false then.
bool StartWorker(HWND window, LPTHREAD_START_ROUTINE routine);

// Mandatory mode after a failure: the window takes input again and may be
// closed, so the user is not left with a window that cannot go away.
void AllowClosingAfterFailure(HWND window);
bool ClosingAllowedAfterFailure();
