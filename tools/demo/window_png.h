// Saves what the screen shows of a window as a PNG, for the demo's
// screenshots and the README's picture.
#pragma once

#include <windows.h>

#include <string>

bool SaveWindowPng(HWND window, const std::wstring& path);

// Waits until the window and its controls have nothing left to paint, so that
// a picture taken next shows all of them; false when it did not happen in time.
bool WaitUntilPainted(HWND window, DWORD timeoutMs = 10000);
