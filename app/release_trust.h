// The release the manifest offers, as the vendor's signature must cover it.
#pragma once

#include <optional>

#include "update/pinned_request.h"
#include "update/release_signature.h"
#include "update/update_manifest.h"

// The fields in the form the updater acts on them: the url as it stands and
// its request path, the notes as the window shows them, and the length and
// signing time when the manifest has them.
ReleaseFields SignedFieldsOf(const UpdateManifest& manifest);

// The signature alone: good, missing, malformed or bad.
SignatureVerdict CheckReleaseSignature(const UpdateManifest& manifest, const RawPublicKey& key);

// A good signature turned stale when `maxAgeDays` is not 0 and the release
// was signed more than that many days before `now` (seconds since 1970), or
// carries no signing time at all.
SignatureVerdict WithFreshness(SignatureVerdict verdict, const UpdateManifest& manifest,
                               unsigned maxAgeDays, long long now);

// The archive's length the manifest states, in its exact form; nothing when
// it states none (or not in that form).
std::optional<unsigned long long> StatedLength(const UpdateManifest& manifest);

// The mirror the archive is fetched from first: the host and port of an https
// url, when the build checks release signatures and the signature covers the
// whole url (a release signed with its length and time), and it names another
// place than the update `server`. Nothing otherwise: without a signature only
// the pinned server's key vouches for the archive.
std::optional<RequestTarget> MirrorOf(const UpdateManifest& manifest, bool releasesSigned,
                                      const RequestTarget& server);

// Seconds since 1970 by the system clock.
long long SecondsSince1970();
