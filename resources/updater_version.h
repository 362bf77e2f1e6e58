// The updater's own version, shown in its file properties and written to the
// log at every start, so support can tell which build an office runs.
#pragma once

// The self-update compares the file version with the text the self-check
// reports, so the two must agree. Test builds may set other values.
#ifdef ZEL_UPDATER_VERSION_OVERRIDE
#include "updater_version_override.h"
#else
#define ZEL_UPDATER_VERSION_NUMBERS 1, 1, 0, 0
#define ZEL_UPDATER_VERSION_TEXT "1.1.0.0"
#endif
