// Downloads the release archive from the update server into a file, posting
// WM_APP_PROGRESS to the window after every chunk.
#pragma once

#include <windows.h>

#include <string>

// Up to three attempts, one second apart. The body goes to "<file>.part" and
// becomes the file only when the whole of it arrived (as many bytes as the
// server announced) and, when the manifest gave one, its SHA-256 matched;
// a failed download leaves an earlier file as it was.
bool DownloadPackage(const std::wstring& url, const std::wstring& filePath, HWND window);

// Hands a progress text to the window; frees it when the window cannot take it.
void PostProgress(HWND window, unsigned percent, std::wstring text);
