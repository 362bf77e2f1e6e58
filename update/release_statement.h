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
    std::wstring version;
    std::wstring urlPath;  // the path the archive is asked for; the host is never used
    std::wstring sha256;
    bool mandatory = false;
    std::wstring notesShown;  // the notes as the window shows them
};

// ECDSA P-256 in the platform's raw forms: r then s; X then Y.
using RawSignature = std::array<unsigned char, 64>;
using RawPublicKey = std::array<unsigned char, 64>;

// The signed text, one "name=value" a line, notes last:
//   ZEL release 1\nproduct=ZEL_ACC\nversion=..\nurl_path=..\nsha256=<lower case>\n
//   mandatory=true|false\nnotes=...
// Nothing when it could be read two ways (a line break in a field before the
// notes) or the sha256 is not 64 hexadecimal digits.
std::optional<std::wstring> ReleaseStatement(const ReleaseFields& fields);

// Hexadecimal digits, either case, in pairs; nothing for anything else.
std::optional<std::vector<unsigned char>> ParseHexBytes(std::wstring_view text);

// A DER ECDSA-Sig-Value (what `openssl dgst -sign` writes) as r then s, each
// left-padded to 32 bytes. Nothing unless it is strict DER of two positive
// integers of at most 32 bytes.
std::optional<RawSignature> DerSignatureToRaw(const std::vector<unsigned char>& der);

// A P-256 public key from a PEM "PUBLIC KEY" block, 128 hexadecimal digits
// (X then Y) or 130 starting with 04 (the uncompressed point).
std::optional<RawPublicKey> ReadPublicKey(std::string_view text);
