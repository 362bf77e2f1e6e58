// Dotted version numbers ("1.2.3.4", "3.1.0+12") read as four signed 32-bit
// components and compared in order.
#pragma once

#include <cstdint>
#include <string>

struct VersionQuad {
    int32_t part[4] = {0, 0, 0, 0};
};

// Reads the text the way swscanf(text, L"%d.%d.%d.%d") does, after every "+"
// has become ".": leading blanks before each number, an optional sign, and a
// full stop that must follow directly. Components that are not read stay 0.
// Digits beyond the 32-bit range saturate instead of wrapping.
VersionQuad ParseVersionQuad(std::wstring text);

// True exactly when the server's version is greater; equal is not newer.
bool IsNewerVersion(const VersionQuad& server, const VersionQuad& installed);

// Every "+" becomes ".", so a build suffix reads as the fourth component.
void ReplacePlusWithDot(std::wstring& text);
