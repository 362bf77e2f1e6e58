#include "download/sha256.h"

#include <climits>

#include "common/hex.h"

Sha256::Sha256() {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        return;
    }
    algorithm_.reset(algorithm);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptCreateHash(algorithm_.get(), &hash, nullptr, 0, nullptr, 0, 0) == 0) {
        hash_.reset(hash);
    }
}

void Sha256::Update(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0 && hash_) {
        const ULONG part = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
        BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes), part, 0);
        bytes += part;
        size -= part;
    }
}

Sha256Digest Sha256::Finish() {
    Sha256Digest digest = {};
    if (hash_) {
        BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
    }
    return digest;
}

std::string Sha256ToHex(const Sha256Digest& digest) {
    return ToHex(digest.data(), digest.size());
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
