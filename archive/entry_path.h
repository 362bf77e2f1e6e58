// Where an archive entry may be written below the folder it is unpacked
// into. Pure: the entry's name in, a relative Windows path out, or nothing
// when the name could lead anywhere but to a plain name inside that folder.
#pragma once

#include <optional>
#include <string>

namespace zip {

struct EntryPath {
    std::wstring relative;  // components joined by '\', without a trailing '\'
    bool folder = false;    // the name ended in '/' or '\'
};

// Refuses an empty name; a leading '/' or '\' (a root or a UNC share); any
// ':' (a drive letter or an alternate data stream); empty, "." and ".."
// components; characters Windows does not allow in names; components ending
// in '.' or ' ' (Windows drops those, so two names could meet); and the
// reserved device names (CON, NUL, COM1, ...), with or without extension.
std::optional<EntryPath> SafeEntryPath(const std::wstring& name);

}  // namespace zip
