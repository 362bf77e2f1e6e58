// Installing a downloaded release. The archive is unpacked into "update"
// while the application keeps running and ZEL stays untouched; only then is
// this office's application closed and the folders swapped: ZEL becomes
// ZEL.bak and "update" becomes ZEL. Whatever fails, ZEL is left holding a
// working application and the user is told.
#pragma once

#include <string>

enum class InstallFailure { kUnpack, kWrongVersion, kFolderInUse };

// `announcedVersion` is the manifest's: the unpacked zel_acc.exe must carry
// exactly this ProductVersion, or nothing is moved. On success starts the new
// application and ends the updater (exit code 0); a new application that
// cannot be started is replaced by the old one again before the updater
// ends. Returns only on failure, once the user has dismissed the error box.
InstallFailure InstallPackage(const std::wstring& announcedVersion);

// What the error box and the status line say about the failure.
const wchar_t* InstallFailureText(InstallFailure failure);

// True when a failed installation had closed the application: whatever ends
// the updater then starts it again.
bool ApplicationClosedByFailedInstall();

// At start: moves back a ZEL.bak left alone by an installation cut off
// between its two moves (retried while something holds it), and removes
// folders earlier runs set aside. False when ZEL is missing while ZEL.bak
// still holds the application: no installation may start then.
bool TidyOfficeFolder();
