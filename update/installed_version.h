// Reads the product version of the installed accounting application.
#pragma once

#include <optional>
#include <string>

#include "common/product_version.h"

// The ProductVersion of ZEL\zel_acc.exe. A missing executable is silent; one
// whose version cannot be read shows an error box. Nothing in either case.
std::optional<std::wstring> ReadInstalledVersion();
