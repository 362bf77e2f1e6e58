// The updater's own version, shown in its file properties and written to the
// log at every start, so support can tell which build an office runs.
#pragma once

// Set by the build (the CMake variable ZEL_UPDATER_VERSION), one header per
// updater program: the numbers of the file version and the same as text. The
// self-update compares the file version with the text the self-check
// reports, so both come from the one variable.
#include "updater_version_values.h"
