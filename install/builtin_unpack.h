// The updater's own unpack, for offices where PowerShell is blocked (policy,
// antivirus, a removed PowerShell) or fails. Stored and deflated entries,
// each checked against its size and CRC-32. Every archive is treated as
// hostile: names are checked before anything is written (see
// zip::SafeEntryPath), links are neither made nor followed, the number of
// entries and their total size are bounded, and the disk must have room.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Limit on the total unpacked size of one archive.
inline constexpr uint64_t kMaxUnpackedBytes = 8ull << 30;

// What an archive unpacks to, as its central directory says.
struct UnpackedSize {
    uint64_t bytes = 0;
    uint32_t entries = 0;
};

// Nothing when the archive or its central directory cannot be read (logged
// as unpack.space result=unknown).
std::optional<UnpackedSize> ReadUnpackedSize(const std::wstring& archivePath);

// True when the volume that holds (or will hold) the folder has room for
// the files and a margin, or when its free space cannot be told. Logs
// unpack.space.
bool HasRoomToUnpack(const std::wstring& folder, const UnpackedSize& size);

// Where a folder unpacked by another way falls short of the archive.
struct TreeDifference {
    const char* reason = "";  // missing, size, or why the archive itself is refused
    std::string entry;
};

// Nothing when the folder holds every entry of the archive: each file with
// the size the directory gives, each folder as a folder. Else the first
// difference; an archive the built-in unpack would refuse (names, links,
// methods, sizes) counts as one too.
std::optional<TreeDifference> CompareUnpackedTree(const std::wstring& archivePath,
                                                  const std::wstring& folder);

// Unpacks the archive into the folder, which must not exist yet. Logs
// unpack.start and unpack.end way=builtin with the outcome, and on failure
// its reason (and the entry and the system's error where there is one). A
// failure leaves what was written for the caller to remove.
bool BuiltinUnpack(const std::wstring& archivePath, const std::wstring& folder);
