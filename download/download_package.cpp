#include "download/download_package.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>

#include "common/log.h"
#include "download/chunk_writer.h"
#include "download/delta_download.h"
#include "download/length_headers.h"
#include "download/package_part.h"
#include "download/progress.h"
#include "download/response_headers.h"
#include "download/resume_record.h"
#include "download/sha256.h"
#include "download/url_path.h"
#include "update/pinned_request.h"
#include "update/update_report.h"

// A transfer that goes silent this long fails its attempt, and a failed
// attempt is followed by this pause. The test build waits less, so that its
// stalled and failing servers do not hold the suite up.
#ifndef ZEL_DOWNLOAD_RECEIVE_TIMEOUT_MS
#define ZEL_DOWNLOAD_RECEIVE_TIMEOUT_MS 30000
#endif
#ifndef ZEL_DOWNLOAD_RETRY_PAUSE_MS
#define ZEL_DOWNLOAD_RETRY_PAUSE_MS 1000
#endif
// Response headers must have arrived within this long of an attempt's start,
// however slowly they trickle in.
#ifndef ZEL_DOWNLOAD_HEADERS_DEADLINE_MS
#define ZEL_DOWNLOAD_HEADERS_DEADLINE_MS 60000
#endif

namespace {

constexpr int kIdleAttemptsAllowed = 3;
constexpr int kMaxAttempts = 100;
constexpr DWORD kPauseAfterFailureMs = ZEL_DOWNLOAD_RETRY_PAUSE_MS;
constexpr HttpTimeouts kDownloadTimeouts = {5000, 5000, 30000, ZEL_DOWNLOAD_RECEIVE_TIMEOUT_MS};
// Wine ends a read past the receive time-out with the socket's WSAETIMEDOUT
// rather than ERROR_WINHTTP_TIMEOUT.
constexpr DWORD kSocketTimedOut = 10060;

struct Job {
    std::wstring path;
    std::wstring sha256;
    std::optional<Sha256Digest> expected;
    std::wstring filePath;
    std::wstring partPath;
    ArchiveBound bound;
    RequestTarget target = UpdateServerTarget();
};

struct AttemptResult {
    bool done = false;         // the verified file is in place
    bool fileChanged = false;  // the server now names another version of the file
    uint64_t offset = 0;       // where the transfer continued from
    uint64_t kept = 0;         // bytes the part holds for the next attempt
    bool askAgain = false;     // a refused range: the whole file is asked for at once
    std::string end;           // how the attempt ended, as its log line says
    DWORD status = 0;          // the server's, when one was read
};

struct Transfer {
    uint64_t received = 0;
    bool complete = false;    // the server had nothing more to send
    bool pastLength = false;  // it had more than the archive's length: none of it was taken
    DWORD error = 0;          // of the read that failed
};

// One "download.attempt" line, whatever way the attempt ends.
struct AttemptLog {
    int n = 0;
    uint64_t offset = 0;
    uint64_t bytes = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    mutable std::string end{};

    template <typename... Extra>
    void Write(const Extra&... extra) const {
        for (const LogField& field : {LogField(extra)...}) {
            if (std::strcmp(field.key, "end") == 0) {
                end = field.value;
            }
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        const double seconds = took.count();
        const double kbs = seconds > 0 ? static_cast<double>(bytes) / 1024 / seconds : 0;
        NoteDownloadAttempt(bytes, {extra...});
        LogEvent("download.attempt", {{"n", n},
                                      {"offset", offset},
                                      {"bytes", bytes},
                                      {"seconds", seconds},
                                      {"speed_kbs", kbs},
                                      extra...});
    }
};

// Reads the body chunk by chunk, exactly as WinHTTP offers it, into the writer,
// up to `room` bytes: a chunk that would go past them ends the transfer unread.
Transfer ReadBody(HINTERNET request, uint64_t total, uint64_t offset, uint64_t room,
                  ChunkWriter& writer, DownloadSink& sink) {
    Transfer transfer;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            transfer.error = GetLastError();
            return transfer;
        }
        if (available == 0) {
            transfer.complete = true;
            return transfer;
        }
        if (available > room - transfer.received) {
            transfer.pastLength = true;
            return transfer;
        }
        DWORD read = 0;
        if (!WinHttpReadData(request, writer.Reserve(available), available, &read)) {
            transfer.error = GetLastError();
            writer.Commit(0);
            return transfer;
        }
        writer.Commit(read);
        transfer.received += read;
        if (writer.failed()) {
            return transfer;  // a full disk: reading on would only throw the rest away
        }

        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        const ProgressValues values =
            ComputeProgress(total, offset + transfer.received, transfer.received, elapsed.count());
        sink.OnProgress(values.percent, FormatProgressText(values));
    }
}

void LogHttpFailure(const AttemptLog& log, DWORD status, DWORD error) {
    if (error != 0) {
        log.Write(LogField("end", "http-error"), LogField("status", status),
                  LogField("error", ErrorWithText(error)));
    } else {
        log.Write(LogField("end", "http-error"), LogField("status", status));
    }
}

// The record of a part this attempt may continue, when there is one.
std::optional<ResumeRecord> UsableRecord(const Job& job) {
    std::optional<ResumeRecord> record = LoadResumeRecord(job.partPath);
    if (record && (!RecordContinues(*record, job.path, job.sha256, PartLength(job.partPath)) ||
                   RefuseLength(record->total, job.bound) != nullptr)) {
        record.reset();
    }
    return record;
}

// Sends the request, for the rest of the part when its record allows. The
// record of what the answer's body is, or nothing when the attempt ends here.
std::optional<ResumeRecord> Ask(const Job& job, PinnedRequest& http, AttemptLog& log,
                                AttemptResult& result) {
    const std::optional<ResumeRecord> resume = UsableRecord(job);
    RequestOptions options;
    options.timeouts = &kDownloadTimeouts;
    options.headersDeadlineMs = ZEL_DOWNLOAD_HEADERS_DEADLINE_MS;
    if (resume) {
        options.extraHeaders = L"Range: bytes=" + std::to_wstring(resume->kept) +
                               L"-\r\nIf-Range: " + resume->validator;
        options.acceptPartial = true;
        result.offset = result.kept = log.offset = resume->kept;
    }
    if (!OpenRequest(job.target, job.path, options, http)) {
        // A server or front end that refuses the range (412, 416, 400, 500)
        // would refuse it at every later attempt as well: the part goes, and
        // the whole file is asked for at once.
        if (resume && http.status != 0) {
            DiscardPart(job.partPath);
            result.kept = 0;
            result.askAgain = true;
            log.Write(LogField("end", "http-error"), LogField("status", http.status),
                      LogField("reason", "range-refused"));
            return std::nullopt;
        }
        LogHttpFailure(log, http.status, http.error);
        return std::nullopt;
    }
    if (http.status == HTTP_STATUS_PARTIAL_CONTENT) {
        const std::optional<ContentRange> range =
            ParseContentRange(QueryHeaderText(http.request.get(), WINHTTP_QUERY_CONTENT_RANGE));
        if (!resume || !range || !RangeContinues(*resume, *range)) {
            DiscardPart(job.partPath);
            result.kept = 0;
            log.Write(LogField("end", "http-error"), LogField("status", http.status),
                      LogField("reason", "range-mismatch"));
            return std::nullopt;
        }
        return resume;
    }
    // The whole file: the server ignored the range, or the file changed.
    ResumeRecord record{job.path, job.sha256, ValidatorOf(http.request.get()), 0, 0};
    result.fileChanged = resume && record.validator != resume->validator;
    result.offset = log.offset = 0;
    const std::optional<uint64_t> length =
        ParseContentLength(QueryHeaderText(http.request.get(), WINHTTP_QUERY_CONTENT_LENGTH));
    if (const char* refused = RefuseLength(length, job.bound)) {
        const bool chunked =
            QueryHeaderText(http.request.get(), WINHTTP_QUERY_TRANSFER_ENCODING) == L"chunked";
        log.Write(LogField("end", refused), LogField("status", http.status),
                  LogField("length", length ? std::to_string(*length) : std::string("none")),
                  LogField("chunked", chunked),
                  LogField("bound", job.bound.exact.value_or(job.bound.most)));
        return std::nullopt;
    }
    // Without a Content-Length the signed length is the whole file's.
    record.total = length.value_or(job.bound.exact.value_or(0));
    return record;
}

void Fail(const Job& job, PartFile& part, AttemptResult& result) {
    part.file.reset();
    DiscardPart(job.partPath);
    result.kept = 0;
}

// After the transfer: a cut part is kept for the next attempt when it can be
// continued, a whole one becomes the file once it is verified.
void Conclude(const Job& job, ResumeRecord record, PartFile& part, const Transfer& transfer,
              const AttemptLog& log, AttemptResult& result) {
    const uint64_t kept = record.kept + transfer.received;
    const bool whole = record.total > 0 ? kept == record.total : transfer.complete;
    if (!whole) {
        // Kept only once the bytes are on disk; without a validator and a
        // length nothing could prove that a later answer continues this file.
        if (record.total > 0 && !record.validator.empty() && kept < record.total &&
            FlushFileBuffers(part.file.get())) {
            record.kept = kept;
            SaveResumeRecord(job.partPath, record);
            result.kept = kept;
        } else {
            Fail(job, part, result);
        }
        const bool timedOut =
            transfer.error == ERROR_WINHTTP_TIMEOUT || transfer.error == kSocketTimedOut;
        const char* end = timedOut ? "timeout" : "cut";
        if (transfer.error != 0) {
            log.Write(LogField("end", end), LogField("received", kept),
                      LogField("total", record.total),
                      LogField("error", ErrorWithText(transfer.error)));
        } else {
            log.Write(LogField("end", end), LogField("received", kept),
                      LogField("total", record.total));
        }
        return;
    }
    const Sha256Digest digest = part.hash.Finish();
    if (job.expected && (!part.hash.ok() || digest != *job.expected)) {
        Fail(job, part, result);
        log.Write(LogField("end", "digest-mismatch"),
                  LogField("expected", Sha256ToHex(*job.expected)),
                  LogField("actual", Sha256ToHex(digest)));
        return;
    }
    const bool flushed = FlushFileBuffers(part.file.get()) != FALSE;
    part.file.reset();
    if (!MoveFileExW(job.partPath.c_str(), job.filePath.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        // Something holds the file (antivirus scanning the older one): the
        // verified part stays, and the next attempt only moves it.
        record.kept = kept;
        if (flushed && kept == record.total && SaveResumeRecord(job.partPath, record)) {
            result.kept = kept;
        } else {
            Fail(job, part, result);
        }
        log.Write(LogField("end", "write-error"), LogField("kept", result.kept),
                  LogField("error", ErrorWithText(error)));
        return;
    }
    RemoveResumeRecord(job.partPath);
    log.Write(LogField("end", "complete"));
    result.done = true;
}

// A verified part whose move onto the file failed, when there is one.
std::optional<ResumeRecord> WholePart(const Job& job) {
    std::optional<ResumeRecord> record = LoadResumeRecord(job.partPath);
    if (record && record->path == job.path && record->sha256 == job.sha256 &&
        record->kept == record->total && PartLength(job.partPath) == record->total &&
        RefuseLength(record->total, job.bound) == nullptr) {
        return record;
    }
    return std::nullopt;
}

AttemptResult Attempt(const Job& job, AttemptLog& log, PinnedRequest& http, DownloadSink& sink) {
    AttemptResult result;
    std::optional<ResumeRecord> record = WholePart(job);
    const bool fetch = !record;
    if (fetch) {
        record = Ask(job, http, log, result);
    } else {
        result.offset = result.kept = log.offset = record->kept;
    }
    if (!record) {
        return result;
    }
    PartFile part;
    DWORD error = 0;
    if (!OpenPart(job.partPath, record->kept, part, error)) {
        Fail(job, part, result);
        log.Write(LogField("end", "write-error"), LogField("error", ErrorWithText(error)));
        return result;
    }
    ChunkWriter::Checkpoint checkpoint;
    if (record->total > 0 && !record->validator.empty()) {
        checkpoint = [partPath = job.partPath, saved = *record](uint64_t written) {
            ResumeRecord now = saved;
            now.kept += written;
            SaveResumeRecord(partPath, now);
        };
    }
    Transfer transfer;
    transfer.complete = !fetch;
    bool wrote = true;
    if (fetch) {
        ChunkWriter writer(part.file.get(), part.hash, std::move(checkpoint));
        transfer = ReadBody(http.request.get(), record->total, record->kept,
                            record->total - std::min(record->total, record->kept), writer, sink);
        wrote = writer.Finish();
        error = writer.error();
    }
    log.bytes = transfer.received;
    if (!wrote) {
        Fail(job, part, result);
        log.Write(LogField("end", "write-error"), LogField("error", ErrorWithText(error)));
        return result;
    }
    if (transfer.pastLength) {
        // A server that sends more than the archive's length is not sending
        // the archive; what it sent is not kept.
        Fail(job, part, result);
        log.Write(LogField("end", "past-length"), LogField("received", record->kept + log.bytes),
                  LogField("total", record->total));
        return result;
    }
    Conclude(job, *record, part, transfer, log, result);
    return result;
}

// The download goes on at the update server; the log says why.
void LeaveMirror(Job& job, const char* stage, const std::string& reason, DWORD status) {
    LogEvent("download.fallback", {{"from", "mirror"},
                                   {"to", "origin"},
                                   {"stage", stage},
                                   {"reason", reason},
                                   {"status", status}});
    job.target = UpdateServerTarget();
}

// A mirror keeps the download while it gets further (a cut transfer is
// resumed there) or only refused a range (the whole file is asked of it, as of
// the update server); a full disk is the office's, not the mirror's. Anything
// else (no connection, a status, a length or digest that is not the signed
// one, a transfer that added nothing) sends the download to the server.
bool MirrorFailed(const AttemptResult& attempt, bool progressed) {
    return !progressed && !attempt.askAgain && attempt.end != "write-error";
}

// The differential download, from the mirror and, when the mirror could not
// be asked at all, from the update server.
bool DownloadDeltaFrom(Job& job, DownloadSink& sink) {
    DeltaJob delta{job.path,
                   job.sha256,
                   job.expected,
                   job.filePath,
                   job.partPath,
                   &kDownloadTimeouts,
                   ZEL_DOWNLOAD_HEADERS_DEADLINE_MS,
                   kPauseAfterFailureMs,
                   job.bound,
                   job.target};
    DeltaOutcome outcome = DownloadDelta(delta, sink);
    if (!outcome.done && outcome.serverFailed && job.target.mirror) {
        LeaveMirror(job, "delta", "http-error", 0);
        delta.target = job.target;
        outcome = DownloadDelta(delta, sink);
    }
    return outcome.done;
}

// One attempt, and how it ended.
AttemptResult RunAttempt(const Job& job, int n, DownloadSink& sink) {
    AttemptLog log{n};
    PinnedRequest http;
    AttemptResult result = Attempt(job, log, http, sink);
    result.end = log.end;
    result.status = http.status;
    return result;
}

}  // namespace

bool DownloadPackage(const std::wstring& url, const std::wstring& sha256,
                     const std::wstring& filePath, DownloadSink& sink, const ArchiveBound& bound,
                     const std::optional<RequestTarget>& mirror) {
    Job job{RequestPathFromUrl(url), sha256, std::nullopt, filePath, filePath + L".part", bound};
    if (mirror) {
        job.target = *mirror;
        LogEvent("download.mirror", {{"host", mirror->host}, {"port", mirror->port}});
    }
    // A manifest without a digest is downloaded unchecked, as older servers
    // send none; a digest that cannot be read checks nothing, so it fails.
    if (!sha256.empty()) {
        Sha256Digest expected;
        if (!ParseSha256Hex(sha256, expected)) {
            LogEvent("download",
                     {{"result", "failed"}, {"attempts", 0}, {"reason", "malformed-sha256"}});
            NoteDownloadAttempt(0, {{"reason", "malformed-sha256"}});
            return false;
        }
        job.expected = expected;
    }
    // An attempt adds something when the part ends up longer than it ever
    // was in this run; a restart that only fetches again what was thrown
    // away does not.
    uint64_t best = 0;
    int idle = 0;
    int attempts = 0;
    // The previous archive may hold most of this one, unless a verified part
    // only waits to be moved.
    bool done = !WholePart(job) && DownloadDeltaFrom(job, sink);
    while (!done && idle < kIdleAttemptsAllowed && attempts < kMaxAttempts) {
        const AttemptResult attempt = RunAttempt(job, ++attempts, sink);
        done = attempt.done;
        if (done) {
            break;
        }
        if (attempt.fileChanged) {
            best = 0;
        }
        const bool progressed = attempt.kept > std::max(best, attempt.offset);
        if (progressed) {
            best = attempt.kept;
            idle = 0;
        } else {
            ++idle;
        }
        if (job.target.mirror && MirrorFailed(attempt, progressed)) {
            // The update server is asked at once, with attempts of its own.
            LeaveMirror(job, "download", attempt.end, attempt.status);
            idle = 0;
            continue;
        }
        if (!attempt.askAgain) {
            Sleep(kPauseAfterFailureMs);
        }
    }
    const char* source = job.target.mirror ? "mirror" : "origin";
    NoteDownloadSource(source);
    LogEvent("download",
             {{"result", done ? "ok" : "failed"}, {"attempts", attempts}, {"source", source}});
    return done;
}
