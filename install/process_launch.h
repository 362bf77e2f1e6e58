// Starting other programs: the accounting application, and the hidden
// PowerShell that unpacks a release archive.
#pragma once

#include <windows.h>

#include <string>

// Starts the program and returns its process id at once, or 0 when it could
// not be started; the updater never waits for it. Its working folder is the
// folder of the executable path (see LaunchWorkingFolder).
DWORD LaunchProcess(const std::wstring& executablePath, const std::wstring& arguments);

// Runs PowerShell's Expand-Archive without a window and waits for it, at most
// two minutes (less in the test build); past that it is ended. True only when it ran and ended
// with exit code 0; the log gets the exit code, or why it did not run or end.
bool ExtractArchive(const std::wstring& archivePath, const std::wstring& destinationFolder);
