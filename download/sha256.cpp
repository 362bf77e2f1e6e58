#include "download/sha256.h"

#include <climits>

Sha256::Sha256() {
    if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        algorithm_ = nullptr;
        return;
    }
    if (BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) != 0) {
        hash_ = nullptr;
    }
}

Sha256::~Sha256() {
    if (hash_ != nullptr) {
        BCryptDestroyHash(hash_);
    }
    if (algorithm_ != nullptr) {
        BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
}

void Sha256::Update(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0 && hash_ != nullptr) {
        const ULONG part = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
        BCryptHashData(hash_, const_cast<PUCHAR>(bytes), part, 0);
        bytes += part;
        size -= part;
    }
}

Sha256Digest Sha256::Finish() {
    Sha256Digest digest = {};
    if (hash_ != nullptr) {
        BCryptFinishHash(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0);
    }
    return digest;
}

bool ParseSha256Hex(const std::wstring& text, Sha256Digest& digest) {
    if (text.size() != 64) {
        return false;
    }
    auto nibble = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9')
            return c - L'0';
        if (c >= L'a' && c <= L'f')
            return c - L'a' + 10;
        if (c >= L'A' && c <= L'F')
            return c - L'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < 32; ++i) {
        const int high = nibble(text[2 * i]);
        const int low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        digest[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}
