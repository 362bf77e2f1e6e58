// SHA-256 of a byte stream, fed chunk by chunk. Computed here rather than by
// the system: Wine's CNG hashes at about the speed of a local network, so the
// download would wait for it; the processor's SHA instructions are used where
// it has them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using Sha256Digest = std::array<unsigned char, 32>;

class Sha256 {
  public:
    // `useShaInstructions`: the instructions when the processor has them;
    // false always computes in plain code (the tests compare the two).
    explicit Sha256(bool useShaInstructions = true);

    bool ok() const { return true; }
    void Update(const void* data, size_t size);
    Sha256Digest Finish();

  private:
    void Compress(const unsigned char* blocks, size_t count);

    uint32_t state_[8];
    unsigned char pending_[64];
    size_t pendingBytes_ = 0;
    uint64_t totalBytes_ = 0;
    bool instructions_;
};

// Lower-case hexadecimal, as logged.
std::string Sha256ToHex(const Sha256Digest& digest);

// 64 hexadecimal digits, either case. False for anything else.
bool ParseSha256Hex(const std::wstring& text, Sha256Digest& digest);
