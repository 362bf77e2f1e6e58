// Reads the directory of a zip archive: the end record, the central
// directory and the local headers. Pure: bytes in, entries out. Both the
// built-in unpack and the differential download read archives through it,
// and both treat every archive as hostile, so every offset, size and count is
// checked against the archive's length before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zip {

// Limits on what this reader accepts; anything beyond is refused.
inline constexpr uint32_t kMaxEntries = 20000;
inline constexpr size_t kMaxNameBytes = 1024;
// A caller reads the whole central directory into memory: this bounds it
// (real ones take about 100 bytes an entry).
inline constexpr uint64_t kMaxDirectoryBytes = 16u << 20;
// Bytes at the end of an archive that can hold the end record and its
// comment (the comment length field is 16 bits).
inline constexpr size_t kEndSearchBytes = 22 + 0xFFFF;
inline constexpr size_t kLocalHeaderFixedBytes = 30;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagUtf8 = 0x0800;

// Where the central directory lies, from the end record.
struct DirectoryLocation {
    uint64_t offset = 0;  // of the first central header
    uint64_t size = 0;    // bytes of all central headers
    uint32_t entries = 0;
    uint64_t endOffset = 0;     // of the end record itself
    uint16_t commentBytes = 0;  // of the archive comment after it
};

struct Entry {
    std::string name;  // as stored: UTF-8 when kFlagUtf8 is set, else the OEM code page
    uint16_t versionMadeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t modTime = 0;
    uint16_t modDate = 0;
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t localHeaderOffset = 0;
    uint32_t externalAttributes = 0;
    // Where the next entry's local header (or the directory) begins: this
    // entry's header, extra field and data must all end there.
    uint64_t dataLimit = 0;
};

// Finds the end record in `tail`, the last bytes of an archive of
// `archiveSize` bytes. Refuses zip64 archives, archives on several disks, a
// directory that does not fit before the end record and one larger than
// kMaxDirectoryBytes.
std::optional<DirectoryLocation> FindDirectory(std::span<const uint8_t> tail, uint64_t archiveSize);

// Reads the central directory (`directory` holds exactly location.size bytes
// from location.offset). Refuses a count that does not match, truncated or
// over-long headers, entries whose data would reach past the directory,
// overlapping entries and encrypted entries.
std::optional<std::vector<Entry>> ReadDirectory(std::span<const uint8_t> directory,
                                                const DirectoryLocation& location);

// The local header of an entry, as found at entry.localHeaderOffset.
struct LocalHeader {
    uint64_t dataOffset = 0;   // of the entry's data in the archive
    uint64_t headerBytes = 0;  // fixed part, name and extra field
};

// Reads the local header in `bytes` (at least the fixed part, name and extra
// field), checking that it names the same entry as the central directory.
// The entry's data, placed after the local header's own name and extra
// field, must end by entry.dataLimit and by `archiveSize`.
std::optional<LocalHeader> ReadLocalHeader(std::span<const uint8_t> bytes, const Entry& entry,
                                           uint64_t archiveSize);

// Bytes of the local header's variable part (name and extra field), read
// from the fixed part alone, so that a caller knows how much to read.
std::optional<uint64_t> LocalHeaderBytes(std::span<const uint8_t> fixedPart);

}  // namespace zip
