// Checks a release's signature with the vendor's public key (ECDSA P-256
// over SHA-256, by the platform's BCrypt).
#pragma once

#include <optional>
#include <string>

#include "update/release_statement.h"

// kStale: good, but signed longer ago than the build's maximum age allows
// (or in the older form, which carries no time, when a maximum is set).
enum class SignatureVerdict { kGood, kMissing, kMalformed, kBad, kStale };

// As logged: good, missing, malformed, bad, stale.
const char* SignatureVerdictName(SignatureVerdict verdict);

// `statement` as ReleaseStatement made it (nothing: malformed, as is a
// statement UTF-8 cannot carry); `signature` the manifest's value, the DER
// signature in hexadecimal.
SignatureVerdict VerifyReleaseSignature(const std::optional<std::wstring>& statement,
                                        const std::wstring& signature, const RawPublicKey& key);
