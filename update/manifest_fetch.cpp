#include "update/manifest_fetch.h"

#include <cstdlib>

#include "common/utf8.h"
#include "update/pinned_request.h"
#include "update/server_identity.h"

namespace {

// The watchdog ends the fetch at the deadline. Under Wine it can only act
// between reads, so a single wait is kept short as well: a server silent for
// 10 s in the middle of a few hundred bytes is not going to finish.
constexpr HttpTimeouts kManifestTimeouts = {10000, 10000, 10000, 10000};

// The length the server announced; nothing when it sent none.
bool AnnouncedLength(HINTERNET request, unsigned long long& length) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    wchar_t* end = nullptr;
    length = std::wcstoull(text, &end, 10);
    return end != text;
}

bool IsTimeout(DWORD error) {
    return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT;
}

// Reads the whole body into `body`; on failure says why. A read never asks
// for more than has arrived: Wine finishes a read it has begun whatever the
// watchdog does.
const char* ReadWholeBody(PinnedRequest& http, std::string& body, DWORD& error) {
    HINTERNET request = http.request.get();
    unsigned long long announced = 0;
    const bool hasLength = AnnouncedLength(request, announced);
    if (hasLength && announced > kManifestMaxBytes) {
        return "too-large";
    }
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            error = GetLastError();
            return http.TimedOut() || IsTimeout(error) ? "timeout" : "cut";
        }
        if (available == 0) {
            break;
        }
        if (body.size() + available > kManifestMaxBytes) {
            return "too-large";
        }
        const size_t kept = body.size();
        body.resize(kept + available);
        DWORD read = 0;
        if (!WinHttpReadData(request, body.data() + kept, available, &read)) {
            error = GetLastError();
            return http.TimedOut() || IsTimeout(error) ? "timeout" : "cut";
        }
        body.resize(kept + read);
    }
    // A dropped connection ends the body without an error: only the
    // announced length tells.
    if (http.TimedOut()) {
        return "timeout";
    }
    return hasLength && body.size() != announced ? "cut" : nullptr;
}

}  // namespace

std::wstring BuildManifestPath(const std::wstring& installedVersion) {
    return std::wstring(kManifestPathPrefix) + L"/" + installedVersion;
}

bool FetchManifest(std::wstring installedVersion, std::wstring& out, FetchOutcome* outcome) {
    out.clear();
    FetchOutcome local;
    FetchOutcome& result = outcome != nullptr ? *outcome : local;
    result = {};
    RequestOptions options;
    options.timeouts = &kManifestTimeouts;
    options.headersDeadlineMs = kManifestDeadlineMs;
    options.deadlineCoversBody = true;
    PinnedRequest http;
    const bool opened = OpenPinnedRequest(BuildManifestPath(installedVersion), options, http);
    result.status = http.status;
    if (!opened) {
        result.failure = http.failure;
        result.error = http.error;
        return false;
    }
    std::string body;
    result.failure = ReadWholeBody(http, body, result.error);
    result.bytes = body.size();
    http.Close();
    if (result.failure == nullptr && !Utf8ToWide(body, out)) {
        result.failure = body.empty() ? "empty" : "utf8";
    }
    if (result.failure != nullptr) {
        out.clear();
        return false;
    }
    return true;
}
