// Checks a release's signature with the vendor's public key (ECDSA P-256
// over SHA-256, by the platform's BCrypt).
#pragma once

#include <optional>
#include <string>

#include "update/release_statement.h"

enum class SignatureVerdict { kGood, kMissing, kMalformed, kBad };

// As logged: good, missing, malformed, bad.
const char* SignatureVerdictName(SignatureVerdict verdict);

// `statement` as ReleaseStatement made it (nothing: malformed); `signature`
// the manifest's value, the DER signature in hexadecimal.
SignatureVerdict VerifyReleaseSignature(const std::optional<std::wstring>& statement,
                                        const std::wstring& signature, const RawPublicKey& key);
