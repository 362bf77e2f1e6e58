// The version an executable carries in its version resource.
#pragma once

#include <optional>
#include <string>

// The ProductVersion string of the first translation in the file's version
// resource; nothing when there is none or it is empty.
std::optional<std::wstring> ReadProductVersion(const std::wstring& path);
