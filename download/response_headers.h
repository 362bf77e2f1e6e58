// Text headers of a download's response, read the same way by the whole and
// the differential download.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

// A header's value as text; empty when absent or unreasonably long.
std::wstring QueryHeaderText(HINTERNET request, DWORD query);

// What lets a later request ask for more of this very file: the ETag, else
// the Last-Modified; empty when the server sent neither, or one that could not
// be sent back as it is.
std::wstring ValidatorOf(HINTERNET request);
