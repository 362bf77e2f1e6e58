// The one door through which the updater shows a message box. The product
// always calls MessageBoxW; in-process tests install an observer instead so
// that a box never waits for a person.
#pragma once

#include <windows.h>

using MessageBoxObserver = int (*)(HWND owner, const wchar_t* text, const wchar_t* caption,
                                   UINT style);

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);

// Tests only: nullptr restores the real message box.
void SetMessageBoxObserver(MessageBoxObserver observer);
