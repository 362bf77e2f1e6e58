#include "app/release_trust.h"

#include "app/notes_text.h"
#include "download/url_path.h"

ReleaseFields SignedFieldsOf(const UpdateManifest& manifest) {
    return {manifest.version, RequestPathFromUrl(manifest.url), manifest.sha256, manifest.mandatory,
            ShownNotes(manifest.notes)};
}

SignatureVerdict CheckReleaseSignature(const UpdateManifest& manifest, const RawPublicKey& key) {
    return VerifyReleaseSignature(ReleaseStatement(SignedFieldsOf(manifest)), manifest.signature,
                                  key);
}
