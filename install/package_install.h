// Installing a downloaded release. The archive is unpacked into "update"
// while the application keeps running and ZEL stays untouched; only then is
// this office's application closed and the folders swapped: ZEL becomes
// ZEL.bak and "update" becomes ZEL. Whatever fails, ZEL is left holding a
// working application and the user is told.
#pragma once

enum class InstallFailure { kUnpack, kFolderInUse };

// On success starts the new application and ends the updater (exit code 0).
// Returns only on failure, once the user has dismissed the error box.
InstallFailure InstallPackage();

// True when a failed installation had closed the application: whatever ends
// the updater then starts it again.
bool ApplicationClosedByFailedInstall();

// At start: moves back a ZEL.bak left alone by an installation cut off
// between its two moves, and removes folders earlier runs set aside.
void TidyOfficeFolder();
