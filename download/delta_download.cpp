#include "download/delta_download.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "archive/zip_directory.h"
#include "common/log.h"
#include "common/unique_handle.h"
#include "download/chunk_writer.h"
#include "download/delta_plan.h"
#include "download/length_headers.h"
#include "download/package_part.h"
#include "download/progress.h"
#include "download/response_headers.h"
#include "download/resume_record.h"
#include "update/update_report.h"

namespace {

// A central directory longer than this is not read, from either archive.
constexpr uint64_t kMaxDirectoryBytes = 8 * 1024 * 1024;
// The first request asks for the previous directory's length and this much
// more: the new directory is about as long, and one request then brings it
// with the end record.
constexpr uint64_t kTailSlackBytes = 4096;
constexpr uint64_t kEndRecordBytes = 22;
constexpr DWORD kBlockBytes = 64 * 1024;
// A local header is read in one piece of at most this; an entry with a longer
// one (a huge extra field) is fetched rather than copied.
constexpr DWORD kLocalHeaderReadBytes = 4096;
// A cut range is asked for again from where it stopped; this many requests in
// a row that add nothing, or this many in all, end the differential download.
constexpr int kIdleRequestsAllowed = 3;
constexpr int kMaxRequestsInAll = 100;

bool ReadAt(HANDLE file, uint64_t offset, void* into, DWORD size) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return ReadFile(file, into, size, &read, &at) && read == size;
}

struct OldArchive {
    UniqueFileHandle file;
    uint64_t size = 0;
    zip::DirectoryLocation location;
    std::vector<zip::Entry> entries;
    // The regions of entries whose local header agrees with the directory.
    std::vector<delta::Region> usable;
};

// Reads the previous archive's directory, read-only and shared for reading
// only, so that it cannot change while it lends its bytes. Nothing when it
// can be read and understood, else the reason.
const char* ReadPrevious(const std::wstring& path, OldArchive& old) {
    old.file.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!old.file || !GetFileSizeEx(old.file.get(), &size)) {
        return "no-previous";
    }
    old.size = static_cast<uint64_t>(size.QuadPart);
    std::vector<uint8_t> tail(
        static_cast<size_t>(std::min<uint64_t>(old.size, zip::kEndSearchBytes)));
    if (tail.empty() || !ReadAt(old.file.get(), old.size - tail.size(), tail.data(),
                                static_cast<DWORD>(tail.size()))) {
        return "previous-not-understood";
    }
    const std::optional<zip::DirectoryLocation> location = zip::FindDirectory(tail, old.size);
    if (!location || location->size > kMaxDirectoryBytes) {
        return "previous-not-understood";
    }
    std::vector<uint8_t> directory(static_cast<size_t>(location->size));
    std::optional<std::vector<zip::Entry>> entries;
    if (!ReadAt(old.file.get(), location->offset, directory.data(),
                static_cast<DWORD>(directory.size())) ||
        !(entries = zip::ReadDirectory(directory, *location))) {
        return "previous-not-understood";
    }
    old.location = *location;
    old.entries = std::move(*entries);
    std::vector<uint8_t> header(kLocalHeaderReadBytes);
    for (const delta::Region& region : delta::EntryRegions(old.entries, old.location.offset)) {
        const DWORD bytes = static_cast<DWORD>(std::min<uint64_t>(region.length, header.size()));
        if (!ReadAt(old.file.get(), region.offset, header.data(), bytes)) {
            continue;
        }
        const std::optional<zip::LocalHeader> local =
            zip::ReadLocalHeader(std::span(header.data(), bytes), *region.entry, old.size);
        if (local && local->headerBytes + region.entry->compressedSize <= region.length) {
            old.usable.push_back(region);
        }
    }
    return nullptr;
}

struct NewArchive {
    uint64_t total = 0;
    std::wstring validator;
    uint64_t tailFrom = 0;  // `tail` holds the bytes from here to the end
    std::vector<uint8_t> tail;
    zip::DirectoryLocation location;
    std::vector<zip::Entry> entries;
};

// Receives a body into memory, as ChunkWriter receives it into the part.
class MemoryOut {
  public:
    explicit MemoryOut(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    char* Reserve(size_t size) {
        used_ = bytes_.size();
        bytes_.resize(used_ + size);
        return reinterpret_cast<char*>(bytes_.data() + used_);
    }
    void Commit(size_t filled) { bytes_.resize(used_ + filled); }

  private:
    std::vector<uint8_t>& bytes_;
    size_t used_ = 0;
};

// Time spent on the network, so that the speed shown is the transfer's and
// not the copies'.
class NetworkClock {
  public:
    void Start() { since_ = std::chrono::steady_clock::now(); }
    void Stop() {
        seconds_ = Seconds();
        since_.reset();
    }
    double Seconds() const {
        if (!since_) {
            return seconds_;
        }
        const std::chrono::duration<double> running = std::chrono::steady_clock::now() - *since_;
        return seconds_ + running.count();
    }

  private:
    double seconds_ = 0;
    std::optional<std::chrono::steady_clock::time_point> since_;
};

class DeltaRun {
  public:
    DeltaRun(const DeltaJob& job, DownloadSink& sink) : job_(job), sink_(sink) {}

    DeltaOutcome Run() {
        const auto start = std::chrono::steady_clock::now();
        OldArchive old;
        std::optional<ResumeRecord> resume = LoadResumeRecord(job_.partPath);
        if (resume &&
            !RecordContinues(*resume, job_.path, job_.sha256, PartLength(job_.partPath))) {
            resume.reset();
        }
        NewArchive fresh;
        bool done = false;
        if (!job_.expected) {
            reason_ = "no-digest";
        } else if ((reason_ = ReadPrevious(job_.filePath, old)) == nullptr) {
            done =
                FetchDirectory(old, resume, fresh) && Build(old, fresh, resume ? resume->kept : 0);
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        NoteDeltaDownload(fetched_, done);
        LogEvent("delta", {{"result", done ? "ok" : "fallback"},
                           {"reason", reason_},
                           {"entries_copied", plan_.entriesCopied},
                           {"entries_fetched", plan_.entriesFetched},
                           {"bytes_copied", copied_},
                           {"bytes_fetched", fetched_},
                           {"requests", requests_},
                           {"seconds", took.count()},
                           {"kept", kept_},
                           {"error", error_ != 0 ? ErrorWithText(error_) : ""},
                           {"source", job_.target.mirror ? "mirror" : "origin"}});
        const bool unanswered =
            reason_ != nullptr && std::strcmp(reason_, "http-error") == 0 && fetched_ == 0;
        return {done, !done && unanswered};
    }

  private:
    bool Fail(const char* reason, DWORD error = 0) {
        reason_ = reason;
        error_ = error;
        return false;
    }

    void Report() {
        ProgressValues values = ComputeProgress(total_, inPlace_, fetched_, clock_.Seconds());
        values.remaining = values.speed > 0 ? static_cast<double>(fetchLeft_) / values.speed : 0;
        sink_.OnProgress(values.percent, FormatProgressText(values));
    }

    // Sends a ranged request ("first-last" or "-suffix"); the range the
    // server promised, when it answered 206 with a Content-Range.
    std::optional<ContentRange> OpenRange(const std::wstring& range, const std::wstring& validator,
                                          PinnedRequest& http) {
        RequestOptions options;
        options.timeouts = job_.timeouts;
        options.headersDeadlineMs = job_.headersDeadlineMs;
        options.acceptPartial = true;
        options.extraHeaders = L"Range: bytes=" + range;
        if (!validator.empty()) {
            options.extraHeaders += L"\r\nIf-Range: " + validator;
        }
        ++requests_;
        clock_.Start();
        std::optional<ContentRange> answered;
        if (!OpenRequest(job_.target, job_.path, options, http)) {
            Fail("http-error", http.error);
        } else if (http.status != HTTP_STATUS_PARTIAL_CONTENT) {
            // The server ignored the range, or the file is another one now.
            Fail("no-range");
        } else if (!(answered = ParseContentRange(
                         QueryHeaderText(http.request.get(), WINHTTP_QUERY_CONTENT_RANGE)))) {
            Fail("range-mismatch");
        }
        if (!answered) {
            clock_.Stop();
        }
        return answered;
    }

    // Reads up to `length` bytes of the body into `out`; the bytes read. Bytes
    // that go into the part count toward the progress line.
    template <typename Out>
    uint64_t Receive(PinnedRequest& http, uint64_t offset, uint64_t length, Out& out,
                     bool inPlace) {
        uint64_t received = 0;
        DWORD error = 0;
        while (received < length) {
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(http.request.get(), &available)) {
                error = GetLastError();
                break;
            }
            const DWORD wanted =
                static_cast<DWORD>(std::min<uint64_t>(available, length - received));
            DWORD read = 0;
            if (wanted == 0) {
                break;
            }
            if (!WinHttpReadData(http.request.get(), out.Reserve(wanted), wanted, &read)) {
                error = GetLastError();
                out.Commit(0);
                break;
            }
            out.Commit(read);
            if (read == 0) {
                break;
            }
            received += read;
            fetched_ += read;
            if (inPlace) {
                inPlace_ += read;
                fetchLeft_ -= std::min<uint64_t>(fetchLeft_, read);
                Report();
            }
        }
        clock_.Stop();
        if (received < length) {
            LogEvent("delta.cut", {{"offset", offset},
                                   {"received", received},
                                   {"wanted", length},
                                   {"error", error != 0 ? ErrorWithText(error) : ""}});
        }
        return received;
    }

    // The new archive's end record and central directory, from its end.
    bool FetchDirectory(const OldArchive& old, const std::optional<ResumeRecord>& resume,
                        NewArchive& fresh) {
        const uint64_t asked = std::min(
            old.location.size + old.location.commentBytes + kEndRecordBytes + kTailSlackBytes,
            kMaxDirectoryBytes);
        PinnedRequest http;
        const std::optional<ContentRange> range =
            OpenRange(L"-" + std::to_wstring(asked), resume ? resume->validator : L"", http);
        if (!range) {
            return false;
        }
        fresh.total = range->total;
        fresh.tailFrom = range->first;
        if (const char* refused = RefuseLength(range->total, job_.bound)) {
            clock_.Stop();
            LogEvent("delta.length", {{"total", range->total},
                                      {"bound", job_.bound.exact.value_or(job_.bound.most)}});
            return Fail(refused);
        }
        fresh.validator = ValidatorOf(http.request.get());
        if (range->last + 1 != range->total ||
            range->last - range->first + 1 != std::min(asked, range->total) ||
            (resume && (range->total != resume->total || fresh.validator != resume->validator))) {
            clock_.Stop();
            return Fail("range-mismatch");
        }
        if (fresh.validator.empty()) {
            clock_.Stop();
            return Fail("no-validator");
        }
        MemoryOut tail(fresh.tail);
        if (Receive(http, range->first, range->total - range->first, tail, false) <
            range->total - range->first) {
            return Fail("cut");
        }
        http.Close();
        const std::optional<zip::DirectoryLocation> location =
            zip::FindDirectory(fresh.tail, fresh.total);
        if (!location || location->size > kMaxDirectoryBytes) {
            return Fail("not-understood");
        }
        // Anything between the directory and the end record would have to be
        // read to reach the directory, and a hostile end record can put the
        // directory gigabytes before itself.
        if (location->offset + location->size != location->endOffset) {
            return Fail("directory-gap");
        }
        if (location->offset < fresh.tailFrom && !FetchDirectoryStart(*location, fresh)) {
            return false;
        }
        const std::span<const uint8_t> directory(
            fresh.tail.data() + (location->offset - fresh.tailFrom), location->size);
        std::optional<std::vector<zip::Entry>> entries = zip::ReadDirectory(directory, *location);
        if (!entries) {
            return Fail("not-understood");
        }
        fresh.location = *location;
        fresh.entries = std::move(*entries);
        return true;
    }

    // The part of a directory longer than the first request brought.
    bool FetchDirectoryStart(const zip::DirectoryLocation& location, NewArchive& fresh) {
        // Memory holds the directory and what followed it, never more.
        if (fresh.tailFrom - location.offset > kMaxDirectoryBytes) {
            return Fail("not-understood");
        }
        const uint64_t last = fresh.tailFrom - 1;
        PinnedRequest http;
        const std::optional<ContentRange> range = OpenRange(
            std::to_wstring(location.offset) + L"-" + std::to_wstring(last), fresh.validator, http);
        if (!range) {
            return false;
        }
        if (range->first != location.offset || range->last != last || range->total != fresh.total) {
            clock_.Stop();
            return Fail("range-mismatch");
        }
        std::vector<uint8_t> head;
        MemoryOut out(head);
        const uint64_t length = last - location.offset + 1;
        if (Receive(http, location.offset, length, out, false) < length) {
            return Fail("cut");
        }
        head.insert(head.end(), fresh.tail.begin(), fresh.tail.end());
        fresh.tail = std::move(head);
        fresh.tailFrom = location.offset;
        return true;
    }

    // Plans the bytes from `start` on and, when the plan is worth it, builds
    // the part from them.
    bool Build(OldArchive& old, const NewArchive& fresh, uint64_t start) {
        const uint64_t end = std::max(start, fresh.tailFrom);
        const std::vector<delta::Region> regions =
            delta::EntryRegions(fresh.entries, fresh.location.offset);
        plan_ = delta::PlanSpans(regions, old.usable, start, end, fresh.total - start);
        LogEvent("delta.plan", {{"offset", start},
                                {"total", fresh.total},
                                {"entries_copied", plan_.entriesCopied},
                                {"entries_fetched", plan_.entriesFetched},
                                {"bytes_copied", plan_.bytesCopied},
                                {"bytes_fetched", plan_.bytesFetched},
                                {"requests", plan_.requests},
                                {"decision", plan_.worthwhile ? "differential" : "full"}});
        if (!plan_.worthwhile) {
            return Fail("not-worth-it");
        }
        PartFile part;
        DWORD error = 0;
        if (!OpenPart(job_.partPath, start, part, error)) {
            part.file.reset();
            DiscardPart(job_.partPath);
            return Fail("write-error", error);
        }
        total_ = fresh.total;
        inPlace_ = start;
        fetchLeft_ = plan_.bytesFetched;
        const ResumeRecord record{job_.path, job_.sha256, fresh.validator, fresh.total, start};
        bool wrote = false;
        bool whole = false;
        uint64_t written = 0;
        {
            ChunkWriter writer(part.file.get(), part.hash,
                               [partPath = job_.partPath, record](uint64_t bytes) {
                                   ResumeRecord now = record;
                                   now.kept += bytes;
                                   SaveResumeRecord(partPath, now);
                               });
            whole = WriteSpans(old, fresh, end, writer);
            wrote = writer.Finish();
            written = writer.written();
            error = writer.error();
        }
        if (!wrote) {
            part.file.reset();
            DiscardPart(job_.partPath);
            return Fail("write-error", error);
        }
        if (!whole) {
            Keep(part, record, start + written);
            return false;
        }
        const Sha256Digest digest = part.hash.Finish();
        part.file.reset();
        if (start + written != fresh.total || !part.hash.ok() || digest != *job_.expected) {
            DiscardPart(job_.partPath);
            return Fail("digest-mismatch");
        }
        old.file.reset();
        RemoveResumeRecord(job_.partPath);
        if (!MoveFileExW(job_.partPath.c_str(), job_.filePath.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            error = GetLastError();
            // Something holds zel.zip: the verified part stays for the whole
            // download's next attempt, which only moves it, so its bytes must
            // be on disk before the record says so.
            ResumeRecord verified = record;
            verified.kept = fresh.total;
            if (!FlushPart(job_.partPath) || !SaveResumeRecord(job_.partPath, verified)) {
                DiscardPart(job_.partPath);
            }
            return Fail("write-error", error);
        }
        return true;
    }

    // What was written in order is the server's file up to there, so a
    // normal download may resume from it.
    void Keep(PartFile& part, ResumeRecord record, uint64_t kept) {
        if (kept > 0 && kept < record.total && FlushFileBuffers(part.file.get())) {
            record.kept = kept;
            part.file.reset();
            if (SaveResumeRecord(job_.partPath, record)) {
                kept_ = kept;
                return;
            }
        }
        part.file.reset();
        DiscardPart(job_.partPath);
    }

    bool WriteSpans(const OldArchive& old, const NewArchive& fresh, uint64_t end,
                    ChunkWriter& writer) {
        for (const delta::Span& span : plan_.spans) {
            // After a failed write (a full disk) the rest would only be thrown away.
            if (writer.failed() ||
                !(span.copy ? Copy(old, span, writer) : Fetch(fresh, span, writer))) {
                return false;
            }
        }
        // The end of the archive, in memory since the first requests.
        for (size_t at = static_cast<size_t>(end - fresh.tailFrom); at < fresh.tail.size();) {
            const size_t bytes = std::min<size_t>(kBlockBytes, fresh.tail.size() - at);
            std::memcpy(writer.Reserve(bytes), fresh.tail.data() + at, bytes);
            writer.Commit(bytes);
            at += bytes;
            inPlace_ += bytes;
            Report();
        }
        return true;
    }

    bool Copy(const OldArchive& old, const delta::Span& span, ChunkWriter& writer) {
        if (span.from + span.length > old.size) {
            return Fail("previous-not-understood");
        }
        for (uint64_t done = 0; done < span.length && !writer.failed();) {
            const DWORD bytes =
                static_cast<DWORD>(std::min<uint64_t>(kBlockBytes, span.length - done));
            if (!ReadAt(old.file.get(), span.from + done, writer.Reserve(bytes), bytes)) {
                const DWORD error = GetLastError();
                writer.Commit(0);
                return Fail("previous-read-error", error);
            }
            writer.Commit(bytes);
            done += bytes;
            copied_ += bytes;
            inPlace_ += bytes;
            Report();
        }
        return true;
    }

    // Fetches a span with single ranges; a cut one is asked for again from
    // where it stopped, after the same pause as a whole download's attempts.
    bool Fetch(const NewArchive& fresh, const delta::Span& span, ChunkWriter& writer) {
        const uint64_t last = span.offset + span.length - 1;
        uint64_t got = 0;
        int idle = 0;
        while (got < span.length) {
            if (idle >= kIdleRequestsAllowed || requests_ >= kMaxRequestsInAll) {
                return reason_ != nullptr ? false : Fail("cut");
            }
            if (got > 0 || idle > 0) {
                Sleep(job_.retryPauseMs);
            }
            const uint64_t first = span.offset + got;
            PinnedRequest http;
            reason_ = nullptr;
            const std::optional<ContentRange> range = OpenRange(
                std::to_wstring(first) + L"-" + std::to_wstring(last), fresh.validator, http);
            if (!range && std::string_view(reason_) == "http-error") {
                ++idle;
                continue;
            }
            if (!range) {
                return false;
            }
            if (range->first != first || range->last != last || range->total != fresh.total) {
                clock_.Stop();
                return Fail("range-mismatch");
            }
            const uint64_t received = Receive(http, first, last - first + 1, writer, true);
            got += received;
            idle = received > 0 ? 0 : idle + 1;
        }
        reason_ = nullptr;
        error_ = 0;
        return true;
    }

    const DeltaJob& job_;
    DownloadSink& sink_;
    delta::Plan plan_;
    NetworkClock clock_;
    uint64_t total_ = 0;
    uint64_t inPlace_ = 0;    // bytes of the new archive in the part
    uint64_t fetchLeft_ = 0;  // planned bytes not fetched yet
    uint64_t fetched_ = 0;    // bytes that came over the network
    uint64_t copied_ = 0;
    uint64_t kept_ = 0;  // bytes a normal download may resume from
    int requests_ = 0;
    const char* reason_ = nullptr;
    DWORD error_ = 0;
};

}  // namespace

DeltaOutcome DownloadDelta(const DeltaJob& job, DownloadSink& sink) {
    return DeltaRun(job, sink).Run();
}
