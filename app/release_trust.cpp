#include "app/release_trust.h"

#include <windows.h>

#include "app/notes_text.h"
#include "download/url_path.h"

ReleaseFields SignedFieldsOf(const UpdateManifest& manifest) {
    return {manifest.version, manifest.url,       RequestPathFromUrl(manifest.url),
            manifest.sha256,  manifest.mandatory, ShownNotes(manifest.notes),
            manifest.length,  manifest.signedAt};
}

SignatureVerdict CheckReleaseSignature(const UpdateManifest& manifest, const RawPublicKey& key) {
    return VerifyReleaseSignature(ReleaseStatement(SignedFieldsOf(manifest)), manifest.signature,
                                  key);
}

SignatureVerdict WithFreshness(SignatureVerdict verdict, const UpdateManifest& manifest,
                               unsigned maxAgeDays, long long now) {
    if (verdict != SignatureVerdict::kGood || maxAgeDays == 0) {
        return verdict;
    }
    const auto signedAt = manifest.signedAt ? ParseSigningTime(*manifest.signedAt) : std::nullopt;
    return signedAt && !IsStatementStale(*signedAt, now, maxAgeDays) ? verdict
                                                                     : SignatureVerdict::kStale;
}

std::optional<unsigned long long> StatedLength(const UpdateManifest& manifest) {
    return manifest.length ? ParseSignedLength(*manifest.length) : std::nullopt;
}

std::optional<RequestTarget> MirrorOf(const UpdateManifest& manifest, bool releasesSigned,
                                      const RequestTarget& server) {
    const bool wholeUrlSigned = manifest.length.has_value() && manifest.signedAt.has_value();
    const std::optional<HttpsUrl> url = ParseHttpsUrl(manifest.url);
    if (!releasesSigned || !wholeUrlSigned || !url) {
        return std::nullopt;
    }
    if (url->port == server.port && _wcsicmp(url->host.c_str(), server.host.c_str()) == 0) {
        return std::nullopt;
    }
    return RequestTarget{url->host, url->port, true};
}

long long SecondsSince1970() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // FILETIME counts 100 ns from 1601; 11644473600 s lie between the two.
    return static_cast<long long>(ticks / 10000000ull) - 11644473600ll;
}
