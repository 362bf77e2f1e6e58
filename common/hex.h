// Bytes as lower-case hexadecimal digits, for the log (digests, keys).
#pragma once

#include <cstddef>
#include <string>

inline std::string ToHex(const unsigned char* bytes, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < size; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 15];
    }
    return hex;
}
