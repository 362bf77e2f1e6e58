#include "update/release_signature.h"

#include <windows.h>
#include <bcrypt.h>

#include "common/unique_handle.h"
#include "common/utf8.h"

namespace {

std::optional<std::array<unsigned char, 32>> Sha256Of(const std::string& bytes) {
    BCRYPT_ALG_HANDLE raw = nullptr;
    if (BCryptOpenAlgorithmProvider(&raw, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        return std::nullopt;
    }
    UniqueAlgorithmProvider algorithm(raw);
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (BCryptCreateHash(algorithm.get(), &rawHash, nullptr, 0, nullptr, 0, 0) != 0) {
        return std::nullopt;
    }
    UniqueHashObject hash(rawHash);
    std::array<unsigned char, 32> digest = {};
    if (BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                       static_cast<ULONG>(bytes.size()), 0) != 0 ||
        BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0) != 0) {
        return std::nullopt;
    }
    return digest;
}

bool Verifies(const std::array<unsigned char, 32>& digest, RawSignature signature,
              const RawPublicKey& key) {
    BCRYPT_ALG_HANDLE raw = nullptr;
    if (BCryptOpenAlgorithmProvider(&raw, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) {
        return false;
    }
    UniqueAlgorithmProvider algorithm(raw);
    struct {
        BCRYPT_ECCKEY_BLOB header;
        RawPublicKey point;
    } blob = {{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32}, key};
    BCRYPT_KEY_HANDLE rawKey = nullptr;
    if (BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &rawKey,
                            reinterpret_cast<PUCHAR>(&blob), sizeof(blob), 0) != 0) {
        return false;
    }
    UniqueKeyObject publicKey(rawKey);
    return BCryptVerifySignature(publicKey.get(), nullptr, const_cast<PUCHAR>(digest.data()),
                                 static_cast<ULONG>(digest.size()), signature.data(),
                                 static_cast<ULONG>(signature.size()), 0) == 0;
}

}  // namespace

const char* SignatureVerdictName(SignatureVerdict verdict) {
    switch (verdict) {
        case SignatureVerdict::kGood:
            return "good";
        case SignatureVerdict::kMissing:
            return "missing";
        case SignatureVerdict::kMalformed:
            return "malformed";
        case SignatureVerdict::kStale:
            return "stale";
        case SignatureVerdict::kBad:
            break;
    }
    return "bad";
}

SignatureVerdict VerifyReleaseSignature(const std::optional<std::wstring>& statement,
                                        const std::wstring& signature, const RawPublicKey& key) {
    if (signature.empty()) {
        return SignatureVerdict::kMissing;
    }
    const auto der = ParseHexBytes(signature);
    const auto raw = der ? DerSignatureToRaw(*der) : std::nullopt;
    const auto bytes = statement ? WideToUtf8Exact(*statement) : std::nullopt;
    if (!bytes || !raw) {
        return SignatureVerdict::kMalformed;
    }
    const auto digest = Sha256Of(*bytes);
    return digest && Verifies(*digest, *raw, key) ? SignatureVerdict::kGood
                                                  : SignatureVerdict::kBad;
}
