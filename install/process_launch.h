// Starting other programs: the accounting application, and the hidden
// PowerShell that unpacks a release archive.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "install/builtin_unpack.h"

// Starts the program and returns its process id at once, or 0 when it could
// not be started; the updater never waits for it. Its working folder is the
// folder of the executable path (see LaunchWorkingFolder).
DWORD LaunchProcess(const std::wstring& executablePath, const std::wstring& arguments);

// The PowerShell of the system folder (System32\WindowsPowerShell\v1.0), by
// its full path; empty when the system folder cannot be told. The test build
// names its stand-in instead.
std::wstring PowerShellPath();

// Runs PowerShell's Expand-Archive without a window and waits for it, at most
// two minutes (less in the test build); past that it is ended. An exit code
// of 0 is not taken on trust: `compare` then tells whether the folder holds
// what the archive does. True only when it ran, ended with 0 and the folder
// matches; the log gets the exit code, the first difference, or why it did
// not run or end.
bool ExtractArchive(const std::wstring& archivePath, const std::wstring& destinationFolder,
                    const std::function<std::optional<TreeDifference>()>& compare);
