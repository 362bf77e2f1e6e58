// Reads the product version of the installed accounting application.
#pragma once

#include <string>

#include "common/office_paths.h"

// Stores the ProductVersion of ZEL\zel_acc.exe in UpdateInfo.installedVersion.
// A missing executable is silent; one whose version cannot be read shows an
// error box. Either way the stored text is left as it was.
bool ReadInstalledVersion();

// Replaces UpdateInfo.installedVersion with the ProductVersion string of the
// first translation in the file's version resource.
bool ReadProductVersion(const std::wstring& path);
