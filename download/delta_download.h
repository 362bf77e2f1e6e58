// The differential download: the new archive built from the previous one
// (zel.zip) and ranged requests for what changed. Nothing is needed on the
// server beyond byte ranges and a validator; the manifest's SHA-256 proves
// the result whatever its bytes came from.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "download/download_sink.h"
#include "download/length_headers.h"
#include "download/sha256.h"
#include "update/pinned_request.h"

struct DeltaJob {
    std::wstring path;    // request path of the new archive
    std::wstring sha256;  // the manifest's digest as given, the resume record's key
    std::optional<Sha256Digest> expected;
    std::wstring filePath;  // the previous archive, replaced by the new one
    std::wstring partPath;
    // As the whole download's requests: time-outs, the deadline for the
    // response headers, and the pause before a cut range is asked again.
    const HttpTimeouts* timeouts = nullptr;
    DWORD headersDeadlineMs = 0;
    DWORD retryPauseMs = 0;
    // The archive's total (every Content-Range's) must keep to it.
    ArchiveBound bound;
    // The update server, or the mirror a signed release names.
    RequestTarget target = UpdateServerTarget();
};

struct DeltaOutcome {
    bool done = false;
    // The server could not be asked at all (no connection, a refused status
    // or certificate) before any byte of the new archive came.
    bool serverFailed = false;
};

// Fetches the new archive's directory with ranged requests, plans it against
// the previous archive's, and writes the part in order: entries that are the
// same copied from the previous archive, everything else fetched. True once
// the part, verified by length and SHA-256, has replaced the previous archive.
// Not done when it does not apply (no digest, no readable previous archive, a
// server without ranges or a validator, an archive it does not understand,
// a plan that would fetch most of the file anyway, a total the bound refuses,
// a directory that does not end where the end record begins) or fails: the part then
// holds only bytes a normal download may resume from (with their record), or
// nothing, and the previous archive is as it was.
DeltaOutcome DownloadDelta(const DeltaJob& job, DownloadSink& sink);
