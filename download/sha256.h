// SHA-256 of a byte stream, fed chunk by chunk (Windows CNG).
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstddef>
#include <string>

using Sha256Digest = std::array<unsigned char, 32>;

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool ok() const { return hash_ != nullptr; }
    void Update(const void* data, size_t size);
    Sha256Digest Finish();

  private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};

// 64 hexadecimal digits, either case. False for anything else.
bool ParseSha256Hex(const std::wstring& text, Sha256Digest& digest);
