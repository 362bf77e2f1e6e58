// The release the manifest offers, as the vendor's signature must cover it.
#pragma once

#include "update/release_signature.h"
#include "update/update_manifest.h"

// The fields in the form the updater acts on them: the archive's request
// path and the notes as the window shows them.
ReleaseFields SignedFieldsOf(const UpdateManifest& manifest);

SignatureVerdict CheckReleaseSignature(const UpdateManifest& manifest, const RawPublicKey& key);
