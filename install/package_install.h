// Installing a downloaded release: the installation folder ZEL is set aside
// as ZEL.bak, the archive unpacked into "update", which takes ZEL's place, and
// the application restarted. Whatever fails, ZEL is left holding a working
// application.
#pragma once

#include "common/office_paths.h"

// On success restarts the application and ends the updater (exit code 0); it
// returns false only when the archive could not be unpacked, after putting
// ZEL back and telling the user.
bool InstallPackage();

// An installation cut off between setting ZEL aside and moving the new one in
// leaves only ZEL.bak; this moves it back. True when it did.
bool HealInterruptedInstall();
