// Plans a differential download: which bytes of the new archive can be copied
// from the previous one, and which must be fetched. Pure: directories in,
// spans out, so that every rule is tested without a server or a file.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/zip_directory.h"

namespace delta {

// The bytes an entry owns in its archive: its local header, its data and
// whatever lies up to the next entry or the central directory (a data
// descriptor, for one).
struct Region {
    const zip::Entry* entry = nullptr;
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The entries' regions in the order they lie in the archive. The entries
// must come from zip::ReadDirectory, which has already refused overlaps and
// entries past `directoryOffset`.
std::vector<Region> EntryRegions(const std::vector<zip::Entry>& entries, uint64_t directoryOffset);

// A run of the new archive's bytes with one source.
struct Span {
    uint64_t offset = 0;  // in the new archive
    uint64_t length = 0;
    bool copy = false;  // from the previous archive at `from`; else fetched
    uint64_t from = 0;
    uint32_t entries = 0;  // entries of the new archive that begin inside it
};

struct Limits {
    // A copy this short between two fetches is fetched with them: a request
    // costs more than its bytes.
    uint64_t joinBelowBytes = 64 * 1024;
    // Beyond this many fetches the shortest copies between them are fetched
    // too; each request pays a round trip and a TLS handshake.
    uint32_t maxRequests = 16;
    // Above this share of the bytes still wanted, the whole file is cheaper.
    uint32_t maxFetchPercent = 60;
};

struct Plan {
    std::vector<Span> spans;  // in order, covering [start, end) without a gap
    uint32_t entriesCopied = 0;
    uint32_t entriesFetched = 0;
    uint64_t bytesCopied = 0;
    uint64_t bytesFetched = 0;
    uint32_t requests = 0;  // fetched spans
    bool worthwhile = false;
};

// Plans the new archive's bytes [start, end) (the part file already holds
// those before `start`, the end of the archive from `end` on is in memory).
// A new entry is copied when the previous archive has an entry of the same
// name, CRC-32, sizes, method, flags and time whose region is as long: with
// archives written the same way, its local header and data are then the same
// bytes. Everything else is fetched. `old` holds only regions whose local
// headers were checked. worthwhile tells whether the plan beats fetching the
// `wanted` bytes (from `start` to the archive's end) whole.
Plan PlanSpans(const std::vector<Region>& fresh, const std::vector<Region>& old, uint64_t start,
               uint64_t end, uint64_t wanted, const Limits& limits = {});

}  // namespace delta
