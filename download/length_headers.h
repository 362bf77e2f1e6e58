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
