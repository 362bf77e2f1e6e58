// Reads the product version of the installed accounting application.
#pragma once

#include <optional>
#include <string>

// The ProductVersion of ZEL\zel_acc.exe. A missing executable is silent; one
// whose version cannot be read shows an error box. Nothing in either case.
std::optional<std::wstring> ReadInstalledVersion();

// The ProductVersion string of the first translation in the file's version
// resource; nothing when there is none or it is empty.
std::optional<std::wstring> ReadProductVersion(const std::wstring& path);
