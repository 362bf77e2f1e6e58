// What a release signature covers, and the text forms in which the signature
// and the vendor's public key travel. Pure: no platform calls, so the
// publisher's tool and the tests see exactly what the updater signs.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Everything the updater acts on, in the form it acts on it.
struct ReleaseFields {
    std::wstring version = {};
    std::wstring url = {};      // the manifest's url as it stands (the newer form signs it whole)
    std::wstring urlPath = {};  // the path the archive is asked for; the host is never used
    std::wstring sha256 = {};
    bool mandatory = false;
    std::wstring notesShown = {};  // the notes as the window shows them
    // The newer form only: the archive's exact length and the UTC time of
    // signing. Both absent: a release signed in the older form.
    std::optional<std::wstring> length = {};
    std::optional<std::wstring> signedAt = {};
};

// ECDSA P-256 in the platform's raw forms: r then s; X then Y.
using RawSignature = std::array<unsigned char, 64>;
using RawPublicKey = std::array<unsigned char, 64>;

// The signed text, one "name=value" a line, notes last. With a length and a
// signing time:
//   ZEL release 2\nproduct=ZEL_ACC\nversion=..\nurl=..\nlength=<decimal>\n
//   sha256=<lower case>\nmandatory=true|false\nsigned=YYYY-MM-DDTHH:MM:SSZ\nnotes=...
// With neither (releases signed before the length and time were added):
//   ZEL release 1\nproduct=ZEL_ACC\nversion=..\nurl_path=..\nsha256=<lower case>\n
//   mandatory=true|false\nnotes=...
// Nothing when it could be read two ways (a line break in a field before the
// notes), the sha256 is not 64 hexadecimal digits, only one of length and
// time is there, or either is not in its exact form.
std::optional<std::wstring> ReleaseStatement(const ReleaseFields& fields);

// A decimal length without sign or leading zeros that fits 64 bits.
std::optional<unsigned long long> ParseSignedLength(std::wstring_view text);

// Seconds since 1970-01-01 of a valid "YYYY-MM-DDTHH:MM:SSZ" (years from 1970).
std::optional<long long> ParseSigningTime(std::wstring_view text);

// True when a statement signed at `signedAt` is more than `maxAgeDays` days
// before `now` (both seconds since 1970). A limit of 0 is no limit.
bool IsStatementStale(long long signedAt, long long now, unsigned maxAgeDays);

// Hexadecimal digits, either case, in pairs; nothing for anything else.
std::optional<std::vector<unsigned char>> ParseHexBytes(std::wstring_view text);

// A DER ECDSA-Sig-Value (what `openssl dgst -sign` writes) as r then s, each
// left-padded to 32 bytes. Nothing unless it is strict DER of two positive
// integers of at most 32 bytes.
std::optional<RawSignature> DerSignatureToRaw(const std::vector<unsigned char>& der);

// A P-256 public key from a PEM "PUBLIC KEY" block, 128 hexadecimal digits
// (X then Y) or 130 starting with 04 (the uncompressed point).
std::optional<RawPublicKey> ReadPublicKey(std::string_view text);
