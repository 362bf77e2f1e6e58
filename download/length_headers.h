// Lengths in the package's response headers, read from their text: WinHTTP's
// numeric query stops at 32 bits (and under Wine its 64-bit form fails).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// "5000000000": decimal digits only, at most 2^64 - 1.
std::optional<uint64_t> ParseContentLength(std::wstring_view text);

struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t total = 0;
};

// "bytes 400-999/1000", with first <= last < total.
std::optional<ContentRange> ParseContentRange(std::wstring_view text);

// How long the archive may be: exactly its signed length when the release
// states one; otherwise at most `most` bytes, and only as an answer that
// says its length up front (no chunked answer, no answer that just runs on).
struct ArchiveBound {
    std::optional<uint64_t> exact = {};
    uint64_t most = 4ull << 30;
};

// Why an answer whose whole file is `total` bytes (nothing: the answer gives
// no length) is refused: "length-mismatch", "too-large" or "no-length";
// nothing when it is taken.
const char* RefuseLength(std::optional<uint64_t> total, const ArchiveBound& bound);
