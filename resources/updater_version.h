// The updater's own version, shown in its file properties and written to the
// log at every start, so support can tell which build an office runs.
#pragma once

#define ZEL_UPDATER_VERSION_NUMBERS 1, 1, 0, 0
#define ZEL_UPDATER_VERSION_TEXT "1.1.0.0"
