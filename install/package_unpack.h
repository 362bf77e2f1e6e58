// Unpacking the release archive into the staging folder: PowerShell's
// Expand-Archive first, as on any Windows; where it cannot start (policy,
// a removed PowerShell), fails (antivirus, constrained language mode),
// hangs, or says it is done while files are missing, the updater's own
// unpack does the job in a fresh folder.
#pragma once

#include <string>

// First checks that the volume has room for the archive's unpacked size, so
// that neither way starts a job the disk cannot take. True when the folder
// holds the archive's files; the log tells which way unpacked them, or why
// neither could.
bool UnpackPackage(const std::wstring& archivePath, const std::wstring& folder);
