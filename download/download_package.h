// Downloads the release archive from the update server into a file,
// reporting progress to a sink after every chunk.
#pragma once

#include <optional>
#include <string>

#include "download/download_sink.h"
#include "download/length_headers.h"
#include "update/pinned_request.h"

// The body goes to "<file>.part" and becomes the file only when the whole of
// it arrived (as many bytes as the server announced) and, when `sha256` is
// given, its SHA-256 matched (a malformed one fails at once); a failed
// download leaves an earlier file as it was. A cut transfer keeps its bytes,
// and the next attempt, or the next run, asks only for the rest when the
// server can name the file's version (ETag or Last-Modified); a refused range
// drops them and asks for the whole file at once. A verified part that could
// not replace the file is kept and only moved by the next attempt. Attempts
// are a second apart; three in a row that add nothing end the download, and
// a run makes at most 100.
// Before the first attempt, an earlier file at `filePath` may lend the
// entries the new archive shares with it (see delta_download.h).
// The archive is held to `bound`: an answer whose length (Content-Length or
// Content-Range total) breaks it, or that goes on past the length, ends its
// attempt before a byte more is written, so the part never grows beyond it.
// With a `mirror`, the url's path is asked of it first, resumed and
// differential downloads included; once it fails (no connection, a status, a
// length or digest that is not the release's, a transfer that gets nowhere)
// the rest of the download goes to the update server.
bool DownloadPackage(const std::wstring& url, const std::wstring& sha256,
                     const std::wstring& filePath, DownloadSink& sink,
                     const ArchiveBound& bound = {},
                     const std::optional<RequestTarget>& mirror = std::nullopt);
