// SHA-256 of a byte stream, fed chunk by chunk (Windows CNG).
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

#include "common/unique_handle.h"

using Sha256Digest = std::array<unsigned char, 32>;

class Sha256 {
  public:
    Sha256();

    bool ok() const { return static_cast<bool>(hash_); }
    void Update(const void* data, size_t size);
    Sha256Digest Finish();

  private:
    UniqueAlgorithmProvider algorithm_;
    UniqueHashObject hash_;
};

// Lower-case hexadecimal, as logged.
std::string Sha256ToHex(const Sha256Digest& digest);

// 64 hexadecimal digits, either case. False for anything else.
bool ParseSha256Hex(const std::wstring& text, Sha256Digest& digest);
