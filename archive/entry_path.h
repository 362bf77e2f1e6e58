// Where an archive entry may be written below the folder it is unpacked
// into. Pure: the entry's name in, a relative Windows path out, or nothing
// when the name could lead anywhere but to a plain name inside that folder.
#pragma once

#include <optional>
#include <string>
#include <unordered_set>

namespace zip {

struct EntryPath {
    std::wstring relative;  // components joined by '\', without a trailing '\'
    bool folder = false;    // the name ended in '/' or '\'
};

// Refuses an empty name; a leading '/' or '\' (a root or a UNC share); any
// ':' (a drive letter or an alternate data stream); empty, "." and ".."
// components; characters Windows does not allow in names; components ending
// in '.' or ' ' (Windows drops those, so two names could meet); components
// holding '~' and a digit, which may be another file's short 8.3 alias
// (PROGRA~1, ZEL_AC~1.EXE); and the reserved device names (CON, NUL, COM0-9,
// LPT0-9, ...), with or without extension.
std::optional<EntryPath> SafeEntryPath(const std::wstring& name);

// The paths of one archive's entries. Windows compares names without case,
// so a second entry that differs from an earlier one only in case would
// overwrite it: Add refuses it, as it refuses the very same path twice.
class EntryPathSet {
  public:
    bool Add(const EntryPath& path);

  private:
    std::unordered_set<std::wstring> folded_;
};

}  // namespace zip
