// Saves what the screen shows of a window as a PNG, for the demo's
// screenshots and the README's picture.
#pragma once

#include <windows.h>

#include <string>

bool SaveWindowPng(HWND window, const std::wstring& path);
