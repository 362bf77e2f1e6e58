// One short line to the vendor's server after each update attempt, so that a
// vendor with many offices learns which releases fail where. It carries the
// office's random id, the versions, how the attempt ended and how the archive
// came; no names, paths or anything of the machine. It is sent only as the
// updater ends, once the application has been started, within a 2 s budget,
// and nothing of it is ever shown.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "common/log.h"

// Turned on by a build that sends reports; otherwise nothing is noted or sent.
void EnableUpdateReports();

// Facts of the attempt under way, as its steps learn them.
// One download attempt (or the differential download): bytes from the
// network, and how it ended (the "end" field of its log line).
void NoteDownloadAttempt(uint64_t bytes, std::initializer_list<LogField> fields);
void NoteDeltaDownload(uint64_t bytes, bool used);
// Where the archive came from: "mirror" or "origin".
void NoteDownloadSource(const char* source);
void NoteUnpackWay(const char* way);
void NoteSelfUpdate(const char* result);
void NoteApplicationStarted(DWORD pid);

// The attempt ended: installed, refused or failed, at a stage (check,
// signature, download, unpack, swap, start, self-update) for a cause (a short
// token). "installed" becomes a failure at self-update when the updater's own
// replacement failed.
void NoteAttempt(const char* result, const char* stage, const char* cause);

struct ReportFields {
    std::string office, from, to, result, stage, cause, way;
    uint64_t bytes = 0;
    bool delta = false;
    const char* source = "origin";
};
// The request's path and query; every value percent-encoded.
std::wstring BuildReportPath(const ReportFields& fields);

// Sends what was noted, after the started application is ready for input
// (at most a few seconds), all within one 2 s budget; logged as report.
void SendUpdateReports() noexcept;
